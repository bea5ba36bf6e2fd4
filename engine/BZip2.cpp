#include "BZip2.h"

#include "md5.h"

#include <bzlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

namespace {

void* BZAlloc(void*, int count, int size) {
    if (count <= 0 || size <= 0)
        return nullptr;
    return std::calloc(static_cast<std::size_t>(count), static_cast<std::size_t>(size));
}

void BZFree(void*, void* block) {
    std::free(block);
}

std::string ErrorText(int code) {
    return "error " + std::to_string(code);
}

} // namespace

struct TCustomBZip2Stream::BZRecord : bz_stream {};

TCustomBZip2Stream::TCustomBZip2Stream(TStream& source)
    : FStrm(source), FStrmPos(source.Position()), FBZRec(std::make_unique<BZRecord>()) {}

TCustomBZip2Stream::~TCustomBZip2Stream() = default;

void TCustomBZip2Stream::Progress() {
    if (FOnProgress)
        FOnProgress();
}

TBZDecompressionStream::TBZDecompressionStream(TStream& source)
    : TCustomBZip2Stream(source), FBuffer(new char[kBufferSize]), FStartPos(FStrmPos) {
    Start();
}

TBZDecompressionStream::~TBZDecompressionStream() {
    BZ2_bzDecompressEnd(FBZRec.get());
}

void TBZDecompressionStream::Start() {
    std::memset(static_cast<bz_stream*>(FBZRec.get()), 0, sizeof(bz_stream));
    FBZRec->bzalloc = &BZAlloc;
    FBZRec->bzfree = &BZFree;
    const int result = BZ2_bzDecompressInit(FBZRec.get(), 0, 0);
    if (result != BZ_OK)
        throw EBZDecompressionError(ErrorText(result));
    FEnded = false;
}

std::size_t TBZDecompressionStream::Read(void* buffer, std::size_t count) {
    FBZRec->next_out = static_cast<char*>(buffer);
    FBZRec->avail_out = static_cast<unsigned int>(count);
    if (FStrm.Position() != FStrmPos)
        FStrm.Seek(FStrmPos, TSeekOrigin::soBeginning);
    while (FBZRec->avail_out > 0) {
        if (FBZRec->avail_in == 0) {
            const std::size_t got = FStrm.Read(FBuffer.get(), kBufferSize);
            if (got == 0)
                return count - FBZRec->avail_out;
            FBZRec->next_in = FBuffer.get();
            FBZRec->avail_in = static_cast<unsigned int>(got);
            FStrmPos = FStrm.Position();
        }
        // Input after the end of the stream: the library refuses the step.
        const int result = FEnded ? BZ_SEQUENCE_ERROR : BZ2_bzDecompress(FBZRec.get());
        if (result < 0)
            throw EBZCompressionError(ErrorText(result));
        if (result == BZ_STREAM_END)
            FEnded = true;
        Progress();
    }
    return count;
}

std::size_t TBZDecompressionStream::Write(const void*, std::size_t) {
    throw EBZDecompressionError("Invalid stream operation");
}

std::int64_t TBZDecompressionStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    const auto position = [this] {
        return static_cast<std::int64_t>(
            (static_cast<std::uint64_t>(FBZRec->total_out_hi32) << 32) | FBZRec->total_out_lo32);
    };
    if (origin == TSeekOrigin::soBeginning && offset == 0) {
        BZ2_bzDecompressEnd(FBZRec.get());
        FStrm.Seek(FStartPos, TSeekOrigin::soBeginning);
        FStrmPos = FStartPos;
        Start();
        return 0;
    }
    const std::int64_t here = position();
    std::int64_t target;
    if (origin == TSeekOrigin::soCurrent && offset >= 0)
        target = here + offset;
    else if (origin == TSeekOrigin::soBeginning && offset > here)
        target = offset;
    else
        throw EBZDecompressionError("Invalid stream operation");
    char discard[4096];
    while (position() < target) {
        const auto piece = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(sizeof discard), target - position()));
        if (Read(discard, piece) < piece)
            break;
    }
    return position();
}

bool UnpackCopy(TStream& source, const std::function<void(const char*, std::size_t)>& write,
                const std::string& expectedDigest, const std::string& expectedSha256,
                const std::string& name, const limits::TSizeLimit& maxContent,
                const std::function<void()>& onStep,
                const std::function<bool(std::size_t)>& proceed) {
    TBZDecompressionStream stream(source);
    stream.SetOnProgress(onStep);
    TMD5 digest;
    std::optional<TSHA256> sha256;
    if (!expectedSha256.empty())
        sha256.emplace();
    std::unique_ptr<char[]> buffer(new char[TBZDecompressionStream::kBufferSize]);
    std::int64_t total = 0;
    while (const std::size_t n = stream.Read(buffer.get(), TBZDecompressionStream::kBufferSize)) {
        if (proceed && !proceed(n))
            return false;
        total += static_cast<std::int64_t>(n);
        if (maxContent.Passed(total))
            throw limits::ELimitPassed("The new content of \"" + name + "\" is longer than " +
                                       maxContent.text + "; unpacking stopped there");
        write(buffer.get(), n);
        if (!expectedDigest.empty())
            digest.Update(buffer.get(), n);
        if (sha256)
            sha256->Update(buffer.get(), n);
    }
    if (!stream.StreamEnded())
        throw EBZCompressionError("error " + std::to_string(BZ_UNEXPECTED_EOF));
    if (!expectedDigest.empty()) {
        const std::string got = digest.FinalText();
        if (got != expectedDigest)
            throw EContentMismatch("The new content of \"" + name +
                                   "\" does not match its digest: MD5 " + expectedDigest +
                                   " expected, " + got + " got");
    }
    if (sha256) {
        const std::string got = sha256->FinalText();
        if (got != expectedSha256)
            throw EContentMismatch("The new content of \"" + name +
                                   "\" does not match its digest: SHA-256 " + expectedSha256 +
                                   " expected, " + got + " got");
    }
    return true;
}
