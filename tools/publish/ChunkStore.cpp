#include "ChunkStore.h"

#include "ContentDigest.h"
#include "PublishErrors.h"
#include "PublishFiles.h"
#include "PublishText.h"

#include "Files.h"
#include "Zstd.h"
#include "md5.h"

#include <cstring>
#include <system_error>
#include <utility>

namespace publish {

namespace fs = std::filesystem;

ChunkStore::ChunkStore(fs::path staging, fs::path out, TChunkSizes sizes)
    : staging_(std::move(staging)), out_(std::move(out)), sizes_(sizes), chunker_(sizes) {}

void ChunkStore::MakeFolder(const std::string& relative) {
    const std::string folder = relative.substr(0, relative.rfind('/'));
    {
        std::lock_guard lock(mutex_);
        if (folders_.count(folder))
            return;
    }
    const fs::path path = staging_ / platform::FsPath(folder);
    std::error_code error;
    fs::create_directories(path, error);
    if (!fs::is_directory(path)) // made by another call meanwhile, or not at all
        throw EPublishError(SystemError("Cannot create the folder", path, error));
    std::lock_guard lock(mutex_);
    folders_.insert(folder);
}

std::int64_t ChunkStore::TakeOver(const std::string& relative) {
    const fs::path old = out_ / platform::FsPath(relative);
    std::error_code error;
    if (!fs::is_regular_file(fs::symlink_status(old, error)))
        return -1;
    const std::uint64_t size = fs::file_size(old, error);
    if (error)
        return -1;
    MakeFolder(relative);
    TakeOverFile(old, staging_ / platform::FsPath(relative));
    return static_cast<std::int64_t>(size);
}

void ChunkStore::Write(const std::string& relative, const std::string& bytes) {
    MakeFolder(relative);
    OutputFile file(staging_ / platform::FsPath(relative));
    file.Write(bytes.data(), bytes.size());
    file.Finish();
}

std::int64_t ChunkStore::Put(const unsigned char* data, std::size_t size,
                             const std::string& sha256) {
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            const auto [it, added] = chunks_.emplace(sha256, 0);
            if (added)
                break; // ours to put there
            if (it->second > 0)
                return it->second;
            put_.wait(lock); // another call puts it there, or gives up
        }
    }
    std::int64_t packed = -1;
    bool written = false;
    try {
        packed = TakeOver(ChunkPath(sha256));
        if (packed <= 0 && !data)
            throw EPublishError("The chunk " + sha256 + " went missing from OUT's store");
        if (packed <= 0) {
            const std::string frame = ZstdCompress(
                std::string_view(reinterpret_cast<const char*>(data), size), kChunkLevel);
            Write(ChunkPath(sha256), frame);
            packed = static_cast<std::int64_t>(frame.size());
            written = true;
        }
    } catch (...) {
        std::lock_guard lock(mutex_);
        chunks_.erase(sha256);
        put_.notify_all();
        throw;
    }
    std::lock_guard lock(mutex_);
    chunks_[sha256] = packed;
    counts_.storeBytes += static_cast<std::uint64_t>(packed);
    if (written) {
        ++counts_.chunksWritten;
        counts_.bytesWritten += static_cast<std::uint64_t>(packed);
    } else {
        ++counts_.chunksTakenOver;
    }
    put_.notify_all();
    return packed;
}

bool ChunkStore::ReadOutIndex(const std::string& sha256, std::int64_t size,
                              TChunkIndex& index) const {
    const fs::path path = out_ / platform::FsPath(IndexPath(sha256));
    std::error_code error;
    if (!fs::is_regular_file(fs::symlink_status(path, error)))
        return false;
    std::string text;
    try {
        text = ReadWholeFile(path, static_cast<std::size_t>(MaxIndexSize(size, sizes_)));
    } catch (const EPublishError&) {
        return false;
    }
    std::string problem;
    std::optional<TChunkIndex> read = ParseChunkIndex(text, sizes_, sha256, size, problem);
    if (!read)
        return false;
    for (const TChunkRef& chunk : read->chunks) {
        const fs::path stored = out_ / platform::FsPath(ChunkPath(chunk.sha256));
        if (fs::file_size(stored, error) != static_cast<std::uint64_t>(chunk.packed) || error)
            return false;
    }
    index = std::move(*read);
    return true;
}

bool ChunkStore::ClaimIndex(const std::string& sha256) {
    std::lock_guard lock(mutex_);
    return indexes_.insert(sha256).second;
}

void ChunkStore::Store(const fs::path& source, const std::string& sha256,
                       const std::atomic<bool>* cancel, const std::atomic<bool>& failed) {
    if (!ClaimIndex(sha256))
        return; // the same content as another file's
    TChunkIndex index;
    std::error_code error;
    const std::uint64_t listed = fs::file_size(source, error);
    if (!error && ReadOutIndex(sha256, static_cast<std::int64_t>(listed), index)) {
        // Unchanged since the tree before: its index and chunks are taken over.
        for (const TChunkRef& chunk : index.chunks)
            Put(nullptr, 0, chunk.sha256);
        if (TakeOver(IndexPath(sha256)) > 0)
            return;
        index = {};
    }
    // The content is cut as it streams past: bytes wait in `pending` until a
    // cut is certain, which it is once max bytes are there or the file ended.
    std::vector<unsigned char> pending;
    std::size_t start = 0;
    const auto cutAll = [&](bool atEnd) {
        while (start < pending.size() && (atEnd || pending.size() - start >= sizes_.max)) {
            const std::size_t length =
                chunker_.Cut(pending.data() + start, pending.size() - start, atEnd);
            const unsigned char* chunk = pending.data() + start;
            TSHA256 digest;
            digest.Update(chunk, length);
            const std::string chunkSha = digest.FinalText();
            const std::int64_t packed = Put(chunk, length, chunkSha);
            index.chunks.push_back({chunkSha, static_cast<std::int64_t>(length), packed});
            start += length;
        }
        if (start > 0 && start * 2 >= pending.size()) {
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(start));
            start = 0;
        }
    };
    const ContentInfo content =
        ReadContent(source, cancel, failed, [&](const char* data, std::size_t size) {
            pending.insert(pending.end(), reinterpret_cast<const unsigned char*>(data),
                           reinterpret_cast<const unsigned char*>(data) + size);
            cutAll(false);
        });
    cutAll(true);
    if (content.sha256 != sha256)
        throw EPublishError(QuotedPath(source) + " changed while it was being published");
    index.sha256 = sha256;
    index.size = static_cast<std::int64_t>(content.size);
    Write(IndexPath(sha256), ChunkIndexText(index));
}

void ChunkStore::KeepPrevious(const std::string& sha256, std::uint64_t size) {
    if (!ClaimIndex(sha256))
        return;
    TChunkIndex index;
    if (!ReadOutIndex(sha256, static_cast<std::int64_t>(size), index))
        return;
    for (const TChunkRef& chunk : index.chunks)
        Put(nullptr, 0, chunk.sha256);
    TakeOver(IndexPath(sha256));
}

ChunkStore::Counts ChunkStore::Totals() const {
    std::lock_guard lock(mutex_);
    return counts_;
}

std::vector<fs::path> ChunkStore::Folders() const {
    std::lock_guard lock(mutex_);
    std::vector<fs::path> folders;
    for (const std::string& folder : folders_)
        folders.push_back(staging_ / platform::FsPath(folder));
    if (!folders_.empty())
        folders.push_back(staging_ / kChunkFolder);
    return folders;
}

} // namespace publish
