// zstd frames of the chunk store: what goes in comes out, and a frame that
// does not hold exactly what its chunk lists is refused without unpacking
// more than that.
#include "Zstd.h"

#include <gtest/gtest.h>
#include <zstd.h>

#include <memory>
#include <random>
#include <string>

namespace {

std::string Noise(std::size_t size) {
    std::mt19937 random(11);
    std::string data(size, '\0');
    for (char& c : data)
        c = static_cast<char>(random());
    return data;
}

// A frame of `mib` MiB of zeros that does not say how much it holds, made a
// MiB at a time.
std::string Bomb(int mib) {
    const std::unique_ptr<ZSTD_CCtx, size_t (*)(ZSTD_CCtx*)> context(ZSTD_createCCtx(),
                                                                     ZSTD_freeCCtx);
    ZSTD_CCtx_setParameter(context.get(), ZSTD_c_contentSizeFlag, 0);
    const std::string zeros(1 << 20, '\0');
    std::string frame(ZSTD_CStreamOutSize(), '\0'), bomb;
    for (int i = 0; i < mib; ++i) {
        ZSTD_inBuffer in{zeros.data(), zeros.size(), 0};
        const ZSTD_EndDirective mode = i + 1 < mib ? ZSTD_e_continue : ZSTD_e_end;
        std::size_t left = 0;
        do {
            ZSTD_outBuffer out{frame.data(), frame.size(), 0};
            left = ZSTD_compressStream2(context.get(), &out, &in, mode);
            EXPECT_FALSE(ZSTD_isError(left));
            bomb.append(frame.data(), out.pos);
        } while (in.pos < in.size || (mode == ZSTD_e_end && left != 0));
    }
    return bomb;
}

TEST(ZstdTest, ContentComesBackAsItWent) {
    for (const std::string& data :
         {std::string(), std::string("a"), Noise(300000), std::string(1 << 20, 'q')}) {
        const std::string frame = ZstdCompress(data, 3);
        EXPECT_EQ(ZstdDecompressExact(frame, data.size()), data);
    }
    EXPECT_LT(ZstdCompress(std::string(1 << 20, 'q'), 3).size(), 1000u);
}

TEST(ZstdTest, AFrameThatDoesNotHoldWhatItsChunkListsIsRefused) {
    const std::string data = Noise(100000) + std::string(100000, 'z');
    const std::string frame = ZstdCompress(data, 3);
    const auto refused = [](const std::string& bytes, std::size_t size, const char* why) {
        try {
            ZstdDecompressExact(bytes, size);
            ADD_FAILURE() << "taken: " << why;
        } catch (const EZstdError& error) {
            EXPECT_NE(std::string(error.what()), "") << why;
        }
    };
    refused(frame, data.size() - 1, "listed shorter than it is");
    refused(frame, data.size() + 1, "listed longer than it is");
    refused(frame.substr(0, frame.size() - 10), data.size(), "cut short");
    refused(frame + frame, data.size(), "two frames");
    refused(data.substr(0, 1000), 1000, "not zstd at all");
    std::string damaged = frame;
    damaged[damaged.size() / 2] = static_cast<char>(damaged[damaged.size() / 2] ^ 0x40);
    refused(damaged, data.size(), "damaged inside");

    // A bomb: a small frame of many zeros that does not say how many, listed
    // as a small chunk.
    const std::string bomb = Bomb(64);
    EXPECT_LT(bomb.size(), 100000u);
    refused(bomb, 4096, "a bomb");
}

} // namespace
