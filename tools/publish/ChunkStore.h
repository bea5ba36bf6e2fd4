// The chunk store that a published tree holds beside its copies: each file
// content cut into content-defined chunks, each chunk stored once as a zstd
// frame under its SHA-256, and an index per content (see ChunkIndex.h).
//
// The store is staged with the rest of the tree and swapped in with it. What
// OUT's store holds already is taken over by hard links (copied where links
// cannot be made), so unchanged files cost no compression; the staged store
// holds exactly what the new tree and the tree it replaces need, so that
// runs still at the old manifest find their chunks, and the rest goes with
// the old tree.
#pragma once

#include "ChunkIndex.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace publish {

// The sizes the publisher cuts with, and the zstd level of the chunks.
inline constexpr TChunkSizes kChunkSizes{};
inline constexpr int kChunkLevel = 12;

class ChunkStore {
public:
    ChunkStore(std::filesystem::path staging, std::filesystem::path out, TChunkSizes sizes);

    // Stores the content of `source`, whose SHA-256 must turn out to be
    // `sha256` (else it changed while it was published: EPublishError), with
    // its index. Safe to call from several threads at once.
    void Store(const std::filesystem::path& source, const std::string& sha256,
               const std::atomic<bool>* cancel, const std::atomic<bool>& failed);
    // Keeps what OUT's store holds of a content of the tree being replaced:
    // its index and its chunks, when they are all there; nothing otherwise.
    void KeepPrevious(const std::string& sha256, std::uint64_t size);

    struct Counts {
        std::size_t chunksWritten = 0;  // compressed in this run
        std::size_t chunksTakenOver = 0; // from OUT's store
        std::uint64_t bytesWritten = 0; // of the frames compressed in this run
        std::uint64_t storeBytes = 0;   // of all frames in the staged store
    };
    Counts Totals() const;
    // The folders of the staged store, to be flushed to disk before the swap.
    std::vector<std::filesystem::path> Folders() const;

private:
    // The chunk's frame size in the staged store, putting it there first
    // (taken over from OUT, or compressed) unless another call did or does.
    std::int64_t Put(const unsigned char* data, std::size_t size, const std::string& sha256);
    // Puts OUT's copy of a stored item (relative path) in the staged store;
    // its size, or -1 when OUT has none.
    std::int64_t TakeOver(const std::string& relative);
    // Claims the index of a content for the caller to put in the staged
    // store: false when some call did.
    bool ClaimIndex(const std::string& sha256);
    void Write(const std::string& relative, const std::string& bytes);
    void MakeFolder(const std::string& relative);
    // OUT's index of a content, when it is readable and all its chunks are
    // there with the sizes it lists.
    bool ReadOutIndex(const std::string& sha256, std::int64_t size, TChunkIndex& index) const;

    std::filesystem::path staging_, out_;
    TChunkSizes sizes_;
    TChunker chunker_;
    mutable std::mutex mutex_; // guards what follows
    std::condition_variable put_;
    // The chunks of the staged store and their frame sizes (0 while a call
    // puts it there).
    std::map<std::string, std::int64_t> chunks_;
    std::set<std::string> indexes_;
    std::set<std::string> folders_;
    Counts counts_;
};

} // namespace publish
