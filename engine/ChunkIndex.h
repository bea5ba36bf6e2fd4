// The chunk store of an update tree: where its chunks and indexes lie, the
// text of an index, and the manifest setting that says the tree has a store
// and with which chunk sizes its files were cut.
//
// Beside the copies, a tree may hold under "chunks/" each chunk of its files
// once, compressed as one zstd frame and named by the SHA-256 of its bytes
// ("chunks/<first 4 digits>/<sha256>.zst"), and for each file content an
// index named by the content's SHA-256 ("chunks/<4 digits>/<sha256>.idx")
// that lists the content's chunks in order. The manifest's setting "Chunks"
// gives the sizes ("Chunks|16384,65536,262144": min, avg and max); a tree
// without it has no store. Launchers that know nothing of it read neither.
//
// An index is text, one item per line, LF line ends:
//   quenmor-chunks 1
//   <sha256 of the content> <size of the content> <number of chunks>
//   <sha256 of a chunk> <its size> <the size of its zstd frame>   (one per chunk)
// Nothing in it is trusted beyond what it can be checked against: the chunks
// are checked by their digests, the content by the manifest's.
#pragma once

#include "Chunker.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* kChunksSetting = "Chunks";
inline constexpr const char* kChunkFolder = "chunks";

struct TChunkRef {
    std::string sha256;
    std::int64_t size = 0;   // of the chunk's bytes
    std::int64_t packed = 0; // of its zstd frame in the store
};

struct TChunkIndex {
    std::string sha256; // of the whole content
    std::int64_t size = 0;
    std::vector<TChunkRef> chunks;
};

// "chunks/abcd/<sha256>.zst" and "chunks/abcd/<sha256>.idx", relative to the
// update address ("/" separators).
std::string ChunkPath(const std::string& sha256);
std::string IndexPath(const std::string& sha256);

// The value of the setting "Chunks", and back: nothing when it is not three
// sizes a chunker can use.
std::string ChunkSizesText(const TChunkSizes& sizes);
std::optional<TChunkSizes> ParseChunkSizes(std::string_view text);

std::string ChunkIndexText(const TChunkIndex& index);

// Reads an index made with `sizes` for the content `sha256` of `size` bytes.
// Refuses (nothing, with `problem` set) an index that is not one, is for
// another content, lists chunks that do not add up to the content or that
// the sizes could not have cut, or a frame larger than zstd makes of its
// chunk.
std::optional<TChunkIndex> ParseChunkIndex(std::string_view text, const TChunkSizes& sizes,
                                           const std::string& sha256, std::int64_t size,
                                           std::string& problem);

// The most bytes an index of a content of `size` bytes can take.
std::int64_t MaxIndexSize(std::int64_t size, const TChunkSizes& sizes);
// The most bytes a zstd frame of a chunk of `size` bytes can take.
std::int64_t MaxFrameSize(std::int64_t size);
