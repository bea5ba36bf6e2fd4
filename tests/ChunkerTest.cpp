// Content-defined cuts: within their bounds, the same however the bytes are
// handed over, and moved by an edit only near it.
#include "Chunker.h"
#include "md5.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> Noise(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<unsigned char> data(size);
    for (unsigned char& byte : data)
        byte = static_cast<unsigned char>(random());
    return data;
}

std::vector<std::size_t> Lengths(const TChunker& chunker, const std::vector<unsigned char>& data) {
    std::vector<std::size_t> lengths;
    ForEachChunk(chunker, data.data(), data.size(),
                 [&](std::size_t, std::size_t length) { lengths.push_back(length); });
    return lengths;
}

std::multiset<std::string> ChunkDigests(const TChunker& chunker,
                                        const std::vector<unsigned char>& data) {
    std::multiset<std::string> digests;
    ForEachChunk(chunker, data.data(), data.size(), [&](std::size_t offset, std::size_t length) {
        digests.insert(DigestText(data.data() + offset, length));
    });
    return digests;
}

const TChunkSizes kSmall{1024, 4096, 16384};

TEST(ChunkerTest, SizesOutsideWhatTheChunkerTakesAreNamed) {
    EXPECT_EQ(TChunkSizes{}.Problem(), "");
    EXPECT_EQ(kSmall.Problem(), "");
    EXPECT_NE((TChunkSizes{32, 4096, 16384}).Problem(), "");
    EXPECT_NE((TChunkSizes{1024, 3000, 16384}).Problem(), "");
    EXPECT_NE((TChunkSizes{8192, 4096, 16384}).Problem(), "");
    EXPECT_NE((TChunkSizes{1024, 4096, 4096}).Problem(), "");
    EXPECT_NE((TChunkSizes{1024, 4096, 32u << 20}).Problem(), "");
}

TEST(ChunkerTest, ChunksStayWithinTheirBoundsAndAverageNearTheGoal) {
    const TChunker chunker(kSmall);
    const std::vector<unsigned char> data = Noise(4 << 20, 1);
    const std::vector<std::size_t> lengths = Lengths(chunker, data);
    std::size_t total = 0;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        total += lengths[i];
        EXPECT_LE(lengths[i], kSmall.max);
        if (i + 1 < lengths.size()) {
            EXPECT_GE(lengths[i], kSmall.min);
        }
    }
    EXPECT_EQ(total, data.size());
    const double mean = static_cast<double>(total) / static_cast<double>(lengths.size());
    EXPECT_GT(mean, kSmall.avg * 0.75);
    EXPECT_LT(mean, kSmall.avg * 1.5);

    // Content that repeats itself is cut the same way each time; nothing is
    // empty.
    const std::vector<std::size_t> zeros = Lengths(chunker, std::vector<unsigned char>(100000, 0));
    ASSERT_GE(zeros.size(), 2u);
    for (std::size_t i = 0; i + 1 < zeros.size(); ++i)
        EXPECT_EQ(zeros[i], zeros[0]);
    EXPECT_GT(zeros.back(), 0u);
    EXPECT_TRUE(Lengths(chunker, {}).empty());
}

TEST(ChunkerTest, CutsDoNotDependOnHowTheBytesAreHandedOver) {
    const TChunker chunker(kSmall);
    const std::vector<unsigned char> data = Noise(300000, 2);
    const std::vector<std::size_t> whole = Lengths(chunker, data);
    // A stream read in pieces of odd sizes, cut as soon as a cut is certain.
    for (const std::size_t piece : {std::size_t{1000}, std::size_t{4097}, std::size_t{20000}}) {
        std::vector<std::size_t> streamed;
        std::size_t start = 0, have = 0;
        while (start < data.size()) {
            const bool atEnd = have == data.size();
            const std::size_t length = chunker.Cut(data.data() + start, have - start, atEnd);
            if (length == 0) {
                ASSERT_FALSE(atEnd);
                ASSERT_LT(have - start, kSmall.max); // given max bytes, it answers
                have = std::min(data.size(), have + piece);
                continue;
            }
            streamed.push_back(length);
            start += length;
        }
        EXPECT_EQ(streamed, whole) << "pieces of " << piece;
    }
}

TEST(ChunkerTest, AnEditMovesOnlyTheCutsNearIt) {
    const TChunker chunker(kSmall);
    const std::vector<unsigned char> before = Noise(1 << 20, 3);
    std::vector<unsigned char> after = before;
    const std::vector<unsigned char> inserted = Noise(333, 4);
    after.insert(after.begin() + 100000, inserted.begin(), inserted.end());
    after.erase(after.begin() + 600000, after.begin() + 600500);
    for (std::size_t i = 900000; i < 900100; ++i)
        after[i] ^= 0x5A;

    const std::multiset<std::string> old = ChunkDigests(chunker, before);
    const std::multiset<std::string> now = ChunkDigests(chunker, after);
    std::size_t kept = 0;
    for (const std::string& digest : now)
        kept += old.count(digest) > 0 ? 1u : 0u;
    // Three edits change a few chunks each; the rest are the old ones.
    EXPECT_GE(kept + 12, now.size());
    EXPECT_LT(kept, now.size());
}

} // namespace
