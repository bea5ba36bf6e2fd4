#include "md5.h"

#include "Files.h"
#include "Streams.h"

#include <openssl/evp.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <thread>

struct TDigest::State {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~State() { EVP_MD_CTX_free(ctx); }
};

TDigest::TDigest(Kind kind) : state_(std::make_unique<State>()) {
    const EVP_MD* md = kind == Kind::MD5 ? EVP_md5() : EVP_sha256();
    if (!state_->ctx || EVP_DigestInit_ex(state_->ctx, md, nullptr) != 1)
        throw std::runtime_error(kind == Kind::MD5 ? "MD5 is not available"
                                                   : "SHA-256 is not available");
}

TDigest::~TDigest() = default;

void TDigest::Update(const void* data, std::size_t size) {
    if (size > 0)
        EVP_DigestUpdate(state_->ctx, data, size);
}

std::string TDigest::FinalText() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(state_->ctx, digest, &length);
    static const char* const kHex = "0123456789abcdef";
    std::string text;
    text.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 0x0F];
    }
    return text;
}

bool IsSha256Text(std::string_view text) {
    return text.size() == 64 &&
           text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

std::string DigestText(const void* data, std::size_t size) {
    TMD5 md5;
    md5.Update(data, size);
    return md5.FinalText();
}

namespace {

constexpr std::size_t kTouchStep = 4096; // no page is smaller
constexpr std::size_t kSlice = std::size_t{1} << 20;
constexpr std::size_t kTouchAhead = 32 * kSlice; // how far the helper may run ahead
constexpr std::size_t kHelpedSize = 8 * kSlice;  // below this the helper costs more than it saves

} // namespace

std::string FileDigestText(const std::string& path) {
    const platform::MappedFile file(path);
    const unsigned char* data = file.data();
    const std::size_t size = file.size();
    if (size < kHelpedSize)
        return DigestText(data, size);
    // The first touch of each page of a mapping can cost more than digesting
    // the page (page-table walks under virtualisation): a helper thread takes
    // those touches ahead of the digest, which then reads warm pages.
    std::atomic<std::size_t> digested{0};
    std::atomic<bool> finished{false};
    std::thread helper([&] {
        unsigned sink = 0;
        for (std::size_t at = 0; at < size && !finished; at += kTouchStep) {
            for (std::size_t seen = digested.load(); at > seen + kTouchAhead && !finished;
                 seen = digested.load())
                digested.wait(seen);
            sink += *static_cast<const volatile unsigned char*>(data + at);
        }
        static_cast<void>(sink);
    });
    TMD5 md5;
    for (std::size_t at = 0; at < size; at += kSlice) {
        md5.Update(data + at, std::min(kSlice, size - at));
        digested.store(at + kSlice);
        digested.notify_one();
    }
    finished = true;
    digested.store(size + kTouchAhead + kSlice);
    digested.notify_one();
    helper.join();
    return md5.FinalText();
}

std::string FileDigestTextByReading(const std::string& path) {
    TMD5 md5;
    try {
        TFileStream file(path, TFileStream::Mode::fmOpenRead);
        std::unique_ptr<char[]> buffer(new char[kSlice]);
        while (const std::size_t n = file.Read(buffer.get(), kSlice))
            md5.Update(buffer.get(), n);
    } catch (const std::exception&) {
        return DigestText(nullptr, 0);
    }
    return md5.FinalText();
}
