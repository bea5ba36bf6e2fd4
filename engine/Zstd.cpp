#include "Zstd.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <memory>

namespace {

struct FreeContext {
    void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

// Each thread keeps its contexts: making one for every chunk costs more than
// the chunk's own work.
ZSTD_DCtx* DecompressionContext() {
    thread_local std::unique_ptr<ZSTD_DCtx, FreeContext> context(ZSTD_createDCtx());
    return context.get();
}

ZSTD_CCtx* CompressionContext() {
    thread_local std::unique_ptr<ZSTD_CCtx, FreeContext> context(ZSTD_createCCtx());
    return context.get();
}

} // namespace

std::string ZstdCompress(std::string_view data, int level) {
    ZSTD_CCtx* context = CompressionContext();
    if (context == nullptr)
        throw EZstdError("zstd: no memory for a compression context");
    ZSTD_CCtx_reset(context, ZSTD_reset_session_and_parameters);
    ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, level);
    ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
    ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, 1);
    std::string frame(ZSTD_compressBound(data.size()), '\0');
    const std::size_t written =
        ZSTD_compress2(context, frame.data(), frame.size(), data.data(), data.size());
    if (ZSTD_isError(written))
        throw EZstdError(std::string("zstd: ") + ZSTD_getErrorName(written));
    frame.resize(written);
    return frame;
}

std::string ZstdDecompressExact(std::string_view frame, std::size_t size) {
    const std::size_t whole = ZSTD_findFrameCompressedSize(frame.data(), frame.size());
    if (ZSTD_isError(whole) || whole != frame.size())
        throw EZstdError("not one whole zstd frame");
    const unsigned long long announced = ZSTD_getFrameContentSize(frame.data(), frame.size());
    if (announced != ZSTD_CONTENTSIZE_UNKNOWN && announced != size)
        throw EZstdError("the zstd frame holds " + std::to_string(announced) + " bytes, not " +
                         std::to_string(size));
    ZSTD_DCtx* context = DecompressionContext();
    if (context == nullptr)
        throw EZstdError("zstd: no memory for a decompression context");
    ZSTD_DCtx_reset(context, ZSTD_reset_session_and_parameters);
    std::string content(size, '\0');
    const std::size_t written =
        ZSTD_decompressDCtx(context, content.data(), content.size(), frame.data(), frame.size());
    if (ZSTD_isError(written)) {
        if (ZSTD_getErrorCode(written) == ZSTD_error_dstSize_tooSmall)
            throw EZstdError("the zstd frame holds more than " + std::to_string(size) + " bytes");
        throw EZstdError(std::string("damaged zstd frame: ") + ZSTD_getErrorName(written));
    }
    if (written != size)
        throw EZstdError("the zstd frame holds " + std::to_string(written) + " bytes, not " +
                         std::to_string(size));
    return content;
}
