// What the fuzz targets share beside the code they fuzz: the check of a
// property, which stops the run with a message so that libFuzzer keeps the
// input; a scratch folder of the process's own for the files a parser reads;
// the parts of an input; a run target that shows nothing; and a stream over
// bytes in memory.
#pragma once

#include "GetFilesThr.h"
#include "Streams.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// Stops the run (abort) naming the property and the bytes that break it,
// escaped, when `holds` is false.
void Check(bool holds, std::string_view property, std::string_view detail = {});

// Bytes as printable text: controls, "\" and bytes from 0x7F on as \xNN.
std::string Escaped(std::string_view bytes);

// The input as text.
inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// The pieces of `text` between occurrences of `separator` (one piece when it
// does not occur; empty pieces are kept).
std::vector<std::string_view> Split(std::string_view text, std::string_view separator);

// A folder of this process's own, made on first use and removed at exit:
// below TMPDIR when that is set, otherwise in /dev/shm (memory only) when the
// system has it. Paths are returned without a trailing separator.
const std::string& ScratchFolder();
std::string ScratchPath(std::string_view name);

// Whole files; ReadWhole raises when the file cannot be read.
void WriteWhole(const std::string& path, std::string_view content);
std::string ReadWhole(const std::string& path);
bool FileExists(const std::string& path);
// The names of the files in a folder, sorted.
std::vector<std::string> FolderNames(const std::string& folder);

// An update run's target that takes every notification and shows nothing.
class SilentTarget : public TUpdateTarget {
public:
    void LockCommands() override {}
    void ShowStatus(const std::string&) override {}
    void SetFileGaugeMax(std::int32_t) override {}
    void SetTotalGaugeMax(std::int32_t) override {}
    void SetFileProgress(std::int32_t) override {}
    void SetTotalProgress(std::int32_t) override {}
    void StoreRevision(const std::string&) override {}
    void UnlockCommands() override {}
};

// A read-only stream over bytes that outlive it.
class MemoryStream : public TStream {
public:
    explicit MemoryStream(std::string_view bytes) : bytes_(bytes) {}

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

private:
    std::string_view bytes_;
    std::size_t position_ = 0;
};

} // namespace fuzz
