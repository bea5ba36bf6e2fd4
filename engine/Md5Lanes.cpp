#include "Md5Lanes.h"

#include "Streams.h"
#include "md5.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QUENMOR_MD5_SSE2 1
#endif

namespace {

constexpr std::uint32_t kInitial[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};

// The additive constant and the left rotation of each of the 64 steps, and
// which word of the block each step adds.
constexpr std::uint32_t kK[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int kS[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

constexpr std::size_t Word(std::size_t step) {
    switch (step / 16) {
    case 0:
        return step;
    case 1:
        return (5 * step + 1) % 16;
    case 2:
        return (3 * step + 5) % 16;
    default:
        return (7 * step) % 16;
    }
}

// The operations of a step on one value or on four lanes of them.
struct Scalar {
    using V = std::uint32_t;
    static V Add(V x, V y) { return x + y; }
    static V Xor(V x, V y) { return x ^ y; }
    static V And(V x, V y) { return x & y; }
    static V Or(V x, V y) { return x | y; }
    static V Not(V x) { return ~x; }
    static V Const(std::uint32_t k) { return k; }
    template <int S> static V Rotl(V x) { return (x << S) | (x >> (32 - S)); }
};

#ifdef QUENMOR_MD5_SSE2
struct Sse2 {
    using V = __m128i;
    static V Add(V x, V y) { return _mm_add_epi32(x, y); }
    static V Xor(V x, V y) { return _mm_xor_si128(x, y); }
    static V And(V x, V y) { return _mm_and_si128(x, y); }
    static V Or(V x, V y) { return _mm_or_si128(x, y); }
    static V Not(V x) { return _mm_xor_si128(x, _mm_set1_epi32(-1)); }
    static V Const(std::uint32_t k) { return _mm_set1_epi32(static_cast<int>(k)); }
    template <int S> static V Rotl(V x) {
        return _mm_or_si128(_mm_slli_epi32(x, S), _mm_srli_epi32(x, 32 - S));
    }
};
#endif

template <class O, std::size_t I>
inline void Step(typename O::V& a, typename O::V& b, typename O::V& c, typename O::V& d,
                 const typename O::V* m) {
    typename O::V f;
    if constexpr (I < 16)
        f = O::Xor(d, O::And(b, O::Xor(c, d)));
    else if constexpr (I < 32)
        f = O::Xor(c, O::And(d, O::Xor(b, c)));
    else if constexpr (I < 48)
        f = O::Xor(O::Xor(b, c), d);
    else
        f = O::Xor(c, O::Or(b, O::Not(d)));
    f = O::Add(O::Add(f, a), O::Add(O::Const(kK[I]), m[Word(I)]));
    a = d;
    d = c;
    c = b;
    b = O::Add(b, O::template Rotl<kS[I / 16][I % 4]>(f));
}

template <class O, std::size_t... I>
inline void Steps(typename O::V (&h)[4], const typename O::V* m, std::index_sequence<I...>) {
    typename O::V a = h[0], b = h[1], c = h[2], d = h[3];
    (Step<O, I>(a, b, c, d, m), ...);
    h[0] = O::Add(h[0], a);
    h[1] = O::Add(h[1], b);
    h[2] = O::Add(h[2], c);
    h[3] = O::Add(h[3], d);
}

void ScalarBlock(std::uint32_t (&h)[4], const unsigned char* p) {
    std::uint32_t m[16];
    for (std::size_t j = 0; j < 16; ++j)
        m[j] = std::uint32_t{p[4 * j]} | std::uint32_t{p[4 * j + 1]} << 8 |
               std::uint32_t{p[4 * j + 2]} << 16 | std::uint32_t{p[4 * j + 3]} << 24;
    Steps<Scalar>(h, m, std::make_index_sequence<64>{});
}

const unsigned char kIdleBlock[TMd5Lanes::kBlock] = {};

} // namespace

TMd5Lanes::TMd5Lanes() {
    for (std::size_t lane = 0; lane < kLanes; ++lane)
        Reset(lane);
}

void TMd5Lanes::Reset(std::size_t lane) {
    for (std::size_t w = 0; w < 4; ++w)
        state_[w][lane] = kInitial[w];
}

void TMd5Lanes::CompressOne(std::size_t lane, const unsigned char* blocks, std::size_t count) {
    std::uint32_t h[4] = {state_[0][lane], state_[1][lane], state_[2][lane], state_[3][lane]};
    for (std::size_t n = 0; n < count; ++n)
        ScalarBlock(h, blocks + n * kBlock);
    for (std::size_t w = 0; w < 4; ++w)
        state_[w][lane] = h[w];
}

void TMd5Lanes::Compress(const std::array<const unsigned char*, kLanes>& blocks,
                         std::size_t count) {
    std::uint32_t before[4][kLanes];
    std::memcpy(before, state_, sizeof before);
    std::array<const unsigned char*, kLanes> at = blocks;
    std::array<std::size_t, kLanes> stride{};
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
        stride[lane] = at[lane] ? kBlock : 0;
        if (!at[lane])
            at[lane] = kIdleBlock;
    }
#ifdef QUENMOR_MD5_SSE2
    __m128i h[4];
    for (std::size_t w = 0; w < 4; ++w)
        h[w] = _mm_load_si128(reinterpret_cast<const __m128i*>(state_[w]));
    for (std::size_t n = 0; n < count; ++n) {
        // Each lane's block, four words at a time, turned so that one
        // register holds the same word of every lane.
        __m128i m[16];
        for (std::size_t q = 0; q < 4; ++q) {
            const __m128i r0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at[0] + 16 * q));
            const __m128i r1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at[1] + 16 * q));
            const __m128i r2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at[2] + 16 * q));
            const __m128i r3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at[3] + 16 * q));
            const __m128i t0 = _mm_unpacklo_epi32(r0, r1), t1 = _mm_unpacklo_epi32(r2, r3);
            const __m128i t2 = _mm_unpackhi_epi32(r0, r1), t3 = _mm_unpackhi_epi32(r2, r3);
            m[4 * q] = _mm_unpacklo_epi64(t0, t1);
            m[4 * q + 1] = _mm_unpackhi_epi64(t0, t1);
            m[4 * q + 2] = _mm_unpacklo_epi64(t2, t3);
            m[4 * q + 3] = _mm_unpackhi_epi64(t2, t3);
        }
        Steps<Sse2>(h, m, std::make_index_sequence<64>{});
        for (std::size_t lane = 0; lane < kLanes; ++lane)
            at[lane] += stride[lane];
    }
    for (std::size_t w = 0; w < 4; ++w)
        _mm_store_si128(reinterpret_cast<__m128i*>(state_[w]), h[w]);
#else
    for (std::size_t lane = 0; lane < kLanes; ++lane)
        if (stride[lane])
            CompressOne(lane, at[lane], count);
#endif
    // The idle lanes hashed zeros: they get their own state back.
    for (std::size_t lane = 0; lane < kLanes; ++lane)
        if (!blocks[lane])
            for (std::size_t w = 0; w < 4; ++w)
                state_[w][lane] = before[w][lane];
}

std::string TMd5Lanes::DigestText(std::size_t lane) const {
    static const char* const kHex = "0123456789abcdef";
    std::string text;
    text.reserve(32);
    for (std::size_t w = 0; w < 4; ++w)
        for (unsigned byte = 0; byte < 4; ++byte) {
            const unsigned v = (state_[w][lane] >> (8 * byte)) & 0xFFu;
            text += kHex[v >> 4];
            text += kHex[v & 0x0F];
        }
    return text;
}

std::size_t TMd5Lanes::PadEnd(const unsigned char* tail, std::size_t size, std::uint64_t total,
                              unsigned char (&out)[2 * kBlock]) {
    std::memset(out, 0, sizeof out);
    if (size > 0)
        std::memcpy(out, tail, size);
    out[size] = 0x80;
    const std::size_t blocks = size < kBlock - 8 ? 1 : 2;
    const std::uint64_t bits = total * 8;
    for (std::size_t byte = 0; byte < 8; ++byte)
        out[blocks * kBlock - 8 + byte] = static_cast<unsigned char>(bits >> (8 * byte));
    return blocks;
}

namespace {

constexpr std::size_t kRead = std::size_t{256} << 10; // read at a time for each lane

// One file in a lane: its blocks come from `buffer` until the file ends,
// then from its padded end.
struct LaneFile {
    std::size_t index = 0;
    std::unique_ptr<TFileStream> stream;
    std::unique_ptr<unsigned char[]> buffer{new unsigned char[kRead]};
    std::size_t begin = 0, end = 0; // the bytes read and not yet compressed
    std::uint64_t total = 0;        // bytes read so far
    unsigned char padded[2 * TMd5Lanes::kBlock];
    std::size_t paddedBlocks = 0, paddedAt = 0; // set once the file ended
    bool ended = false;
    bool busy = false;

    // Whole blocks ready to compress; reads when fewer than one is left.
    // Raises what reading raised.
    std::size_t Ready() {
        if (!ended && end - begin < TMd5Lanes::kBlock) {
            std::memmove(buffer.get(), buffer.get() + begin, end - begin);
            end -= begin;
            begin = 0;
            while (end < TMd5Lanes::kBlock) {
                const std::size_t n = stream->Read(buffer.get() + end, kRead - end);
                if (n == 0)
                    break;
                end += n;
                total += n;
            }
            if (end < TMd5Lanes::kBlock) {
                ended = true;
                paddedBlocks = TMd5Lanes::PadEnd(buffer.get(), end, total, padded);
                stream.reset();
            }
        }
        return ended ? paddedBlocks - paddedAt : (end - begin) / TMd5Lanes::kBlock;
    }
    const unsigned char* Blocks() const {
        return ended ? padded + paddedAt * TMd5Lanes::kBlock : buffer.get() + begin;
    }
    // True once the padded end is compressed.
    bool Take(std::size_t blocks) {
        if (ended)
            paddedAt += blocks;
        else
            begin += blocks * TMd5Lanes::kBlock;
        return ended && paddedAt == paddedBlocks;
    }
};

} // namespace

std::vector<std::string> FileDigestTextsByReading(const std::vector<std::string>& paths) {
    std::vector<std::string> digests(paths.size());
    const std::string empty = ::DigestText(nullptr, 0);
    TMd5Lanes md5;
    std::array<LaneFile, TMd5Lanes::kLanes> lanes;
    std::size_t next = 0;
    const auto fail = [&](std::size_t lane) {
        digests[lanes[lane].index] = empty;
        lanes[lane].busy = false;
        lanes[lane].stream.reset();
    };
    for (;;) {
        std::size_t busy = 0, last = 0;
        for (std::size_t lane = 0; lane < lanes.size(); ++lane) {
            LaneFile& file = lanes[lane];
            while (!file.busy && next < paths.size()) {
                file.index = next++;
                try {
                    file.stream = std::make_unique<TFileStream>(paths[file.index],
                                                                TFileStream::Mode::fmOpenRead);
                } catch (const std::exception&) {
                    digests[file.index] = empty;
                    continue;
                }
                file.begin = file.end = 0;
                file.total = 0;
                file.ended = false;
                file.paddedBlocks = file.paddedAt = 0;
                file.busy = true;
                md5.Reset(lane);
            }
            if (file.busy) {
                ++busy;
                last = lane;
            }
        }
        if (busy == 0)
            break;
        // As many blocks as every busy lane has ready.
        std::size_t count = static_cast<std::size_t>(-1);
        bool failed = false;
        for (std::size_t lane = 0; lane < lanes.size(); ++lane)
            if (lanes[lane].busy) {
                try {
                    count = std::min(count, lanes[lane].Ready());
                } catch (const std::exception&) {
                    fail(lane);
                    failed = true;
                }
            }
        if (failed)
            continue; // the lane takes the next file first
        std::array<const unsigned char*, TMd5Lanes::kLanes> blocks{};
        for (std::size_t lane = 0; lane < lanes.size(); ++lane)
            if (lanes[lane].busy)
                blocks[lane] = lanes[lane].Blocks();
        if (busy == 1 && next == paths.size())
            md5.CompressOne(last, blocks[last], count);
        else
            md5.Compress(blocks, count);
        for (std::size_t lane = 0; lane < lanes.size(); ++lane)
            if (lanes[lane].busy && lanes[lane].Take(count)) {
                digests[lanes[lane].index] = md5.DigestText(lane);
                lanes[lane].busy = false;
            }
    }
    return digests;
}
