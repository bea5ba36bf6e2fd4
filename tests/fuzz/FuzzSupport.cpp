#include "FuzzSupport.h"

#include "Errors.h"
#include "Files.h"
#include "Process.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace fuzz {
namespace {

// Longest detail printed with a broken property; the input itself is kept by
// libFuzzer.
constexpr std::size_t kMaxDetail = 4000;

fs::path ScratchBase() {
    std::error_code error;
    if (std::getenv("TMPDIR") == nullptr && fs::is_directory("/dev/shm", error))
        return "/dev/shm";
    return fs::temp_directory_path();
}

// The scratch folder, removed with what it holds when the process ends.
struct Scratch {
    Scratch() : path(ScratchBase() / ("quenmor-fuzz-" + std::to_string(platform::ProcessId()))) {
        std::error_code error;
        fs::remove_all(path, error);
        fs::create_directories(path);
        text = platform::PathText(path);
    }
    ~Scratch() {
        std::error_code error;
        fs::remove_all(path, error);
    }
    fs::path path;
    std::string text;
};

} // namespace

void Check(bool holds, std::string_view property, std::string_view detail) {
    if (holds)
        return;
    std::string shown = Escaped(detail.substr(0, std::min(detail.size(), kMaxDetail)));
    if (detail.size() > kMaxDetail)
        shown += "...";
    std::fprintf(stderr, "\n== property broken: %.*s\n== with: %s\n",
                 static_cast<int>(property.size()), property.data(), shown.c_str());
    std::fflush(stderr);
    std::abort();
}

std::string Escaped(std::string_view bytes) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string text;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7F || c == '\\') {
            text += "\\x";
            text += kHex[b >> 4];
            text += kHex[b & 0x0F];
        } else {
            text += c;
        }
    }
    return text;
}

std::vector<std::string_view> Split(std::string_view text, std::string_view separator) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (true) {
        const std::size_t at =
            separator.empty() ? std::string_view::npos : text.find(separator, start);
        if (at == std::string_view::npos) {
            pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, at - start));
        start = at + separator.size();
    }
}

const std::string& ScratchFolder() {
    static const Scratch scratch;
    return scratch.text;
}

std::string ScratchPath(std::string_view name) {
    return ScratchFolder() + platform::kPathSeparator + std::string(name);
}

void WriteWhole(const std::string& path, std::string_view content) {
    std::ofstream out(platform::FsPath(path), std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    Check(static_cast<bool>(out), "the fuzz target can write its scratch file", path);
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(platform::FsPath(path), std::ios::binary);
    if (!in)
        throw EInOutError("Cannot open file \"" + path + "\"");
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool FileExists(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(platform::FsPath(path), error));
}

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(platform::FsPath(folder), error))
        names.push_back(platform::PathText(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}

std::size_t MemoryStream::Read(void* buffer, std::size_t count) {
    const std::size_t n = std::min(count, bytes_.size() - position_);
    std::copy_n(bytes_.data() + position_, n, static_cast<char*>(buffer));
    position_ += n;
    return n;
}

std::size_t MemoryStream::Write(const void*, std::size_t) {
    throw EInOutError("The stream is read-only");
}

std::int64_t MemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    const auto size = static_cast<std::int64_t>(bytes_.size());
    std::int64_t base = 0;
    if (origin == TSeekOrigin::soCurrent)
        base = static_cast<std::int64_t>(position_);
    else if (origin == TSeekOrigin::soEnd)
        base = size;
    const std::int64_t target = base + offset;
    if (target < 0 || target > size)
        throw EInOutError("Seek outside the stream");
    position_ = static_cast<std::size_t>(target);
    return target;
}

} // namespace fuzz
