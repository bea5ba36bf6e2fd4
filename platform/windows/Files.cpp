// File services on Windows: wide-character paths, mappings that share the
// file with readers and writers, and replacement in one step with MoveFileExW
// after the content is flushed.
#include "Files.h"

#include "Errors.h"
#include "WideText.h"

#include "WindowsApi.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>

#include <atomic>
#include <chrono>
#include <random>

namespace platform {
namespace {

HANDLE AsHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

std::string ErrorFor(const std::string& what, const std::string& path, DWORD error) {
    return what + " \"" + path + "\": " + SystemErrorText(error);
}

std::string FolderOf(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// Six letters or digits that no other temporary file of this process has had.
std::string UniqueName() {
    static std::atomic<std::uint64_t> counter{0};
    static const std::uint64_t seed =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (static_cast<std::uint64_t>(::GetCurrentProcessId()) << 32) ^ std::random_device{}();
    std::uint64_t value = seed + 0x9E3779B97F4A7C15ULL * ++counter;
    value ^= value >> 29;
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string name;
    for (std::size_t i = 0; i < kTempFileUniqueLength; ++i) {
        name += kAlphabet[value % 62];
        value /= 62;
    }
    return name;
}

// Creates a temporary file in the folder of `path`; returns its handle. The
// name differs only in letter case from others at times, which the file
// system does not tell apart; CREATE_NEW then fails and another is tried.
HANDLE CreateTempBeside(const std::string& path, std::string& tempPath) {
    const std::string folder = FolderOf(path);
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 100 && error == ERROR_FILE_EXISTS; ++attempt) {
        const std::string candidate = folder + std::string(kTempFilePrefix) + UniqueName();
        const HANDLE file = ::CreateFileW(Wide(candidate).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                          nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            tempPath = candidate;
            return file;
        }
        error = ::GetLastError();
    }
    throw EInOutError(ErrorFor("Cannot create a temporary file for", path, error));
}

} // namespace

std::filesystem::path FsPath(std::string_view localPath) {
    return std::filesystem::path(std::u8string(localPath.begin(), localPath.end()));
}

std::string PathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string CurrentFolder() {
    std::wstring folder(MAX_PATH, L'\0');
    DWORD length = ::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());
    if (length > folder.size()) {
        folder.resize(length);
        length = ::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());
    }
    folder.resize(length);
    std::string text = Utf8(folder);
    if (text.empty() || text.back() != kPathSeparator)
        text += kPathSeparator;
    return text;
}

std::string ResolveCaseInsensitive(const std::string& base, const std::string& relative) {
    // The file system itself finds names in any letter case.
    return base + relative;
}

MappedFile::MappedFile(const std::string& path) {
    const HANDLE file =
        ::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file, &size) && size.QuadPart > 0) {
        const HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (mapping) {
            void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
            if (view) {
                data_ = static_cast<const unsigned char*>(view);
                size_ = static_cast<std::size_t>(size.QuadPart);
            }
            // The view keeps the mapping alive.
            ::CloseHandle(mapping);
        }
    }
    ::CloseHandle(file);
}

MappedFile::~MappedFile() {
    if (data_)
        ::UnmapViewOfFile(data_);
}

std::string NewTempFileBeside(const std::string& path) {
    std::string tempPath;
    ::CloseHandle(CreateTempBeside(path, tempPath));
    return tempPath;
}

AtomicFile::AtomicFile(std::string target) : target_(std::move(target)) {
    handle_ = reinterpret_cast<std::intptr_t>(CreateTempBeside(target_, tempPath_));
}

AtomicFile::~AtomicFile() {
    Discard();
}

void AtomicFile::Write(const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD piece = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(AsHandle(handle_), p, piece, &written, nullptr))
            throw EInOutError(ErrorFor("Cannot write", target_, ::GetLastError()));
        p += written;
        size -= written;
    }
}

void AtomicFile::Seal() {
    if (handle_ == -1)
        return;
    const HANDLE file = AsHandle(handle_);
    handle_ = -1;
    const bool flushed = ::FlushFileBuffers(file) != 0;
    const DWORD error = flushed ? 0 : ::GetLastError();
    if (!::CloseHandle(file) || !flushed) {
        const DWORD failure = flushed ? ::GetLastError() : error;
        ::DeleteFileW(Wide(tempPath_).c_str());
        tempPath_.clear();
        throw EInOutError(ErrorFor("Cannot write", target_, failure));
    }
}

void AtomicFile::Commit() {
    if (tempPath_.empty())
        throw EInOutError("Cannot replace \"" + target_ + "\": its new content is gone");
    Seal();
    const std::wstring target = Wide(target_), temp = Wide(tempPath_);
    // A rename over the old file is the one step that leaves either the old
    // or the new content under the name, whenever the process ends.
    // ReplaceFileW is not: it moves the old file aside first. The old file's
    // hidden and system marks go to the new one.
    const DWORD old = ::GetFileAttributesW(target.c_str());
    // A read-only file is never replaced, as Windows refuses it, also where
    // the system would let the superuser do it anyway (Wine run as root).
    if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY) != 0) {
        Discard();
        throw EInOutError(ErrorFor("Cannot replace", target_, ERROR_ACCESS_DENIED));
    }
    if (old != INVALID_FILE_ATTRIBUTES)
        (void)::SetFileAttributesW(temp.c_str(),
                                   (old & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) |
                                       FILE_ATTRIBUTE_ARCHIVE);
    const bool done = ::MoveFileExW(temp.c_str(), target.c_str(),
                                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    const DWORD error = done ? 0 : ::GetLastError();
    if (!done) {
        ::DeleteFileW(temp.c_str());
        tempPath_.clear();
        throw EInOutError(ErrorFor("Cannot replace", target_, error));
    }
    tempPath_.clear();
}

void AtomicFile::Discard() {
    if (handle_ != -1) {
        ::CloseHandle(AsHandle(handle_));
        handle_ = -1;
    }
    if (!tempPath_.empty()) {
        ::DeleteFileW(Wide(tempPath_).c_str());
        tempPath_.clear();
    }
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
    return ::_wfopen(Wide(path).c_str(), Wide(mode).c_str());
}

int SeekFile(std::FILE* file, std::int64_t offset, int whence) {
    return ::_fseeki64(file, offset, whence);
}

std::int64_t TellFile(std::FILE* file) {
    return ::_ftelli64(file);
}

std::FILE* CreateNewFile(const std::string& path, bool ownerOnly) {
    // The C library here takes no "x" mode: the system creates the file.
    const std::wstring wide = Wide(path);
    // Owner only: a protected access list that grants everything to the
    // file's owner and nothing to anyone else.
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
    if (ownerOnly &&
        !::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:P(A;;FA;;;OW)", SDDL_REVISION_1, &security.lpSecurityDescriptor, nullptr)) {
        errno = EACCES;
        return nullptr;
    }
    const HANDLE handle =
        ::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, ownerOnly ? &security : nullptr,
                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (security.lpSecurityDescriptor)
        ::LocalFree(security.lpSecurityDescriptor);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        errno = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS      ? EEXIST
                : error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND ? ENOENT
                : error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL    ? ENOSPC
                : error == ERROR_ACCESS_DENIED                                   ? EACCES
                                                                                 : EIO;
        return nullptr;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_BINARY);
    std::FILE* file = fd < 0 ? nullptr : ::_fdopen(fd, "wb");
    if (!file) {
        if (fd >= 0)
            ::_close(fd);
        else
            ::CloseHandle(handle);
        ::DeleteFileW(wide.c_str());
        errno = EMFILE;
    }
    return file;
}

bool FlushToDisk(std::FILE* file) {
    if (std::fflush(file) != 0)
        return false;
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
    if (::FlushFileBuffers(handle))
        return true;
    errno = EIO;
    return false;
}

void SyncFolder(const std::string&) {
    // The file system's journal keeps names and renames; nothing to ask for.
}

int ExchangeFolders(const std::string&, const std::string&) {
    return ENOTSUP;
}

namespace {

// The path of an existing file or folder as the system finds it, every link
// and junction on its way followed; empty when it cannot be opened.
std::wstring FinalPath(const std::wstring& path) {
    const HANDLE handle =
        ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return {};
    std::wstring final(32768, L'\0');
    const DWORD length =
        ::GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()),
                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    ::CloseHandle(handle);
    if (length == 0 || length >= final.size())
        return {};
    final.resize(length);
    if (!final.empty() && final.back() != L'\\')
        final += L'\\';
    return final;
}

} // namespace

bool StaysInside(const std::string& base, const std::string& path) {
    const std::wstring root = FinalPath(Wide(base));
    std::string folder = FolderOf(path);
    std::error_code error;
    while (!folder.empty() &&
           !std::filesystem::exists(std::filesystem::symlink_status(FsPath(folder), error))) {
        const std::string parent = FolderOf(folder.substr(0, folder.size() - 1));
        if (parent == folder)
            break;
        folder = parent;
    }
    const std::wstring real = FinalPath(Wide(folder.empty() ? CurrentFolder() : folder));
    if (root.empty() || real.empty() || real.size() < root.size())
        return false;
    // The file system tells names apart without regard to letter case.
    return ::CompareStringOrdinal(real.c_str(), static_cast<int>(root.size()), root.c_str(),
                                  static_cast<int>(root.size()), TRUE) == CSTR_EQUAL;
}

bool IsTerminal(std::FILE* stream) {
    // A console that shows terminal sequences (see PrepareConsole); an older
    // one gets the plain lines that a file gets.
    DWORD mode = 0;
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0 &&
           (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::string LastErrorText() {
    return SystemErrorText(::GetLastError());
}

} // namespace platform
