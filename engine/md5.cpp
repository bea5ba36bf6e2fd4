#include "md5.h"

#include "Files.h"

#include <openssl/evp.h>

#include <stdexcept>

struct TMD5::State {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~State() { EVP_MD_CTX_free(ctx); }
};

TMD5::TMD5() : state_(std::make_unique<State>()) {
    if (!state_->ctx || EVP_DigestInit_ex(state_->ctx, EVP_md5(), nullptr) != 1)
        throw std::runtime_error("MD5 is not available");
}

TMD5::~TMD5() = default;

void TMD5::Update(const void* data, std::size_t size) {
    if (size > 0)
        EVP_DigestUpdate(state_->ctx, data, size);
}

std::string TMD5::FinalText() {
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

std::string DigestText(const void* data, std::size_t size) {
    TMD5 md5;
    md5.Update(data, size);
    return md5.FinalText();
}

std::string FileDigestText(const std::string& path) {
    const platform::MappedFile file(path);
    return DigestText(file.data(), file.size());
}
