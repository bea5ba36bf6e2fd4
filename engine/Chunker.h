// Content-defined chunking: where a file's content is cut into chunks, so that
// an edit moves only the cuts near it and the rest of a changed file is made
// of chunks an earlier version had. A cut is placed where a rolling hash of
// the bytes before it (a gear hash, which sees the last 64 bytes) has its top
// bits clear: more of them before the average size, fewer after it, so that
// chunk sizes gather around the average (FastCDC's normalised chunking).
//
// The cuts depend only on the content and the three sizes, which the update
// tree names: a publisher and a launcher of any build cut the same content in
// the same places. The gear table below is therefore part of the format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct TChunkSizes {
    std::uint32_t min = 16 << 10;
    std::uint32_t avg = 64 << 10; // a power of two
    std::uint32_t max = 256 << 10;

    // The sizes a chunker can work with: 64 <= min < avg < max <= 16 MiB,
    // avg a power of two. Empty when they are; else what is wrong.
    std::string Problem() const;
};

class TChunker {
public:
    // The sizes must be valid (Problem() empty).
    explicit TChunker(const TChunkSizes& sizes);

    // The length of the chunk that starts at `data`, of the `size` bytes
    // there: at least min (unless fewer are left) and at most max. When the
    // bytes given end before a cut could be found and more may follow
    // (`atEnd` false), 0: call again with more. Given at least max bytes, or
    // all that are left, it always answers; the answer never depends on how
    // many bytes beyond the cut were given.
    std::size_t Cut(const unsigned char* data, std::size_t size, bool atEnd) const;

    const TChunkSizes& Sizes() const { return sizes_; }

private:
    TChunkSizes sizes_;
    std::uint64_t maskSmall_ = 0; // before avg: more bits must be clear
    std::uint64_t maskLarge_ = 0; // from avg on: fewer
};

// Calls `chunk(offset, length)` for each chunk of a block of memory, in order.
void ForEachChunk(const TChunker& chunker, const unsigned char* data, std::size_t size,
                  const std::function<void(std::size_t offset, std::size_t length)>& chunk);
