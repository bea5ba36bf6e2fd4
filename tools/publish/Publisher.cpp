#include "Publisher.h"

#include "BZip2.h"
#include "Files.h"
#include "LstFile.h"
#include "Misc.h"
#include "Streams.h"
#include "Text.h"
#include "md5.h"

#include "Process.h"

#include <bzlib.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <exception>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <random>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>
#include <utility>

namespace publish {
namespace {

namespace fs = std::filesystem;

constexpr const char* kManifestName = "files.lst";
constexpr const char* kManifestCopyName = "files.lst.bz2";
constexpr const char* kBackupFolder = "backup"; // where the launcher keeps replaced files
constexpr const char* kStagingInfix = ".quenmor-staging-";
constexpr const char* kAsideInfix = ".quenmor-old-";
constexpr const char* kCopySuffix = ".bz2";
constexpr std::size_t kBlockSize = std::size_t{1} << 20;
constexpr int kBZBlockSize = 9;
constexpr std::uint64_t kMaxListedSize = std::numeric_limits<std::int64_t>::max();
constexpr std::size_t kMaxProblemsShown = 20;

// ---------------------------------------------------------------------------
// Text helpers.

std::optional<std::u32string> DecodeUtf8(std::string_view text) {
    if (!platform::IsValidUtf8(text))
        return std::nullopt;
    std::u32string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 1;
        char32_t cp = lead;
        if (lead >= 0xF0) {
            length = 4;
            cp = lead & 0x07u;
        } else if (lead >= 0xE0) {
            length = 3;
            cp = lead & 0x0Fu;
        } else if (lead >= 0xC0) {
            length = 2;
            cp = lead & 0x1Fu;
        }
        for (std::size_t k = 1; k < length; ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
        out.push_back(cp);
        i += length;
    }
    return out;
}

// A name from the disk as it can be shown in a message: control characters
// and bytes that are not UTF-8 become \xNN.
std::string Printable(std::string_view text) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        std::size_t length = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
        if (i + length > text.size() || !platform::IsValidUtf8(text.substr(i, length)) ||
            (length == 1 && (b < 0x20 || b == 0x7F))) {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 0x0F];
            ++i;
            continue;
        }
        out.append(text.substr(i, length));
        i += length;
    }
    return out;
}

std::string Quoted(std::string_view text) {
    return "\"" + Printable(text) + "\"";
}
std::string QuotedPath(const fs::path& path) {
    return Quoted(platform::PathText(path));
}

std::string SystemError(const std::string& what, const fs::path& path, int error) {
    return what + " " + QuotedPath(path) + ": " + std::strerror(error);
}

std::string SystemError(const std::string& what, const fs::path& path,
                        const std::error_code& error) {
    return what + " " + QuotedPath(path) + ": " + error.message();
}

std::vector<std::string_view> SplitParts(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

std::optional<std::uint64_t> ParseUnsigned(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

// ---------------------------------------------------------------------------
// Files.

class InputFile {
public:
    explicit InputFile(fs::path path) : path_(std::move(path)) {
        file_ = platform::OpenFile(platform::PathText(path_), "rb");
        if (!file_)
            throw EPublishError(SystemError("Cannot open", path_, errno));
        std::error_code error;
        const fs::file_status status = fs::status(path_, error);
        if (error) {
            std::fclose(file_);
            throw EPublishError(SystemError("Cannot read", path_, error));
        }
        if (!fs::is_regular_file(status)) {
            std::fclose(file_);
            throw EPublishError("Not a regular file: " + QuotedPath(path_));
        }
        std::setvbuf(file_, nullptr, _IONBF, 0); // reads come in large blocks already
    }
    ~InputFile() { std::fclose(file_); }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Fills `buffer` as far as the file allows; 0 at the end.
    std::size_t Read(char* buffer, std::size_t size) {
        const std::size_t got = std::fread(buffer, 1, size, file_);
        if (got < size && std::ferror(file_))
            throw EPublishError(SystemError("Cannot read", path_, errno));
        return got;
    }

private:
    fs::path path_;
    std::FILE* file_ = nullptr;
};

// A new file; the caller removes it when Finish is not reached (the staging
// folder goes as a whole).
class OutputFile {
public:
    explicit OutputFile(fs::path path) : path_(std::move(path)) {
        file_ = platform::CreateNewFile(platform::PathText(path_));
        if (!file_)
            throw EPublishError(SystemError("Cannot create", path_, errno));
        std::setvbuf(file_, nullptr, _IONBF, 0); // writes come in large blocks already
    }
    ~OutputFile() {
        if (file_)
            std::fclose(file_);
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void Write(const char* data, std::size_t size) {
        if (size > 0 && std::fwrite(data, 1, size, file_) != size)
            throw EPublishError(SystemError("Cannot write", path_, errno));
        written_ += size;
    }

    // Flushes the content to disk: the tree is swapped in by renames, which
    // must not make empty files visible after a crash.
    void Finish() {
        if (!platform::FlushToDisk(file_))
            throw EPublishError(SystemError("Cannot write", path_, errno));
        std::FILE* file = file_;
        file_ = nullptr;
        if (std::fclose(file) != 0)
            throw EPublishError(SystemError("Cannot write", path_, errno));
    }

    std::uint64_t Written() const { return written_; }

private:
    fs::path path_;
    std::FILE* file_ = nullptr;
    std::uint64_t written_ = 0;
};

// bzip2 compression (block size 9) of data passing through once.
class Compressor {
public:
    explicit Compressor(OutputFile& out) : out_(out), buffer_(new char[kBlockSize]) {
        std::memset(&stream_, 0, sizeof stream_);
        const int result = BZ2_bzCompressInit(&stream_, kBZBlockSize, 0, 0);
        if (result != BZ_OK)
            throw EPublishError("bzip2 compression cannot start (error " + std::to_string(result) +
                                ")");
    }
    ~Compressor() { BZ2_bzCompressEnd(&stream_); }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    void Add(const char* data, std::size_t size) {
        stream_.next_in = const_cast<char*>(data);
        stream_.avail_in = static_cast<unsigned int>(size);
        while (stream_.avail_in > 0)
            Step(BZ_RUN);
    }

    void Finish() {
        while (Step(BZ_FINISH) != BZ_STREAM_END) {
        }
    }

private:
    int Step(int action) {
        stream_.next_out = buffer_.get();
        stream_.avail_out = static_cast<unsigned int>(kBlockSize);
        const int result = BZ2_bzCompress(&stream_, action);
        if (result < 0)
            throw EPublishError("bzip2 compression failed (error " + std::to_string(result) + ")");
        out_.Write(buffer_.get(), kBlockSize - stream_.avail_out);
        return result;
    }

    OutputFile& out_;
    std::unique_ptr<char[]> buffer_;
    bz_stream stream_;
};

// Stops the work of a run: raised where a worker notices a request to stop.
void CheckStop(const std::atomic<bool>* cancel, const std::atomic<bool>& failed) {
    if ((cancel && cancel->load()) || failed.load())
        throw EPublishError("Interrupted");
}

struct ContentInfo {
    std::string digest;
    std::uint64_t size = 0;
};

// Reads a whole file, digesting it and handing each block to `consume`.
ContentInfo ReadContent(const fs::path& path, const std::atomic<bool>* cancel,
                        const std::atomic<bool>& failed,
                        const std::function<void(const char*, std::size_t)>& consume) {
    InputFile in(path);
    std::unique_ptr<char[]> buffer(new char[kBlockSize]);
    TMD5 md5;
    ContentInfo info;
    while (const std::size_t n = in.Read(buffer.get(), kBlockSize)) {
        CheckStop(cancel, failed);
        md5.Update(buffer.get(), n);
        if (consume)
            consume(buffer.get(), n);
        info.size += n;
    }
    info.digest = md5.FinalText();
    return info;
}

ContentInfo DigestFile(const fs::path& path, const std::atomic<bool>* cancel,
                       const std::atomic<bool>& failed) {
    return ReadContent(path, cancel, failed, {});
}

// Compresses `source` into the new file `target`, digesting the content on the
// way; returns the content's digest and size.
ContentInfo CompressFile(const fs::path& source, const fs::path& target,
                         const std::atomic<bool>* cancel, const std::atomic<bool>& failed) {
    OutputFile out(target);
    Compressor bz(out);
    const ContentInfo info = ReadContent(source, cancel, failed,
                                         [&](const char* data, std::size_t n) { bz.Add(data, n); });
    bz.Finish();
    out.Finish();
    return info;
}

void CompressText(const std::string& text, const fs::path& target) {
    OutputFile out(target);
    Compressor bz(out);
    for (std::size_t at = 0; at < text.size(); at += kBlockSize)
        bz.Add(text.data() + at, std::min(kBlockSize, text.size() - at));
    bz.Finish();
    out.Finish();
}

void SyncFolder(const fs::path& folder) {
    platform::SyncFolder(platform::PathText(folder));
}

// `inner` is `outer` or lies below it (both absolute and normalised).
bool IsWithin(const fs::path& inner, const fs::path& outer) {
    auto i = inner.begin();
    for (auto o = outer.begin(); o != outer.end(); ++o, ++i)
        if (i == inner.end() || *i != *o)
            return false;
    return true;
}

// A new folder `base` + `infix` + random letters, with the permissions a
// plain mkdir gives.
fs::path MakeUniqueFolder(const fs::path& base, const char* infix) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device device;
    std::mt19937 random(device());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = platform::PathText(base) + infix;
        for (int k = 0; k < 8; ++k)
            name += kLetters[pick(random)];
        std::error_code error;
        if (fs::create_directory(platform::FsPath(name), error))
            return platform::FsPath(name);
        if (error)
            throw EPublishError(
                SystemError("Cannot create the folder", platform::FsPath(name), error));
    }
    throw EPublishError("Cannot create a staging folder beside " + QuotedPath(base));
}

// ---------------------------------------------------------------------------
// The files of SOURCE.

struct FoundFile {
    std::string relative; // UTF-8 with "/" separators, as on the disk
    fs::path path;        // where to read it (through any links)
};

class TreeScanner {
public:
    explicit TreeScanner(fs::path root) : root_(std::move(root)) {}

    void Scan() {
        std::error_code error;
        (void)fs::status(root_, error);
        if (error)
            throw EPublishError(SystemError("Cannot read", root_, error));
        std::vector<fs::path> chain{root_};
        ScanFolder(root_, "", chain);
    }

    std::vector<FoundFile> files;
    std::vector<std::string> problems;

private:
    void ScanFolder(const fs::path& folder, const std::string& relative,
                    std::vector<fs::path>& chain) {
        std::error_code error;
        fs::directory_iterator it(folder, error);
        const fs::directory_iterator end;
        for (; !error && it != end; it.increment(error)) {
            const fs::path path = it->path();
            const std::string name = platform::PathText(path.filename());
            const std::string rel = relative.empty() ? name : relative + "/" + name;
            std::error_code statError;
            fs::file_status status = it->symlink_status(statError);
            if (statError)
                throw EPublishError(SystemError("Cannot read", path, statError));
            if (fs::is_symlink(status)) {
                const fs::path target = fs::canonical(path, statError);
                if (statError) {
                    problems.push_back(Quoted(rel) + ": a broken symbolic link");
                    continue;
                }
                if (!IsWithin(target, root_)) {
                    problems.push_back(Quoted(rel) + ": a symbolic link to " + QuotedPath(target) +
                                       ", outside SOURCE");
                    continue;
                }
                status = fs::status(path, statError);
                if (statError)
                    throw EPublishError(SystemError("Cannot read", path, statError));
            }
            if (fs::is_directory(status)) {
                // The folders from SOURCE down to here, told apart by the
                // system's file identity, not by name.
                const bool loop =
                    std::any_of(chain.begin(), chain.end(), [&](const fs::path& above) {
                        std::error_code sameError;
                        return fs::equivalent(path, above, sameError);
                    });
                if (loop) {
                    problems.push_back(Quoted(rel) +
                                       ": a symbolic link to a folder that contains it (a loop)");
                    continue;
                }
                chain.push_back(path);
                ScanFolder(path, rel, chain);
                chain.pop_back();
            } else if (fs::is_regular_file(status)) {
                files.push_back({rel, path});
            } else {
                problems.push_back(Quoted(rel) +
                                   ": not a regular file or folder (special files are not "
                                   "published)");
            }
        }
        if (error)
            throw EPublishError(SystemError("Cannot read the folder", folder, error));
    }

    fs::path root_;
};

// Why a single file or folder name cannot go into the manifest; empty when it can.
std::string NameProblem(std::string_view name) {
    if (!platform::IsValidUtf8(name))
        return "the name is not valid UTF-8";
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F)
            return "the name contains a control character";
        if (c == '|')
            return "the name contains \"|\", which separates the fields of the manifest";
        if (c == ':')
            return "the name contains \":\"";
        if (c == '\\')
            return "the name contains \"\\\", the folder separator of the manifest";
    }
    if (name.front() == ' ' || name.back() == ' ')
        return "the name begins or ends with a blank";
    if (!platform::Utf8ToAnsi(name))
        return "the name cannot be written in Windows-1251";
    if (platform::IsOwnTempFileName(name))
        return "the name is that of the launcher's temporary files, which it deletes";
    return {};
}

// ---------------------------------------------------------------------------
// The published tree before this run.

struct PreviousEntry {
    std::string digest;
    std::uint64_t size = 0;
};

struct PreviousManifest {
    bool present = false;
    std::optional<std::int32_t> revision;
    std::map<std::string, PreviousEntry> entries; // by manifest path, all sections
    std::map<std::string, std::string> normal;    // files_normal: path -> digest
};

std::vector<std::string> SectionEntries(const TListFile& list, const char* name) {
    std::vector<std::string> entries = list.GetSection(name);
    if (entries.size() == 1 && entries.front() == kEmptySection)
        entries.clear();
    return entries;
}

// Reads OUT/files.lst.bz2; `scratch` is a free file name for the unpacked
// manifest. A manifest that cannot be read only costs the reuse of copies.
PreviousManifest ReadPreviousManifest(const fs::path& out, const fs::path& scratch,
                                      std::vector<std::string>& warnings) {
    PreviousManifest previous;
    const fs::path copy = out / kManifestCopyName;
    std::error_code error;
    if (!fs::exists(fs::symlink_status(copy, error)))
        return previous;
    previous.present = true;
    try {
        std::string text;
        {
            TFileStream in(platform::PathText(copy), TFileStream::Mode::fmOpenRead);
            TBZDecompressionStream bz(in);
            std::unique_ptr<char[]> buffer(new char[kBlockSize]);
            while (const std::size_t n = bz.Read(buffer.get(), kBlockSize))
                text.append(buffer.get(), n);
            if (!bz.StreamEnded())
                throw EPublishError("the compressed data is cut off");
        }
        {
            std::ofstream file(scratch, std::ios::binary);
            file.write(text.data(), static_cast<std::streamsize>(text.size()));
            if (!file.flush())
                throw EPublishError(SystemError("Cannot write", scratch, errno));
        }
        const TListFile list(platform::PathText(scratch));
        try {
            previous.revision = StrToInt(list.GetValue("settings", "Rev"));
        } catch (const EConvertError&) {
            warnings.push_back("The published manifest has no valid revision: the new one is "
                               "not compared with it.");
        }
        const auto add = [&](const std::string& entry, bool normal) {
            const std::vector<std::string> fields = SplitFromEnd(entry, "|");
            if (fields.size() < 3 || !IsSafeRelativePath(fields[2]))
                return;
            if (normal)
                previous.normal[fields[2]] = fields[1];
            if (const auto size = ParseUnsigned(fields[0]))
                previous.entries[fields[2]] = {fields[1], *size};
        };
        const std::vector<std::string> self = SectionEntries(list, "self");
        if (!self.empty())
            add(self.front(), false);
        for (const std::string& entry : SectionEntries(list, "files_critical"))
            add(entry, false);
        for (const std::string& entry : SectionEntries(list, "files_normal"))
            add(entry, true);
    } catch (const std::exception& e) {
        warnings.push_back("The published manifest " + QuotedPath(copy) + " cannot be read (" +
                           e.what() + "): no copy is reused and the revision is not checked.");
        previous = PreviousManifest{};
        previous.present = true;
    }
    fs::remove(scratch, error);
    return previous;
}

// ---------------------------------------------------------------------------
// The run.

enum class Section { Self, Critical, Normal };

struct Job {
    std::string relative;     // UTF-8, "/" separators
    std::string manifestPath; // Windows-1251, "\" separators
    fs::path source;
    Section section = Section::Normal;
    const PreviousEntry* previous = nullptr;
    // Results.
    std::string digest;
    std::uint64_t contentSize = 0;
    std::uint64_t copySize = 0;
    bool reused = false;
};

void ProcessJob(Job& job, const fs::path& staging, const fs::path& out,
                const std::atomic<bool>* cancel, const std::atomic<bool>& failed) {
    const fs::path target = staging / platform::FsPath(job.relative + kCopySuffix);
    std::optional<std::string> firstDigest;
    if (job.previous) {
        const ContentInfo content = DigestFile(job.source, cancel, failed);
        const fs::path old = out / platform::FsPath(job.relative + kCopySuffix);
        std::error_code error;
        if (content.digest == job.previous->digest &&
            fs::is_regular_file(fs::symlink_status(old, error)) &&
            fs::file_size(old, error) == job.previous->size && !error) {
            fs::create_hard_link(old, target, error);
            if (error) {
                error.clear();
                fs::copy_file(old, target, error);
                if (error)
                    throw EPublishError(SystemError("Cannot copy", old, error));
            }
            job.digest = content.digest;
            job.contentSize = content.size;
            job.copySize = job.previous->size;
            job.reused = true;
            return;
        }
        firstDigest = content.digest;
    }
    const ContentInfo content = CompressFile(job.source, target, cancel, failed);
    if (firstDigest && *firstDigest != content.digest)
        throw EPublishError(Quoted(job.relative) + " changed while it was being published");
    std::error_code error;
    const std::uint64_t size = fs::file_size(target, error);
    if (error)
        throw EPublishError(SystemError("Cannot read", target, error));
    if (size > kMaxListedSize)
        throw EPublishError("The compressed copy of " + Quoted(job.relative) + " has " +
                            std::to_string(size) + " bytes, more than the manifest can list");
    job.digest = content.digest;
    job.contentSize = content.size;
    job.copySize = size;
}

void RunJobs(std::vector<Job>& jobs, unsigned threads, const fs::path& staging, const fs::path& out,
             const std::atomic<bool>* cancel,
             const std::function<void(const Progress&)>& onProgress) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex mutex;
    std::exception_ptr firstError;
    std::size_t done = 0;
    const auto work = [&] {
        while (!failed.load()) {
            const std::size_t i = next.fetch_add(1);
            if (i >= jobs.size())
                return;
            try {
                ProcessJob(jobs[i], staging, out, cancel, failed);
                const std::lock_guard lock(mutex);
                ++done;
                if (onProgress)
                    onProgress({done, jobs.size(), jobs[i].relative, jobs[i].reused});
            } catch (...) {
                const std::lock_guard lock(mutex);
                if (!firstError)
                    firstError = std::current_exception();
                failed = true;
                return;
            }
        }
    };
    const unsigned count =
        static_cast<unsigned>(std::min<std::size_t>(std::max(threads, 1u), jobs.size()));
    std::vector<std::thread> workers;
    for (unsigned k = 1; k < count; ++k)
        workers.emplace_back(work);
    work();
    for (std::thread& worker : workers)
        worker.join();
    if (firstError)
        std::rethrow_exception(firstError);
}

void AppendSection(std::string& text, const char* name, const std::vector<std::string>& entries) {
    text += std::string("[") + name + "]\r\n";
    for (const std::string& entry : entries)
        text += entry + "\r\n";
    text += std::string("[/") + name + "]\r\n";
}

std::string FileLine(const Job& job) {
    return job.manifestPath + "|" + job.digest + "|" + std::to_string(job.copySize);
}

// The self entry's copy is fetched under its name exactly as listed, so the
// name must not need any encoding in an address.
bool IsPlainFileName(std::string_view name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '.' || c == '_' || c == '~';
    });
}

// Puts the staging folder in place of OUT. Returns the folder that holds the
// old tree (to be removed), or an empty path.
fs::path SwapIn(const fs::path& staging, const fs::path& out) {
    std::error_code error;
    if (!fs::exists(fs::symlink_status(out, error))) {
        fs::rename(staging, out, error);
        if (error)
            throw EPublishError(SystemError("Cannot move the new tree to", out, error));
        return {};
    }
    const int exchange =
        platform::ExchangeFolders(platform::PathText(staging), platform::PathText(out));
    if (exchange == 0)
        return staging; // it holds the old tree now
    if (exchange != ENOTSUP)
        throw EPublishError(SystemError("Cannot put the new tree in place of", out, exchange));
    // No exchange on this file system: move OUT aside, then the new tree in.
    const fs::path aside = MakeUniqueFolder(out, kAsideInfix);
    fs::remove(aside, error);
    fs::rename(out, aside, error);
    if (error)
        throw EPublishError(SystemError("Cannot move aside", out, error));
    fs::rename(staging, out, error);
    if (error) {
        std::error_code back;
        fs::rename(aside, out, back);
        throw EPublishError(SystemError("Cannot move the new tree to", out, error));
    }
    return aside;
}

// Removes the staging folder unless released.
class StagingGuard {
public:
    explicit StagingGuard(fs::path path) : path_(std::move(path)) {}
    ~StagingGuard() {
        if (!path_.empty()) {
            std::error_code error;
            fs::remove_all(path_, error);
        }
    }
    StagingGuard(const StagingGuard&) = delete;
    StagingGuard& operator=(const StagingGuard&) = delete;
    void Release() { path_.clear(); }

private:
    fs::path path_;
};

fs::path Normalised(const fs::path& path) {
    fs::path result = fs::absolute(path).lexically_normal();
    if (!result.has_filename() && result.has_relative_path())
        result = result.parent_path();
    return result;
}

std::string HumanBytes(std::uint64_t bytes) {
    static const char* const kUnits[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024)
        return std::to_string(bytes) + " bytes";
    auto value = static_cast<double>(bytes);
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(kUnits)) {
        value /= 1024;
        ++unit;
    }
    std::ostringstream text;
    text.setf(std::ios::fixed);
    text.precision(1);
    text << value << ' ' << kUnits[unit];
    return text.str();
}

} // namespace

// ---------------------------------------------------------------------------
// Patterns.

GlobPattern::GlobPattern(std::string_view pattern) : text_(pattern) {
    const auto fail = [this](const std::string& why) {
        throw EUsageError("Bad pattern " + Quoted(text_) + ": " + why);
    };
    if (pattern.empty())
        fail("it is empty");
    const std::optional<std::u32string> decoded = DecodeUtf8(pattern);
    if (!decoded)
        fail("it is not valid UTF-8");
    if (pattern.find('\\') != std::string_view::npos)
        fail("\"\\\" is not allowed (folders are separated by \"/\"; \"[*]\" matches a literal "
             "\"*\")");
    if (pattern.front() == '/')
        fail("patterns are relative to SOURCE and do not begin with \"/\"");
    std::u32string::size_type start = 0;
    while (start <= decoded->size()) {
        std::u32string::size_type stop = decoded->find(U'/', start);
        if (stop == std::u32string::npos)
            stop = decoded->size();
        const std::u32string part = decoded->substr(start, stop - start);
        start = stop + 1;
        if (part.empty())
            fail("it has an empty folder name (\"//\" or a final \"/\")");
        Component component;
        if (part == U"**") {
            component.globstar = true;
            components_.push_back(std::move(component));
            continue;
        }
        for (std::size_t i = 0; i < part.size();) {
            const char32_t c = part[i];
            Element element{Element::Kind::Literal, c, false, {}};
            if (c == U'*') {
                if (i + 1 < part.size() && part[i + 1] == U'*')
                    fail("\"**\" stands only as a whole folder name, as in \"**/x\" or \"x/**\"");
                element.kind = Element::Kind::Star;
                ++i;
            } else if (c == U'?') {
                element.kind = Element::Kind::Any;
                ++i;
            } else if (c == U'[') {
                element.kind = Element::Kind::Set;
                ++i;
                if (i < part.size() && (part[i] == U'!' || part[i] == U'^')) {
                    element.negated = true;
                    ++i;
                }
                bool first = true;
                while (true) {
                    if (i >= part.size())
                        fail("\"[\" without \"]\"");
                    const char32_t low = part[i];
                    if (low == U']' && !first)
                        break;
                    first = false;
                    if (i + 2 < part.size() && part[i + 1] == U'-' && part[i + 2] != U']') {
                        const char32_t high = part[i + 2];
                        if (high < low)
                            fail("a reversed range in \"[...]\"");
                        element.ranges.emplace_back(low, high);
                        i += 3;
                    } else {
                        element.ranges.emplace_back(low, low);
                        ++i;
                    }
                }
                ++i; // the closing "]"
            } else {
                ++i;
            }
            component.elements.push_back(std::move(element));
        }
        components_.push_back(std::move(component));
    }
}

bool GlobPattern::Matches(std::string_view relativePath) const {
    const std::optional<std::u32string> decoded = DecodeUtf8(relativePath);
    if (!decoded)
        return false;
    std::vector<std::u32string> parts;
    std::u32string::size_type start = 0;
    while (start <= decoded->size()) {
        std::u32string::size_type stop = decoded->find(U'/', start);
        if (stop == std::u32string::npos)
            stop = decoded->size();
        parts.push_back(decoded->substr(start, stop - start));
        start = stop + 1;
    }
    return MatchFrom(0, parts, 0);
}

bool GlobPattern::MatchFrom(std::size_t patternIndex, const std::vector<std::u32string>& parts,
                            std::size_t partIndex) const {
    if (patternIndex == components_.size())
        return partIndex == parts.size();
    const Component& component = components_[patternIndex];
    if (component.globstar) {
        // A final "**" needs something below the folder; an inner one may match nothing.
        const bool last = patternIndex + 1 == components_.size();
        if (last)
            return partIndex < parts.size();
        for (std::size_t k = partIndex; k <= parts.size(); ++k)
            if (MatchFrom(patternIndex + 1, parts, k))
                return true;
        return false;
    }
    return partIndex < parts.size() && MatchComponent(component.elements, parts[partIndex]) &&
           MatchFrom(patternIndex + 1, parts, partIndex + 1);
}

bool GlobPattern::MatchComponent(const std::vector<Element>& elements, const std::u32string& name) {
    const auto one = [](const Element& element, char32_t c) {
        switch (element.kind) {
        case Element::Kind::Literal:
            return element.ch == c;
        case Element::Kind::Any:
            return true;
        case Element::Kind::Set: {
            const bool inSet =
                std::any_of(element.ranges.begin(), element.ranges.end(),
                            [c](const auto& r) { return r.first <= c && c <= r.second; });
            return inSet != element.negated;
        }
        case Element::Kind::Star:
            break;
        }
        return false;
    };
    constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    std::size_t p = 0, s = 0, starAt = kNone, starFrom = 0;
    while (s < name.size()) {
        if (p < elements.size() && elements[p].kind == Element::Kind::Star) {
            starAt = p++;
            starFrom = s;
        } else if (p < elements.size() && one(elements[p], name[s])) {
            ++p;
            ++s;
        } else if (starAt != kNone) {
            p = starAt + 1;
            s = ++starFrom;
        } else {
            return false;
        }
    }
    while (p < elements.size() && elements[p].kind == Element::Kind::Star)
        ++p;
    return p == elements.size();
}

// ---------------------------------------------------------------------------
// Values.

bool IsAddressLiteral(std::string_view text) {
    if (text.empty() || text.size() > 64)
        return false;
    return platform::IsIpAddressLiteral(std::string(text));
}

bool IsPlainHostName(std::string_view text) {
    if (text.empty() || text.size() > 253 || IsAddressLiteral(text))
        return false;
    const std::vector<std::string_view> labels = SplitParts(text, '.');
    for (const std::string_view label : labels) {
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
            return false;
        for (const char c : label)
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  c == '-'))
                return false;
    }
    // The last label of a name is never all digits ("10.1.2" is no host name).
    const std::string_view last = labels.back();
    return !std::all_of(last.begin(), last.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<HostEntry> ReadHostsFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw EUsageError(SystemError("Cannot read the hosts list", file, errno));
    std::vector<HostEntry> hosts;
    std::string line;
    for (std::size_t number = 1; std::getline(in, line); ++number) {
        const std::string where =
            Printable(platform::PathText(file)) + ":" + std::to_string(number) + ": ";
        std::string_view content(line);
        if (const std::size_t hash = content.find('#'); hash != std::string_view::npos)
            content = content.substr(0, hash);
        std::vector<std::string_view> fields;
        std::size_t i = 0;
        const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
        while (i < content.size()) {
            while (i < content.size() && blank(content[i]))
                ++i;
            const std::size_t from = i;
            while (i < content.size() && !blank(content[i]))
                ++i;
            if (i > from)
                fields.push_back(content.substr(from, i - from));
        }
        if (fields.empty())
            continue;
        if (fields.size() != 2)
            throw EUsageError(where + "expected \"address hostname\", found " + Quoted(line));
        if (!IsAddressLiteral(fields[0]))
            throw EUsageError(where + Quoted(fields[0]) + " is not an IPv4 or IPv6 address");
        if (!IsPlainHostName(fields[1]))
            throw EUsageError(where + Quoted(fields[1]) + " is not a plain DNS host name");
        hosts.push_back({std::string(fields[0]), std::string(fields[1])});
    }
    if (in.bad())
        throw EUsageError(SystemError("Cannot read the hosts list", file, errno));
    return hosts;
}

std::int32_t ParseRevision(std::string_view text) {
    std::int64_t value = 0;
    const bool digitsOnly = !text.empty() &&
                            std::all_of(text.begin() + (text.front() == '-' ? 1 : 0), text.end(),
                                        [](char c) { return c >= '0' && c <= '9'; }) &&
                            text != "-";
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (!digitsOnly || error != std::errc() || end != text.data() + text.size() ||
        value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max())
        throw EUsageError("Bad revision " + Quoted(text) +
                          ": expected a decimal number from -2147483648 to 2147483647");
    return static_cast<std::int32_t>(value);
}

// ---------------------------------------------------------------------------

Summary Publish(const Options& options, const std::function<void(const Progress&)>& onProgress) {
    Summary summary;
    summary.revision = options.revision;
    std::error_code error;

    // The inputs.
    const fs::path sourceGiven = Normalised(options.source);
    if (!fs::is_directory(sourceGiven, error))
        throw EUsageError("SOURCE " + QuotedPath(options.source) + " is not a folder");
    const fs::path source = fs::canonical(sourceGiven, error);
    if (error)
        throw EUsageError(SystemError("Cannot read SOURCE", sourceGiven, error));

    fs::path out = Normalised(options.out);
    const fs::file_status outLink = fs::symlink_status(out, error);
    bool outExists = fs::exists(fs::status(out, error));
    if (fs::is_symlink(outLink) && !outExists)
        throw EUsageError("OUT " + QuotedPath(options.out) + " is a broken symbolic link");
    // A link to the published folder stays: the tree is replaced where it points.
    out = outExists ? fs::canonical(out, error) : fs::weakly_canonical(out, error);
    if (error)
        throw EUsageError(SystemError("Cannot read OUT", options.out, error));
    if (outExists) {
        if (!fs::is_directory(out, error))
            throw EUsageError("OUT " + QuotedPath(options.out) + " is not a folder");
        const bool empty = fs::is_empty(out, error);
        if (error)
            throw EUsageError(SystemError("Cannot read OUT", out, error));
        if (!empty && !fs::exists(fs::symlink_status(out / kManifestCopyName, error)))
            throw EUsageError("OUT " + QuotedPath(options.out) + " is not empty and holds no " +
                              kManifestCopyName +
                              ": it is not a published tree, and it is not replaced");
    }
    if (IsWithin(out, source))
        throw EUsageError("OUT " + QuotedPath(options.out) + " lies inside SOURCE");
    if (IsWithin(source, out))
        throw EUsageError("SOURCE " + QuotedPath(options.source) + " lies inside OUT");
    if (!out.has_relative_path())
        throw EUsageError("OUT cannot be the root folder");

    std::vector<GlobPattern> patterns;
    for (const std::string& text : options.criticalPatterns)
        patterns.emplace_back(text);

    std::vector<HostEntry> hosts;
    if (options.hostsFile)
        hosts = ReadHostsFile(*options.hostsFile);

    if (!options.selfName.empty()) {
        if (!IsPlainFileName(options.selfName))
            throw EUsageError("The launcher build name " + Quoted(options.selfName) +
                              " must be a file name of letters, digits, \"-\", \".\", \"_\" and "
                              "\"~\" (it is fetched under this name as it stands)");
        if (!fs::is_regular_file(source / platform::FsPath(options.selfName), error))
            throw EUsageError("The launcher build " + Quoted(options.selfName) +
                              " is not a file in SOURCE");
    }

    // The files, all checked before anything is written.
    TreeScanner scanner(source);
    scanner.Scan();
    std::vector<std::string> problems = std::move(scanner.problems);
    std::set<std::string> reported;
    std::set<std::string> allPaths;
    for (const FoundFile& file : scanner.files)
        allPaths.insert(file.relative);

    std::vector<Job> jobs;
    std::vector<bool> patternUsed(patterns.size(), false);
    for (FoundFile& file : scanner.files) {
        const std::vector<std::string_view> names = SplitParts(file.relative, '/');
        bool bad = false;
        std::string prefix;
        for (const std::string_view name : names) {
            prefix += prefix.empty() ? std::string(name) : "/" + std::string(name);
            const std::string why = NameProblem(name);
            if (!why.empty()) {
                if (reported.insert(prefix).second)
                    problems.push_back(Quoted(prefix) + ": " + why);
                bad = true;
                break;
            }
        }
        if (bad)
            continue;
        if (names.size() == 1 && (names[0] == kManifestName || names[0] == kManifestCopyName)) {
            problems.push_back(Quoted(file.relative) +
                               ": the launcher keeps the manifest under this name");
            continue;
        }
        if (names.size() > 1 && names[0] == kBackupFolder) {
            if (reported.insert(kBackupFolder).second)
                problems.push_back(Quoted(kBackupFolder) +
                                   ": the launcher empties this folder for its own backups");
            continue;
        }
        if (EndsWith(file.relative, kCopySuffix) &&
            allPaths.count(file.relative.substr(0, file.relative.size() - 4))) {
            problems.push_back(Quoted(file.relative) + ": the launcher downloads " +
                               Quoted(file.relative.substr(0, file.relative.size() - 4)) +
                               " under this name");
            continue;
        }
        const std::optional<std::string> manifestPath =
            platform::LocalPathToManifest(file.relative);
        if (!manifestPath || platform::ManifestPathToRelative(*manifestPath) != file.relative ||
            !IsSafeRelativePath(*manifestPath)) {
            problems.push_back(Quoted(file.relative) + ": the path cannot be written in the "
                                                       "manifest");
            continue;
        }
        Job job;
        job.relative = file.relative;
        job.manifestPath = *manifestPath;
        job.source = std::move(file.path);
        job.section = Section::Normal;
        for (std::size_t k = 0; k < patterns.size(); ++k) {
            if (patterns[k].Matches(file.relative)) {
                patternUsed[k] = true;
                job.section = Section::Critical;
            }
        }
        if (names.size() == 1 && file.relative == options.selfName)
            job.section = Section::Self; // listed there only, whatever the patterns say
        jobs.push_back(std::move(job));
    }
    if (!problems.empty()) {
        std::string text = std::to_string(problems.size()) +
                           (problems.size() == 1 ? " file of SOURCE cannot be published:"
                                                 : " files of SOURCE cannot be published:");
        for (std::size_t k = 0; k < problems.size() && k < kMaxProblemsShown; ++k)
            text += "\n  " + problems[k];
        if (problems.size() > kMaxProblemsShown)
            text += "\n  ... and " + std::to_string(problems.size() - kMaxProblemsShown) + " more";
        throw EPublishError(text);
    }
    if (!options.selfName.empty() && std::none_of(jobs.begin(), jobs.end(), [](const Job& j) {
            return j.section == Section::Self;
        }))
        throw EUsageError("The launcher build " + Quoted(options.selfName) +
                          " is not a file in SOURCE");
    std::sort(jobs.begin(), jobs.end(),
              [](const Job& a, const Job& b) { return a.manifestPath < b.manifestPath; });
    for (std::size_t k = 0; k < patterns.size(); ++k)
        if (!patternUsed[k])
            summary.warnings.push_back("The pattern " + Quoted(patterns[k].Text()) +
                                       " matches no file.");

    // Folders left by runs that were killed.
    const fs::path parent = out.parent_path();
    const std::string outName = platform::PathText(out.filename());
    for (fs::directory_iterator it(parent, error), end; !error && it != end; it.increment(error)) {
        const std::string name = platform::PathText(it->path().filename());
        if (name.rfind(outName + kStagingInfix, 0) == 0 ||
            name.rfind(outName + kAsideInfix, 0) == 0)
            summary.warnings.push_back("The folder " + QuotedPath(it->path()) +
                                       " is left from an interrupted run; remove it when no other "
                                       "publishing runs.");
    }
    error.clear();

    // The staging folder, beside OUT so that renames can swap it in.
    fs::create_directories(parent, error);
    if (error)
        throw EPublishError(SystemError("Cannot create the folder", parent, error));
    const fs::path staging = MakeUniqueFolder(out, kStagingInfix);
    StagingGuard guard(staging);
    if (outExists) {
        const fs::file_status status = fs::status(out, error);
        if (!error)
            fs::permissions(staging, status.permissions(), error);
        error.clear();
    }

    const PreviousManifest previous =
        ReadPreviousManifest(out, staging / ".previous-files.lst", summary.warnings);
    summary.previousRevision = previous.revision;
    std::map<std::string, std::string> normalNow; // digests still to come
    for (const Job& job : jobs)
        if (job.section == Section::Normal)
            normalNow[job.manifestPath];
    const auto revisionProblem = [&] {
        return EUsageError("The files of files_normal differ from published revision " +
                           std::to_string(*previous.revision) + ": --rev must be greater than " +
                           std::to_string(*previous.revision));
    };
    if (previous.revision) {
        if (options.revision < *previous.revision)
            throw EUsageError("--rev " + std::to_string(options.revision) +
                              " is lower than the published revision " +
                              std::to_string(*previous.revision));
        const bool samePaths =
            normalNow.size() == previous.normal.size() &&
            std::equal(normalNow.begin(), normalNow.end(), previous.normal.begin(),
                       [](const auto& a, const auto& b) { return a.first == b.first; });
        if (options.revision == *previous.revision && !samePaths)
            throw revisionProblem();
    }
    for (Job& job : jobs) {
        const auto found = previous.entries.find(job.manifestPath);
        if (found != previous.entries.end())
            job.previous = &found->second;
    }

    // The copies.
    std::set<fs::path> folders;
    for (const Job& job : jobs)
        folders.insert((staging / platform::FsPath(job.relative)).parent_path());
    for (const fs::path& folder : folders) {
        fs::create_directories(folder, error);
        if (error)
            throw EPublishError(SystemError("Cannot create the folder", folder, error));
    }
    unsigned threads = options.jobs;
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    RunJobs(jobs, threads, staging, out, options.cancel, onProgress);

    for (const Job& job : jobs)
        if (job.section == Section::Normal)
            normalNow[job.manifestPath] = job.digest;
    if (previous.revision && options.revision == *previous.revision && normalNow != previous.normal)
        throw revisionProblem();

    // The manifest.
    std::vector<std::string> hostLines, selfLines, criticalLines, normalLines;
    for (const HostEntry& host : hosts)
        hostLines.push_back(host.address + "|" + host.hostname);
    for (const Job& job : jobs) {
        switch (job.section) {
        case Section::Self:
            selfLines.push_back(FileLine(job));
            summary.selfPublished = true;
            break;
        case Section::Critical:
            criticalLines.push_back(FileLine(job));
            ++summary.criticalFiles;
            break;
        case Section::Normal:
            normalLines.push_back(FileLine(job));
            ++summary.normalFiles;
            break;
        }
        summary.contentBytes += job.contentSize;
        summary.compressedBytes += job.copySize;
        ++(job.reused ? summary.reusedCopies : summary.compressedCopies);
    }
    std::string manifest;
    AppendSection(manifest, "settings",
                  {"Rev|" + std::to_string(options.revision),
                   std::string("ModHosts|") + (options.modHosts ? "1" : "0")});
    AppendSection(manifest, "hosts", hostLines);
    AppendSection(manifest, "self", selfLines);
    AppendSection(manifest, "files_critical", criticalLines);
    AppendSection(manifest, "files_normal", normalLines);
    CompressText(manifest, staging / kManifestCopyName);
    for (const fs::path& folder : folders)
        SyncFolder(folder);
    SyncFolder(staging);

    if (options.cancel && options.cancel->load())
        throw EPublishError("Interrupted");

    // The swap.
    const fs::path old = SwapIn(staging, out);
    guard.Release();
    SyncFolder(parent);
    if (!old.empty()) {
        fs::remove_all(old, error);
        if (error)
            summary.warnings.push_back(SystemError("The previous tree was replaced but cannot be "
                                                   "removed:",
                                                   old, error));
    }
    return summary;
}

// ---------------------------------------------------------------------------
// The command line.

std::string UsageText() {
    return R"(Usage: quenmor-publish SOURCE OUT --rev N [options]

Publishes the client folder SOURCE as the update tree OUT that the update
server serves: OUT/files.lst.bz2 (the manifest) and one bzip2 copy per file,
FILE.bz2, in the same folders as in SOURCE.

Options:
  --rev N             the revision (decimal, 32-bit signed); required. It may
                      not go down, and must grow when files_normal changes.
  --mod-hosts 0|1     whether the launcher maintains the hosts file (default 0)
  --hosts FILE        the hosts entries: lines "address hostname" (an IPv4 or
                      IPv6 address and a plain DNS name); blank lines and "#"
                      comments are skipped
  --critical PATTERN  files checked on every run (section files_critical);
                      may be repeated. The other files go to files_normal.
  --self NAME         the launcher build: a file directly in SOURCE, listed
                      in section "self" only (letters, digits, "-._~")
  --jobs N            compression threads (default: one per processor)
  --help              this text

Patterns are matched against the whole path relative to SOURCE, with "/"
between folders, case-sensitively:
  *      any characters within one name (not "/")   e.g. "bin/*.dll"
  ?      one character, not "/"
  [...]  one character of a set: "[a-z]", "[!0-9]"; "[*]" is a literal "*"
  **     as a whole folder name: "**/" is any number of folders (or none),
         a final "/**" is everything below a folder   e.g. "**/*.exe", "data/**"
  A leading "." is matched like any other character; "\" is not allowed.

Files:
  Symbolic links to files and folders inside SOURCE are followed (the
  content is published under the link's name); links that are broken, lead
  outside SOURCE, or form a loop are errors, and so are special files
  (devices, pipes, sockets). Empty folders are not published (the manifest
  lists files only). Names must be valid UTF-8 that Windows-1251 can
  carry, without control characters, "|", ":" or "\", and not begin or end
  with a blank. Refused too: "files.lst" and "files.lst.bz2" and a folder
  "backup" at the top, names of the launcher's temporary files
  (".quenmor-tmp-XXXXXX"), and FILE.bz2 beside FILE (the launcher downloads
  FILE under that name). All such problems are listed before anything is
  written.

Output:
  The new tree is built in a folder OUT.quenmor-staging-XXXXXXXX beside OUT
  and swapped in with renames at the end; if anything fails OUT stays as it
  was. OUT must be empty, missing, or a tree published before. Copies of
  files whose digest matches the previous manifest are reused (hard-linked,
  or copied across file systems) instead of compressed again.

Exit status: 0 published, 1 publishing failed, 2 bad command line or a bad
input that it names (SOURCE, OUT, --self, --hosts, --rev).
)";
}

int RunCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                   const std::atomic<bool>* cancel, bool showProgress) {
    constexpr const char* kProgram = "quenmor-publish";
    bool progressShown = false;
    try {
        Options options;
        options.cancel = cancel;
        std::vector<std::string> positional;
        std::optional<std::string> revision, modHosts, hostsFile, self, jobs;
        bool optionsEnded = false;
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            const std::string& argument = arguments[i];
            if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
                positional.push_back(argument);
                continue;
            }
            if (argument == "--") {
                optionsEnded = true;
                continue;
            }
            if (argument == "--help" || argument == "-h") {
                out << UsageText();
                return 0;
            }
            std::string name = argument;
            std::optional<std::string> value;
            if (const std::size_t equals = argument.find('='); equals != std::string::npos) {
                name = argument.substr(0, equals);
                value = argument.substr(equals + 1);
            }
            std::optional<std::string>* single = nullptr;
            if (name == "--rev")
                single = &revision;
            else if (name == "--mod-hosts")
                single = &modHosts;
            else if (name == "--hosts")
                single = &hostsFile;
            else if (name == "--self")
                single = &self;
            else if (name == "--jobs")
                single = &jobs;
            else if (name != "--critical")
                throw EUsageError("Unknown option " + Quoted(name));
            if (!value) {
                if (i + 1 >= arguments.size())
                    throw EUsageError("The option " + name + " needs a value");
                value = arguments[++i];
            }
            if (!single) {
                options.criticalPatterns.push_back(*value);
            } else {
                if (*single)
                    throw EUsageError("The option " + name + " is given twice");
                *single = *value;
            }
        }
        if (positional.size() != 2)
            throw EUsageError(positional.size() < 2
                                  ? "SOURCE and OUT are required"
                                  : "Unexpected argument " + Quoted(positional[2]));
        options.source = platform::FsPath(positional[0]);
        options.out = platform::FsPath(positional[1]);
        if (!revision)
            throw EUsageError("--rev N is required");
        options.revision = ParseRevision(*revision);
        if (modHosts) {
            if (*modHosts != "0" && *modHosts != "1")
                throw EUsageError("--mod-hosts takes 0 or 1, not " + Quoted(*modHosts));
            options.modHosts = *modHosts == "1";
        }
        if (hostsFile)
            options.hostsFile = platform::FsPath(*hostsFile);
        if (self)
            options.selfName = *self;
        if (jobs) {
            const std::optional<std::uint64_t> count = ParseUnsigned(*jobs);
            if (!count || *count < 1 || *count > 64)
                throw EUsageError("--jobs takes a number from 1 to 64, not " + Quoted(*jobs));
            options.jobs = static_cast<unsigned>(*count);
        }
        for (const std::string& pattern : options.criticalPatterns)
            GlobPattern check(pattern);

        std::function<void(const Progress&)> onProgress;
        if (showProgress)
            onProgress = [&](const Progress& progress) {
                progressShown = true;
                std::string path = Printable(progress.path);
                if (path.size() > 60) {
                    std::size_t cut = path.size() - 57;
                    while (cut < path.size() &&
                           (static_cast<unsigned char>(path[cut]) & 0xC0) == 0x80)
                        ++cut;
                    path = "..." + path.substr(cut);
                }
                err << "\r\033[K[" << progress.done << "/" << progress.total << "] "
                    << (progress.reused ? "reused " : "compressed ") << path << std::flush;
            };
        const Summary summary = Publish(options, onProgress);
        if (progressShown)
            err << "\r\033[K" << std::flush;
        for (const std::string& warning : summary.warnings)
            err << kProgram << ": warning: " << warning << "\n";
        out << "Published revision " << summary.revision << " to " << Printable(positional[1])
            << ": " << summary.criticalFiles + summary.normalFiles
            << (summary.criticalFiles + summary.normalFiles == 1 ? " file (" : " files (")
            << summary.criticalFiles << " critical, " << summary.normalFiles << " normal)";
        if (summary.selfPublished)
            out << " and the launcher build " << Quoted(options.selfName);
        out << ".\n"
            << "Content " << HumanBytes(summary.contentBytes) << ", compressed copies "
            << HumanBytes(summary.compressedBytes) << "; " << summary.reusedCopies
            << " copies reused, " << summary.compressedCopies << " compressed.\n";
        if (summary.previousRevision)
            out << "Replaced revision " << *summary.previousRevision << ".\n";
        return 0;
    } catch (const EUsageError& e) {
        if (progressShown)
            err << "\n";
        err << kProgram << ": " << e.what() << "\nTry '" << kProgram << " --help'.\n";
        return 2;
    } catch (const std::exception& e) {
        if (progressShown)
            err << "\n";
        err << kProgram << ": " << e.what() << "\n";
        return 1;
    }
}

} // namespace publish
