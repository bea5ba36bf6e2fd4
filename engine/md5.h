// MD5 digests (RFC 1321) as the manifest writes them, and the SHA-256
// digests that signed manifests add.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

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
class TDigest {
public:
    enum class Kind { MD5, SHA256 };
    explicit TDigest(Kind kind);
    ~TDigest();
    TDigest(const TDigest&) = delete;
    TDigest& operator=(const TDigest&) = delete;

    void Update(const void* data, std::size_t size);
    // The digest as lowercase hexadecimal digits (32 for MD5, 64 for
    // SHA-256); the object is spent afterwards.
    std::string FinalText();

private:
    struct State;
    std::unique_ptr<State> state_;
};

class TMD5 : public TDigest {
public:
    TMD5() : TDigest(Kind::MD5) {}
};

class TSHA256 : public TDigest {
public:
    TSHA256() : TDigest(Kind::SHA256) {}
};

// Whether `text` is a SHA-256 digest as the manifest writes it: 64 lowercase
// hexadecimal digits.
bool IsSha256Text(std::string_view text);
