#include "FileTransfer.h"

#include "BZip2.h"
#include "Errors.h"
#include "Files.h"
#include "ScopeGuard.h"
#include "Streams.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>

namespace {

constexpr std::size_t kDownloadBlock = 1024;

void RemoveFile(const std::string& path) {
    std::error_code error;
    std::filesystem::remove(platform::FsPath(path), error);
}

} // namespace

std::string DescribedError(const std::exception& error) {
    if (dynamic_cast<const EBZip2Error*>(&error))
        return std::string("the compressed copy cannot be unpacked (bzip2 ") + error.what() + ")";
    return ErrorForLog(error);
}

std::string WithFetchFailure(const std::string& failure, const std::string& fetchFailure) {
    return fetchFailure.empty() ? failure : fetchFailure + "; " + failure;
}

TFileTransfer::TFileTransfer(TNotifier& notifier, platform::HttpOptions http, TRetryPolicy retry,
                             TStopSignal* stop)
    : notifier_(notifier), http_(std::move(http)), retry_(retry), stop_(stop) {}

void TFileTransfer::CheckAborted() const {
    if (Aborted())
        throw Exception("The update was stopped");
}

TFetch TFileTransfer::NewFetch(platform::HttpOptions http) {
    if (!connection_)
        connection_ = std::make_unique<platform::HttpConnection>();
    http.cancelled = [this] { return Aborted(); };
    return TFetch(
        *connection_, std::move(http), retry_,
        [this](const std::string& note) { notifier_.ShowRetry(note); }, stop_);
}

TFetchResult TFileTransfer::Fetch(const std::string& url, const TFetchSink& sink) {
    return NewFetch(http_).Get(url, sink);
}

TFileTransfer::Downloaded TFileTransfer::Download(const std::string& url, const std::string& target,
                                                  bool progress, const limits::TSizeLimit& limit) {
    TFetch fetch = NewFetch(http_);
    std::unique_ptr<TFileStream> file;
    std::int64_t received = 0;
    // The body is handed on in whole blocks of 1024 bytes (the last one may
    // be shorter), whatever pieces the network delivers.
    char block[kDownloadBlock];
    std::size_t filled = 0;
    const auto handOn = [&] {
        file->Write(block, filled);
        if (progress) {
            received += static_cast<std::int64_t>(filled);
            notifier_.SetFileProgress(received);
        }
        filled = 0;
    };
    TFetchSink sink;
    std::int64_t body = 0; // of the body in the file, the block included
    std::optional<std::chrono::steady_clock::time_point> firstByte;
    sink.restart = [&] {
        firstByte.reset();
        // A body from its start: what came before is dropped.
        file.reset();
        file = std::make_unique<TFileStream>(target, TFileStream::Mode::fmCreate);
        filled = 0;
        body = 0;
        if (received > 0) {
            received = 0;
            notifier_.SetFileProgress(0);
        }
    };
    sink.data = [&](const char* data, std::size_t size) {
        if (!firstByte)
            firstByte = std::chrono::steady_clock::now();
        body += static_cast<std::int64_t>(size);
        if (limit.Passed(body))
            throw LimitPassed(url, fetch.AnswerStatus(), limit);
        while (size > 0) {
            const std::size_t piece = std::min(size, kDownloadBlock - filled);
            std::memcpy(block + filled, data, piece);
            filled += piece;
            data += piece;
            size -= piece;
            if (filled == kDownloadBlock)
                handOn();
        }
    };
    Downloaded outcome;
    {
        // Nothing of a transfer that broke off is kept.
        ScopeGuard drop([&] {
            file.reset();
            if (!target.empty())
                RemoveFile(target);
        });
        try {
            const TFetchResult result = fetch.Get(url, sink);
            if (firstByte)
                outcome.bodySeconds =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - *firstByte)
                        .count();
            outcome.opened = result.opened;
            outcome.failure = FetchFailure(url, result);
        } catch (const limits::ELimitPassed& e) {
            outcome.passedLimit = true;
            outcome.failure = e.what();
            return outcome;
        }
        if (outcome.opened && file)
            drop.Dismiss();
    }
    if (outcome.opened && file) {
        if (filled > 0)
            handOn();
        if (progress) // the read that finds the end of the body
            notifier_.SetFileProgress(received);
        file->Close();
    } else {
        outcome.opened = false; // a body of an answer that was then given up
    }
    notifier_.SetFileProgress(0);
    return outcome;
}

void TFileTransfer::Unpack(const std::string& compressed, const std::string& target,
                           const std::string& expectedDigest, const std::string& expectedSha256,
                           const limits::TSizeLimit& maxContent) {
    auto source = std::make_unique<TFileStream>(compressed, TFileStream::Mode::fmOpenRead);
    // The copy is gone afterwards, whatever became of it.
    ScopeGuard removeCopy([&] {
        source.reset();
        RemoveFile(compressed);
    });
    platform::AtomicFile output(target);
    std::exception_ptr error;
    try {
        notifier_.SetGaugeMax(TRunGauge::File, source->Size());
        UnpackCopy(
            *source, [&](const char* data, std::size_t size) { output.Write(data, size); },
            expectedDigest, expectedSha256, target, maxContent,
            [&] { notifier_.SetFileProgress(source->Position()); },
            [this](std::size_t) {
                CheckAborted();
                return true;
            });
    } catch (...) {
        error = std::current_exception();
    }
    try {
        notifier_.SetFileProgress(0);
    } catch (...) {
        if (!error)
            error = std::current_exception();
    }
    removeCopy.Run();
    if (error) {
        output.Discard();
        std::rethrow_exception(error);
    }
    output.Commit();
}
