#include "Compressor.h"

#include "PublishErrors.h"
#include "PublishFiles.h"

#include <bzlib.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

namespace publish {
namespace {

constexpr int kBZBlockSize = 9;

// Compresses the data passing through it into `out`.
class Compressor {
public:
    explicit Compressor(OutputFile& out) : out_(out), buffer_(new char[kBlockSize]) {
        std::memset(&stream_, 0, sizeof stream_);
        const int result = BZ2_bzCompressInit(&stream_, kBZBlockSize, 0, 0);
        if (result != BZ_OK)
            throw EPublishError("bzip2 compression cannot start (error " + std::to_string(result) +
                                ")");
    }
    ~Compressor() { BZ2_bzCompressEnd(&stream_); }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    void Add(const char* data, std::size_t size) {
        stream_.next_in = const_cast<char*>(data);
        stream_.avail_in = static_cast<unsigned int>(size);
        while (stream_.avail_in > 0)
            Step(BZ_RUN);
    }

    // Writes the end of the compressed stream; the caller finishes `out`.
    void Finish() {
        while (Step(BZ_FINISH) != BZ_STREAM_END) {
        }
    }

private:
    int Step(int action) {
        stream_.next_out = buffer_.get();
        stream_.avail_out = static_cast<unsigned int>(kBlockSize);
        const int result = BZ2_bzCompress(&stream_, action);
        if (result < 0)
            throw EPublishError("bzip2 compression failed (error " + std::to_string(result) + ")");
        out_.Write(buffer_.get(), kBlockSize - stream_.avail_out);
        return result;
    }

    OutputFile& out_;
    std::unique_ptr<char[]> buffer_;
    bz_stream stream_;
};

} // namespace

ContentInfo CompressFile(const std::filesystem::path& source, const std::filesystem::path& target,
                         const std::atomic<bool>* cancel, const std::atomic<bool>& failed,
                         const std::function<void(std::size_t)>& onBlock) {
    OutputFile out(target);
    Compressor bz(out);
    const ContentInfo info =
        ReadContent(source, cancel, failed, [&](const char* data, std::size_t n) {
            bz.Add(data, n);
            if (onBlock)
                onBlock(n);
        });
    bz.Finish();
    out.Finish();
    return info;
}

void CompressText(const std::string& text, const std::filesystem::path& target) {
    OutputFile out(target);
    Compressor bz(out);
    for (std::size_t at = 0; at < text.size(); at += kBlockSize)
        bz.Add(text.data() + at, std::min(kBlockSize, text.size() - at));
    bz.Finish();
    out.Finish();
}

} // namespace publish
