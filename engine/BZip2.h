// Decompression of bzip2 data as a read-only stream over libbz2.
#pragma once

#include "Errors.h"
#include "Limits.h"
#include "Streams.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

class EBZip2Error : public Exception {
public:
    using Exception::Exception;
};
class EBZCompressionError : public EBZip2Error {
public:
    using EBZip2Error::EBZip2Error;
};
class EBZDecompressionError : public EBZip2Error {
public:
    using EBZip2Error::EBZip2Error;
};

// A copy that unpacked whole to content other than its entry's digests
// describe: the copy's fault, not the disk's.
class EContentMismatch : public EInOutError {
public:
    using EInOutError::EInOutError;
};

class TCustomBZip2Stream : public TStream {
public:
    // Called after every decompression step.
    void SetOnProgress(std::function<void()> handler) { FOnProgress = std::move(handler); }

protected:
    explicit TCustomBZip2Stream(TStream& source);
    ~TCustomBZip2Stream() override;
    void Progress();

    // The library's stream record, kept out of this header: the library's own
    // header brings in the whole of windows.h on Windows.
    struct BZRecord;

    TStream& FStrm;        // the compressed source, not owned
    std::int64_t FStrmPos; // the source position after the last refill
    std::function<void()> FOnProgress;
    std::unique_ptr<BZRecord> FBZRec;
};

// Reads the decompressed content of one bzip2 stream from its source. The
// position is the number of bytes produced; position 0 restarts from the
// source's start, forward moves read and discard, other seeks are refused.
class TBZDecompressionStream : public TCustomBZip2Stream {
public:
    explicit TBZDecompressionStream(TStream& source);
    ~TBZDecompressionStream() override;

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

    // Whether the end of the bzip2 stream was reached: a source that runs out
    // before it holds a cut-off copy.
    bool StreamEnded() const { return FEnded; }

    static constexpr std::size_t kBufferSize = 65536;

private:
    void Start();

    std::unique_ptr<char[]> FBuffer;
    std::int64_t FStartPos;
    bool FEnded = false;
};

// Unpacks a whole downloaded copy: decompresses the one bzip2 stream of
// `source` in blocks of 65536 bytes and hands each block to `write`. A copy
// that ends before its stream does raises EBZCompressionError; when
// `expectedDigest` (MD5) or `expectedSha256` is given, content without that
// digest raises EInOutError naming `name`, and so does content longer than
// `maxContent`, of which nothing beyond the bound is handed on. `onStep`
// runs after every decompression step, and `proceed` before every block is
// handed on, with the block's size: false sets the unpacking aside there, and
// UnpackCopy returns false (what was handed on is then no content); to fail
// it, it raises. True: the whole content was handed on and verified.
bool UnpackCopy(TStream& source, const std::function<void(const char*, std::size_t)>& write,
                const std::string& expectedDigest, const std::string& expectedSha256,
                const std::string& name, const limits::TSizeLimit& maxContent,
                const std::function<void()>& onStep,
                const std::function<bool(std::size_t)>& proceed);
