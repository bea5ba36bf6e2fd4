// MD5 digests (RFC 1321) as the manifest writes them.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

// The digest of a file's whole content as 32 lowercase hexadecimal digits,
// computed over a read-only mapping of the file. A file that cannot be opened
// or mapped (an empty one cannot) gives the digest of empty input.
std::string FileDigestText(const std::string& path);

// The same digest read in plain blocks instead of through a mapping: faster
// when several files are digested side by side on every core (no page-table
// work for each new mapping), where one file alone digests faster mapped. A
// file that cannot be opened or read gives the digest of empty input too.
std::string FileDigestTextByReading(const std::string& path);

// The digest text of a block of memory.
std::string DigestText(const void* data, std::size_t size);

// A digest computed piece by piece, for data that passes through once.
class TMD5 {
public:
    TMD5();
    ~TMD5();
    TMD5(const TMD5&) = delete;
    TMD5& operator=(const TMD5&) = delete;

    void Update(const void* data, std::size_t size);
    std::string FinalText(); // the digest text; the object is spent afterwards

private:
    struct State;
    std::unique_ptr<State> state_;
};
