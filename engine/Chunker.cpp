#include "Chunker.h"

#include <algorithm>
#include <array>
#include <bit>

namespace {

// The gear table: 256 values of SplitMix64 from a fixed seed. Changing either
// moves every cut, and with it every chunk a published store holds.
constexpr std::array<std::uint64_t, 256> MakeGear() {
    std::array<std::uint64_t, 256> gear{};
    std::uint64_t state = 0x51E7C0DEC0FFEE00ULL;
    for (std::uint64_t& value : gear) {
        state += 0x9E3779B97F4A7C15ULL;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        value = z ^ (z >> 31);
    }
    return gear;
}
constexpr std::array<std::uint64_t, 256> kGear = MakeGear();

// The top `bits` bits of a 64-bit hash: those that depend on the most bytes.
constexpr std::uint64_t TopBits(unsigned bits) {
    return bits == 0 ? 0 : ~std::uint64_t{0} << (64 - bits);
}

} // namespace

std::string TChunkSizes::Problem() const {
    if (min < 64)
        return "the minimum chunk size is below 64 bytes";
    if (!(min < avg && avg < max))
        return "the chunk sizes are not minimum < average < maximum";
    if (max > (16u << 20))
        return "the maximum chunk size is above 16 MiB";
    if (!std::has_single_bit(avg))
        return "the average chunk size is not a power of two";
    return {};
}

TChunker::TChunker(const TChunkSizes& sizes) : sizes_(sizes) {
    const auto bits = static_cast<unsigned>(std::countr_zero(sizes.avg));
    maskSmall_ = TopBits(bits + 2);
    maskLarge_ = TopBits(bits > 2 ? bits - 2 : 1);
}

std::size_t TChunker::Cut(const unsigned char* data, std::size_t size, bool atEnd) const {
    if (size <= sizes_.min)
        return atEnd ? size : 0;
    const std::size_t limit = std::min<std::size_t>(size, sizes_.max);
    const std::size_t normal = std::min<std::size_t>(sizes_.avg, limit);
    std::uint64_t hash = 0;
    std::size_t i = sizes_.min;
    for (; i < normal; ++i) {
        hash = (hash << 1) + kGear[data[i]];
        if ((hash & maskSmall_) == 0)
            return i + 1;
    }
    for (; i < limit; ++i) {
        hash = (hash << 1) + kGear[data[i]];
        if ((hash & maskLarge_) == 0)
            return i + 1;
    }
    if (limit == sizes_.max)
        return limit;
    return atEnd ? size : 0;
}

void ForEachChunk(const TChunker& chunker, const unsigned char* data, std::size_t size,
                  const std::function<void(std::size_t offset, std::size_t length)>& chunk) {
    for (std::size_t offset = 0; offset < size;) {
        const std::size_t length = chunker.Cut(data + offset, size - offset, true);
        chunk(offset, length);
        offset += length;
    }
}
