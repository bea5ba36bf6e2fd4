#include "Zstd.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <memory>
#include <mutex>
#include <vector>

namespace {

struct FreeContext {
    void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

// Contexts are kept for the next chunk: making one for every chunk costs more
// than the chunk's own work. They wait in a pool rather than in each thread's
// own storage, whose destructors the Windows build's thread library runs
// unreliably at thread exit.
template <typename Context> class ContextPool {
public:
    using Owned = std::unique_ptr<Context, FreeContext>;

    // A context for the caller alone until it is given back; null when
    // there is no memory for one.
    Owned Take(Context* (*make)()) {
        {
            std::lock_guard lock(mutex_);
            if (!free_.empty()) {
                Owned context = std::move(free_.back());
                free_.pop_back();
                return context;
            }
        }
        return Owned(make());
    }

    void Give(Owned context) {
        std::lock_guard lock(mutex_);
        if (context && free_.size() < kKept)
            free_.push_back(std::move(context));
    }

private:
    static constexpr std::size_t kKept = 64; // more than threads ever work at once
    std::mutex mutex_;
    std::vector<Owned> free_;
};

// Takes a context from its pool for a scope, and gives it back at its end.
template <typename Context> class Borrowed {
public:
    Borrowed(ContextPool<Context>& pool, Context* (*make)())
        : pool_(pool), context_(pool.Take(make)) {}
    ~Borrowed() { pool_.Give(std::move(context_)); }
    Borrowed(const Borrowed&) = delete;
    Borrowed& operator=(const Borrowed&) = delete;
    Context* get() const { return context_.get(); }

private:
    ContextPool<Context>& pool_;
    typename ContextPool<Context>::Owned context_;
};

ContextPool<ZSTD_CCtx>& CompressionContexts() {
    static ContextPool<ZSTD_CCtx> pool;
    return pool;
}

ContextPool<ZSTD_DCtx>& DecompressionContexts() {
    static ContextPool<ZSTD_DCtx> pool;
    return pool;
}

} // namespace

std::string ZstdCompress(std::string_view data, int level) {
    const Borrowed<ZSTD_CCtx> borrowed(CompressionContexts(), ZSTD_createCCtx);
    ZSTD_CCtx* context = borrowed.get();
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
    const Borrowed<ZSTD_DCtx> borrowed(DecompressionContexts(), ZSTD_createDCtx);
    ZSTD_DCtx* context = borrowed.get();
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
