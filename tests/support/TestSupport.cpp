#include "TestSupport.h"

#include "BZip2.h"
#include "Files.h"
#include "Streams.h"
#include "md5.h"

#include <bzlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string_view>
#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using platform::FsPath;
using platform::PathText;

namespace testing_support {
namespace {

#ifdef _WIN32
// A new folder under `parent` named quenmor-test- and six random letters or
// digits, as mkdtemp makes them elsewhere.
fs::path NewFolder(const fs::path& parent) {
    static std::atomic<std::uint32_t> made{0};
    std::seed_seq seed{
        std::random_device()(), ++made,
        static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count())};
    std::mt19937 random(seed);
    const std::string_view letters = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = "quenmor-test-";
        for (int i = 0; i < 6; ++i)
            name += letters[random() % letters.size()];
        std::error_code error;
        if (fs::create_directory(parent / name, error))
            return parent / name;
        if (error)
            break;
    }
    throw std::runtime_error("cannot make a temporary folder");
}
#endif

} // namespace

TempDir::TempDir() {
#ifdef _WIN32
    path_ = NewFolder(fs::temp_directory_path());
#else
    std::string pattern = (fs::temp_directory_path() / "quenmor-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
#endif
}

TempDir::~TempDir() {
    std::error_code error;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(path_, error);
}

std::string TempDir::operator/(const std::string& name) const {
    return PathText(path_ / FsPath(name));
}

ScopedCurrentDir::ScopedCurrentDir(const fs::path& folder) : previous_(fs::current_path()) {
    fs::current_path(folder);
}

ScopedCurrentDir::~ScopedCurrentDir() {
    std::error_code error;
    fs::current_path(previous_, error);
}

void WriteFile(const std::string& path, const std::string& content) {
    const fs::path file = FsPath(path);
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(FsPath(path), std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string GenericText(const fs::path& path) {
    const std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

bool Exists(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(FsPath(path), error));
}

bool RunningAsRoot() {
#ifdef _WIN32
    return false;
#else
    return ::geteuid() == 0;
#endif
}

SmallDisk::SmallDisk(const fs::path& folder, const std::string& size) : folder_(folder) {
    fs::create_directories(folder);
    if (!RunningAsRoot())
        return;
    const std::string command =
        "mount -t tmpfs -o size=" + size + " tmpfs '" + folder.string() + "' 2>/dev/null";
    mounted_ = std::system(command.c_str()) == 0;
}

SmallDisk::~SmallDisk() {
    if (mounted_ && std::system(("umount '" + folder_.string() + "'").c_str()) != 0)
        ADD_FAILURE() << "cannot unmount " << folder_;
}

void SmallDisk::Fill(std::uintmax_t leave) {
    const fs::path filler = folder_ / "filler";
    std::FILE* file = platform::OpenFile(PathText(filler), "wb");
    ASSERT_NE(file, nullptr);
    // Block by block until about `leave` bytes are left, or none at all.
    const std::string block(4096, 'f');
    for (int i = 0; i < 1'000'000; ++i) {
        std::error_code error;
        if (leave > 0 && fs::space(folder_, error).available <= leave)
            break;
        if (std::fwrite(block.data(), 1, block.size(), file) != block.size() ||
            std::fflush(file) != 0)
            break;
    }
    std::fclose(file);
}

bool SmallDisk::MakeReadOnly() {
    return mounted_ && std::system(("mount -o remount,ro '" + folder_.string() + "'").c_str()) == 0;
}

std::string Unbzip2File(const std::string& path) {
    TFileStream in(path, TFileStream::Mode::fmOpenRead);
    TBZDecompressionStream bz(in);
    std::string data;
    std::string buffer(65536, '\0');
    while (const std::size_t n = bz.Read(buffer.data(), buffer.size()))
        data.append(buffer.data(), n);
    EXPECT_TRUE(bz.StreamEnded()) << path;
    return data;
}

std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files[GenericText(fs::relative(entry.path(), root))] = ReadFile(PathText(entry.path()));
    return files;
}

std::string Bzip2(const std::string& data) {
    // 900k blocks and the default work factor, as the bzip2 program's -9;
    // the output is at most 1% and 600 bytes larger than the input.
    if (data.size() > UINT_MAX / 2)
        throw std::runtime_error("too much data for Bzip2");
    std::string compressed(data.size() + data.size() / 100 + 600, '\0');
    auto size = static_cast<unsigned int>(compressed.size());
    if (BZ2_bzBuffToBuffCompress(compressed.data(), &size, const_cast<char*>(data.data()),
                                 static_cast<unsigned int>(data.size()), 9, 0, 30) != BZ_OK)
        throw std::runtime_error("bzip2 compression failed");
    compressed.resize(size);
    return compressed;
}

std::string Bzip2Zeros(std::uint64_t bytes) {
    static const std::string zeros(1 << 20, '\0');
    bz_stream stream{};
    if (BZ2_bzCompressInit(&stream, 9, 0, 30) != BZ_OK)
        throw std::runtime_error("bzip2 compression failed");
    std::string compressed;
    char out[4096];
    int result = BZ_RUN_OK;
    do {
        const std::uint64_t piece = std::min<std::uint64_t>(bytes, zeros.size());
        stream.next_in = const_cast<char*>(zeros.data());
        stream.avail_in = static_cast<unsigned int>(piece);
        bytes -= piece;
        const int action = bytes == 0 ? BZ_FINISH : BZ_RUN;
        do {
            stream.next_out = out;
            stream.avail_out = sizeof out;
            result = BZ2_bzCompress(&stream, action);
            compressed.append(out, sizeof out - stream.avail_out);
        } while (result == BZ_FINISH_OK || (action == BZ_RUN && stream.avail_in > 0));
    } while (result == BZ_RUN_OK);
    BZ2_bzCompressEnd(&stream);
    if (result != BZ_STREAM_END)
        throw std::runtime_error("bzip2 compression failed");
    return compressed;
}

std::string SampleData(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::string data;
    data.reserve(size + 64);
    std::uint32_t record = 0;
    while (data.size() < size) {
        switch (random() % 3) {
        case 0:
            data += "item " + std::to_string(record++) +
                    " = { name = \"sword\"; level = " + std::to_string(random() % 100) + "; }\n";
            break;
        case 1:
            for (int i = 0; i < 16; ++i)
                data += static_cast<char>(random() & 0xFF);
            break;
        default:
            data.append(static_cast<std::size_t>(random() % 32),
                        static_cast<char>('a' + random() % 4));
        }
    }
    data.resize(size);
    return data;
}

std::string Md5Hex(const std::string& data) {
    return DigestText(data.data(), data.size());
}

void RecordingTarget::Add(std::string event) {
    std::lock_guard lock(mutex_);
    if (!refused_.empty() && event == refused_)
        throw std::runtime_error("refused: " + event);
    events_.push_back(std::move(event));
}

void RecordingTarget::Clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
    causes_.clear();
    notes_.clear();
    refused_.clear();
}

void RecordingTarget::Refuse(std::string event) {
    std::lock_guard lock(mutex_);
    refused_ = std::move(event);
}

std::vector<std::string> RecordingTarget::Events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

void RecordingTarget::ShowCause(const std::string& cause) {
    std::lock_guard lock(mutex_);
    causes_.push_back(cause);
}

void RecordingTarget::ShowNote(const std::string& note) {
    std::lock_guard lock(mutex_);
    notes_.push_back(note);
}

std::vector<std::string> RecordingTarget::Notes() const {
    std::lock_guard lock(mutex_);
    return notes_;
}

std::vector<std::string> RecordingTarget::Causes() const {
    std::lock_guard lock(mutex_);
    return causes_;
}

bool RecordingTarget::HasCause(const std::string& part) const {
    std::lock_guard lock(mutex_);
    return std::any_of(causes_.begin(), causes_.end(), [&](const std::string& cause) {
        return cause.find(part) != std::string::npos;
    });
}

std::vector<std::string> RecordingTarget::EventsWithoutFileProgress() const {
    std::vector<std::string> kept;
    for (const std::string& e : Events())
        if (e.rfind("SetFileProgress:", 0) != 0 && e.rfind("SetFileGaugeMax:", 0) != 0)
            kept.push_back(e);
    return kept;
}

std::vector<std::int64_t> RecordingTarget::Values(const std::string& kind) const {
    std::vector<std::int64_t> values;
    const std::string prefix = kind + ":";
    for (const std::string& e : Events())
        if (e.rfind(prefix, 0) == 0)
            values.push_back(std::stoll(e.substr(prefix.size())));
    return values;
}

void RunToEnd(GFilesThread& run, const std::filesystem::path& folder, std::chrono::seconds limit) {
    ScopedCurrentDir cwd(folder);
    run.Start();
    if (!run.WaitFor(limit))
        ADD_FAILURE() << "the run did not end within " << limit.count() << " s";
    run.WaitFor();
}

RunTransfer::RunTransfer(TUpdateTarget& target, TDispatcher dispatcher,
                         TNotifier::Settings settings)
    : notifier_(target, std::move(dispatcher), settings) {
    http.agent = kAgentName;
}

TFileTransfer& RunTransfer::transfer() {
    if (!transfer_)
        transfer_ = std::make_unique<TFileTransfer>(notifier_, http, retry);
    return *transfer_;
}

bool RunTransfer::Download(const std::string& url, const std::string& target, bool progress,
                           const limits::TSizeLimit& limit) {
    return transfer().Download(url, target, progress, limit).opened;
}

void RunTransfer::Unpack(const std::string& compressed, const std::string& target,
                         const std::string& digest) {
    transfer().Unpack(compressed, target, digest);
}

} // namespace testing_support
