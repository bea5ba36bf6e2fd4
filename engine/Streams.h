// A minimal stream interface for the decompression stream and the files it reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    virtual ~TStream() = default;
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;

    std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
};

// A file opened for reading, or made new for writing: whatever is at its
// name (a file, or a link planted there) is removed first, and the file is
// then created where nothing is, so a write never goes through a link to
// another file. Failures raise EInOutError.
class TFileStream : public TStream {
public:
    enum class Mode { fmOpenRead, fmCreate };

    TFileStream(const std::string& path, Mode mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size();
    void Close(); // raises when buffered data cannot be written

private:
    std::string path_;
    std::FILE* file_ = nullptr;
    std::unique_ptr<char[]> buffer_; // the write buffer; outlives file_
};
