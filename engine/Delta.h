// Delta runs: a file's new content made of the chunks the installation
// already holds, with only the missing ones fetched from the chunk store.
// The local files that may hold some (the installed file, its backup) are cut
// with the store's sizes and their chunks found by digest; the missing
// chunks are fetched into a pack beside the target, each checked against its
// digest; the new content is then assembled from both and verified against
// the entry's SHA-256 and MD5 before anything can be put in place. Whatever
// keeps this from giving the content raises EDeltaFailed, and the entry is
// fetched whole instead; a chunk that does not match its digest is never
// used.
#pragma once

#include "ChunkIndex.h"
#include "Errors.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// The delta path cannot give this content; its copy is fetched instead.
class EDeltaFailed : public Exception {
public:
    using Exception::Exception;
};

// What a delta needs of an entry.
struct TDeltaEntry {
    std::string base;        // the update address the store's paths are taken under
    TChunkSizes sizes;       // of the store
    std::string sha256, md5; // of the new content
    std::int64_t size = -1;  // of the new content
    // Local files that may hold chunks of it, in order of preference.
    std::vector<std::string> sources;
};

// Where each chunk of the new content comes from: a range of a source, or
// of the pack (source -1).
struct TDeltaPiece {
    int source = -1;
    std::int64_t offset = 0, size = 0;
};

struct TDeltaPlan {
    std::vector<TDeltaPiece> pieces; // in the order of the content
    // The chunks to fetch, each once, in the order of the pack.
    std::vector<TChunkRef> missing;
    std::int64_t fetched = 0; // bytes of frames and index fetched
    std::int64_t packed = 0;  // bytes of chunks in the pack
    std::size_t chunksFetched = 0, chunksFound = 0;
};

// Fetches the body of an address, at most `most` bytes of it; raises
// EDeltaFailed when it cannot be had whole, and what a stop raises.
using TStoreGetter = std::function<std::string(const std::string& url, std::int64_t most)>;

// Fetches the bodies of the addresses listed (each at most its bytes) and
// hands each to `take` with its place in the list as it comes: from any
// thread, several at once, in any order. Raises what a fetch or `take`
// raised, once no `take` runs any more.
using TChunkFetcher =
    std::function<void(const std::vector<std::pair<std::string, std::int64_t>>& addresses,
                       const std::function<void(std::size_t, const std::string&)>& take)>;

// A delta's download in its three steps, which FetchDelta takes in turn: the
// index (over the network), the chunks the sources hold (on this machine),
// and the missing chunks (over the network again).
//
// The entry's index, refused (EDeltaFailed) unless it is one its content
// could have; its bytes are added to `fetched`.
TChunkIndex TakeDeltaIndex(const TDeltaEntry& entry, const TStoreGetter& getIndex,
                           std::int64_t& fetched);
// Cuts the sources and finds the chunks of the index they hold; the plan
// lists the others as missing, at their places in the pack. `cut` is asked
// between the sources' blocks and raises to stop.
TDeltaPlan PlanDelta(const TDeltaEntry& entry, const TChunkIndex& index,
                     const std::function<void()>& cut);
// Fetches the plan's missing chunks into the new file `pack` (raw, in the
// order they are first needed), each checked against its digest. `fetched`
// is told the bytes fetched so far, one call at a time.
void FetchMissing(const TDeltaEntry& entry, TDeltaPlan& plan, const std::string& pack,
                  const TChunkFetcher& fetchChunks,
                  const std::function<void(std::int64_t)>& fetched);
// The three in turn.
TDeltaPlan FetchDelta(const TDeltaEntry& entry, const std::string& pack,
                      const TStoreGetter& getIndex, const TChunkFetcher& fetchChunks,
                      const std::function<void(std::int64_t)>& fetched,
                      const std::function<void()>& cut);

// Writes the new content from the plan, verifying it as it goes; raises
// EDeltaFailed when it does not verify (what was written is then no
// content). `proceed` is asked before each block with its size: false sets
// the work aside, and AssembleDelta returns false (what was written is no
// content either); to stop, it raises. True: the content is whole and
// verified.
bool AssembleDelta(const TDeltaEntry& entry, const TDeltaPlan& plan, const std::string& pack,
                   const std::function<void(const char*, std::size_t)>& write,
                   const std::function<bool(std::size_t)>& proceed);
