#include "Delta.h"

#include "Files.h"
#include "Streams.h"
#include "Zstd.h"
#include "md5.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace {

constexpr std::size_t kReadBlock = std::size_t{1} << 20;

struct Location {
    int source = -2; // -2: not found yet; -1: the pack
    std::int64_t offset = 0;
};

// Cuts a source as the store cut its files and notes where each chunk that
// the content needs lies in it. Sizes are compared before digests are
// taken: most chunks of another version are not needed, and their digests
// would cost more than the cutting.
void ScanSource(const std::string& path, int source, const TChunker& chunker,
                const std::unordered_set<std::int64_t>& sizes,
                std::unordered_map<std::string, Location>& needed, std::size_t& missing,
                const std::function<void()>& cut) {
    std::unique_ptr<TFileStream> in;
    try {
        in = std::make_unique<TFileStream>(path, TFileStream::Mode::fmOpenRead);
    } catch (const std::exception&) {
        return; // a source that cannot be read holds nothing
    }
    const std::size_t max = chunker.Sizes().max;
    std::vector<unsigned char> buffer(max + kReadBlock);
    std::size_t filled = 0, start = 0;
    std::int64_t offset = 0; // of buffer[start] in the file
    bool atEnd = false;
    while (missing > 0) {
        if (!atEnd && filled - start < max) {
            cut();
            std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(start),
                      buffer.begin() + static_cast<std::ptrdiff_t>(filled), buffer.begin());
            filled -= start;
            start = 0;
            const std::size_t got = in->Read(buffer.data() + filled, buffer.size() - filled);
            filled += got;
            atEnd = got == 0;
            continue;
        }
        if (start == filled)
            break;
        const std::size_t length = chunker.Cut(buffer.data() + start, filled - start, atEnd);
        if (sizes.count(static_cast<std::int64_t>(length))) {
            TSHA256 digest;
            digest.Update(buffer.data() + start, length);
            const auto it = needed.find(digest.FinalText());
            if (it != needed.end() && it->second.source == -2) {
                it->second = {source, offset};
                --missing;
            }
        }
        start += length;
        offset += static_cast<std::int64_t>(length);
    }
}

} // namespace

TChunkIndex TakeDeltaIndex(const TDeltaEntry& entry, const TStoreGetter& getIndex,
                           std::int64_t& fetched) {
    const std::string indexText =
        getIndex(entry.base + IndexPath(entry.sha256), MaxIndexSize(entry.size, entry.sizes));
    fetched += static_cast<std::int64_t>(indexText.size());
    std::string problem;
    std::optional<TChunkIndex> index =
        ParseChunkIndex(indexText, entry.sizes, entry.sha256, entry.size, problem);
    if (!index)
        throw EDeltaFailed("its chunk index is refused: " + problem);
    return std::move(*index);
}

TDeltaPlan PlanDelta(const TDeltaEntry& entry, const TChunkIndex& index,
                     const std::function<void()>& cut) {
    std::unordered_map<std::string, Location> needed;
    std::unordered_set<std::int64_t> sizes;
    for (const TChunkRef& chunk : index.chunks) {
        needed.emplace(chunk.sha256, Location{});
        sizes.insert(chunk.size);
    }
    std::size_t missing = needed.size();
    const TChunker chunker(entry.sizes);
    for (std::size_t k = 0; k < entry.sources.size() && missing > 0; ++k)
        ScanSource(entry.sources[k], static_cast<int>(k), chunker, sizes, needed, missing, cut);

    // The missing chunks, each once, in the pack in the order first needed.
    TDeltaPlan plan;
    plan.chunksFound = needed.size() - missing;
    for (const TChunkRef& chunk : index.chunks) {
        Location& location = needed[chunk.sha256];
        if (location.source == -2) {
            location = {-1, plan.packed};
            plan.packed += chunk.size;
            plan.missing.push_back(chunk);
        }
        plan.pieces.push_back({location.source, location.offset, chunk.size});
    }
    plan.chunksFetched = plan.missing.size();
    return plan;
}

void FetchMissing(const TDeltaEntry& entry, TDeltaPlan& plan, const std::string& pack,
                  const TChunkFetcher& fetchChunks,
                  const std::function<void(std::int64_t)>& fetched) {
    std::vector<std::pair<std::string, std::int64_t>> addresses;
    std::vector<std::int64_t> at; // of each missing chunk in the pack
    std::int64_t offset = 0;
    for (const TChunkRef& chunk : plan.missing) {
        addresses.emplace_back(entry.base + ChunkPath(chunk.sha256), chunk.packed);
        at.push_back(offset);
        offset += chunk.size;
    }
    TFileStream out(pack, TFileStream::Mode::fmCreate);
    std::mutex mutex; // guards `out` and the count of bytes fetched
    std::int64_t bytes = plan.fetched;
    if (!addresses.empty())
        fetchChunks(addresses, [&](std::size_t k, const std::string& frame) {
            const TChunkRef& chunk = plan.missing[k];
            std::string data;
            try {
                data = ZstdDecompressExact(frame, static_cast<std::size_t>(chunk.size));
            } catch (const EZstdError& e) {
                throw EDeltaFailed("the chunk " + chunk.sha256 + " is refused: " + e.what());
            }
            TSHA256 digest;
            digest.Update(data.data(), data.size());
            if (digest.FinalText() != chunk.sha256)
                throw EDeltaFailed("the chunk " + chunk.sha256 + " does not match its digest");
            std::lock_guard lock(mutex);
            if (out.Seek(at[k], TSeekOrigin::soBeginning) != at[k])
                throw EInOutError("Cannot write \"" + pack + "\"");
            out.Write(data.data(), data.size());
            bytes += static_cast<std::int64_t>(frame.size());
            fetched(bytes);
        });
    out.Close();
    plan.fetched = bytes;
}

TDeltaPlan FetchDelta(const TDeltaEntry& entry, const std::string& pack,
                      const TStoreGetter& getIndex, const TChunkFetcher& fetchChunks,
                      const std::function<void(std::int64_t)>& fetched,
                      const std::function<void()>& cut) {
    std::int64_t indexBytes = 0;
    const TChunkIndex index = TakeDeltaIndex(entry, getIndex, indexBytes);
    TDeltaPlan plan = PlanDelta(entry, index, cut);
    plan.fetched = indexBytes;
    FetchMissing(entry, plan, pack, fetchChunks, fetched);
    return plan;
}

bool AssembleDelta(const TDeltaEntry& entry, const TDeltaPlan& plan, const std::string& pack,
                   const std::function<void(const char*, std::size_t)>& write,
                   const std::function<bool(std::size_t)>& proceed) {
    std::vector<std::unique_ptr<TFileStream>> sources(entry.sources.size() + 1);
    const auto open = [&](int source) -> TFileStream& {
        std::unique_ptr<TFileStream>& stream = sources[static_cast<std::size_t>(source + 1)];
        if (!stream)
            stream = std::make_unique<TFileStream>(
                source < 0 ? pack : entry.sources[static_cast<std::size_t>(source)],
                TFileStream::Mode::fmOpenRead);
        return *stream;
    };
    TMD5 md5;
    TSHA256 sha256;
    std::vector<char> buffer;
    for (const TDeltaPiece& piece : plan.pieces) {
        const std::size_t size = static_cast<std::size_t>(piece.size);
        if (!proceed(size))
            return false;
        buffer.resize(size);
        TFileStream& in = open(piece.source);
        if (in.Seek(piece.offset, TSeekOrigin::soBeginning) != piece.offset ||
            in.Read(buffer.data(), size) != size)
            throw EDeltaFailed("a file it is made from changed while it was assembled");
        md5.Update(buffer.data(), size);
        sha256.Update(buffer.data(), size);
        write(buffer.data(), size);
    }
    if (sha256.FinalText() != entry.sha256 || md5.FinalText() != entry.md5)
        throw EDeltaFailed("the content assembled from its chunks does not match its digests");
    return true;
}
