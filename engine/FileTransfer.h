// The run's transfers of single files on its own kept-open connection: the
// manifest, its signature and the launcher's build. Each is fetched to a file
// (or, for the signature, into memory) with the file gauge showing the bytes
// received, and a copy is unpacked into its target with the gauge showing
// the compressed bytes read. The entries of the file check have their own
// transfers ahead of the installer (WorkAhead).
#pragma once

#include "Fetch.h"
#include "Http.h"
#include "Limits.h"
#include "Notifier.h"
#include "StopSignal.h"

#include <exception>
#include <functional>
#include <memory>
#include <string>

// An error as the log gives it: damaged compressed data says so, whose own
// text is only the library's code.
std::string DescribedError(const std::exception& error);

// A failure's text, with what its download went through when that went
// wrong too (an error page unpacked, a body cut short): that is the cause.
std::string WithFetchFailure(const std::string& failure, const std::string& fetchFailure);

class TFileTransfer {
public:
    // An abort request of `stop` cuts a transfer, its pauses or an unpacking.
    TFileTransfer(TNotifier& notifier, platform::HttpOptions http, TRetryPolicy retry = {},
                  TStopSignal* stop = nullptr);

    // What became of a download.
    struct Downloaded {
        // Some try opened the address, and the target holds the body it gave.
        bool opened = false;
        // The body passed the download's limit; nothing of it is kept.
        bool passedLimit = false;
        // From the first byte of the body kept to its end: how fast the line
        // brought it, without the connection's setup and the server's wait.
        double bodySeconds = 0;
        // What went wrong (see FetchFailure), or the limit passed; empty:
        // nothing.
        std::string failure;
    };

    // Fetches `url` into `target`, with the file gauge showing the bytes
    // received when `progress`. A body longer than `limit` is given up as
    // soon as it passes it. The target is kept only for an answer that was
    // opened; raises what the file or the transfer raises (a target that
    // cannot be written, an abort).
    Downloaded Download(const std::string& url, const std::string& target, bool progress,
                        const limits::TSizeLimit& limit = {});
    // Fetches `url` into a sink of the caller's, on the same connection.
    TFetchResult Fetch(const std::string& url, const TFetchSink& sink);

    // Decompresses `compressed` into `target` and deletes `compressed`. The
    // target is replaced only by complete content, and, when a digest is
    // given, only by content with that digest; content longer than
    // `maxContent` raises limits::ELimitPassed without being written beyond it.
    void Unpack(const std::string& compressed, const std::string& target,
                const std::string& expectedDigest = {}, const std::string& expectedSha256 = {},
                const limits::TSizeLimit& maxContent = {});

private:
    void CheckAborted() const;
    TFetch NewFetch(platform::HttpOptions http);

    TNotifier& notifier_;
    platform::HttpOptions http_;
    TRetryPolicy retry_;
    bool Aborted() const { return stop_ && stop_->AbortRequested(); }

    TStopSignal* stop_;
    std::unique_ptr<platform::HttpConnection> connection_;
};
