#include "Streams.h"

#include "Errors.h"
#include "Files.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

TFileStream::TFileStream(const std::string& path, Mode mode) : path_(path) {
    if (mode == Mode::fmCreate) {
        std::error_code ignored; // what cannot be removed makes the creation fail
        std::filesystem::remove(platform::FsPath(path), ignored);
        file_ = platform::CreateNewFile(path);
    } else {
        file_ = platform::OpenFile(path, "rb");
    }
    if (!file_)
        throw EInOutError("Cannot " + std::string(mode == Mode::fmOpenRead ? "open" : "create") +
                          " file \"" + path + "\": " + std::strerror(errno));
    if (mode == Mode::fmOpenRead)
        std::setvbuf(file_, nullptr, _IONBF, 0); // reads come in large blocks already
    else {
        constexpr std::size_t kBufferSize = 1 << 16;
        buffer_ = std::make_unique<char[]>(kBufferSize);
        std::setvbuf(file_, buffer_.get(), _IOFBF, kBufferSize);
    }
}

TFileStream::~TFileStream() {
    if (file_)
        std::fclose(file_);
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
    const std::size_t n = std::fread(buffer, 1, count, file_);
    if (n < count && std::ferror(file_))
        throw EInOutError("Cannot read file \"" + path_ + "\": " + std::strerror(errno));
    return n;
}

std::size_t TFileStream::Write(const void* buffer, std::size_t count) {
    if (std::fwrite(buffer, 1, count, file_) != count)
        throw EInOutError("Cannot write file \"" + path_ + "\": " + std::strerror(errno));
    return count;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                       : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                          : SEEK_END;
    if (!(offset == 0 && origin == TSeekOrigin::soCurrent) &&
        platform::SeekFile(file_, offset, whence) != 0)
        throw EInOutError("Cannot seek in file \"" + path_ + "\": " + std::strerror(errno));
    return platform::TellFile(file_);
}

std::int64_t TFileStream::Size() {
    const std::int64_t here = Position();
    const std::int64_t end = Seek(0, TSeekOrigin::soEnd);
    Seek(here, TSeekOrigin::soBeginning);
    return end;
}

void TFileStream::Close() {
    if (!file_)
        return;
    std::FILE* f = file_;
    file_ = nullptr;
    if (std::fclose(f) != 0)
        throw EInOutError("Cannot write file \"" + path_ + "\": " + std::strerror(errno));
}
