#include "Signature.h"

#include "Errors.h"
#include "Misc.h"
#include "UpdateKeys.h" // generated: kBuiltInUpdateKeys

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

namespace signing {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

std::string_view TrimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

template <std::size_t N>
std::optional<std::array<unsigned char, N>> DecodeExactly(std::string_view text) {
    const std::optional<std::string> bytes = Base64Decode(text);
    if (!bytes || bytes->size() != N)
        return std::nullopt;
    std::array<unsigned char, N> out{};
    std::copy(bytes->begin(), bytes->end(), out.begin());
    return out;
}

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

} // namespace

std::string Base64Encode(const unsigned char* data, std::size_t size) {
    std::string text;
    text.reserve((size + 2) / 3 * 4);
    for (std::size_t i = 0; i < size; i += 3) {
        const std::size_t n = std::min<std::size_t>(3, size - i);
        const unsigned group = (unsigned{data[i]} << 16) |
                               (n > 1 ? unsigned{data[i + 1]} << 8 : 0) |
                               (n > 2 ? unsigned{data[i + 2]} : 0);
        text += kAlphabet[(group >> 18) & 63];
        text += kAlphabet[(group >> 12) & 63];
        text += n > 1 ? kAlphabet[(group >> 6) & 63] : '=';
        text += n > 2 ? kAlphabet[group & 63] : '=';
    }
    return text;
}

std::optional<std::string> Base64Decode(std::string_view text) {
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int padding = 0;
        unsigned group = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            if (c == '=' && last && k >= 2) {
                ++padding;
                group <<= 6;
                continue;
            }
            const int value = Base64Value(c);
            if (value < 0 || padding > 0) // a letter after padding
                return std::nullopt;
            group = (group << 6) | static_cast<unsigned>(value);
        }
        // The bits that padding leaves over must be zero: one text per data.
        if ((padding == 1 && (group & 0xFF) != 0) || (padding == 2 && (group & 0xFFFF) != 0))
            return std::nullopt;
        bytes += static_cast<char>((group >> 16) & 0xFF);
        if (padding < 2)
            bytes += static_cast<char>((group >> 8) & 0xFF);
        if (padding < 1)
            bytes += static_cast<char>(group & 0xFF);
    }
    return bytes;
}

std::string KeyText(const PublicKey& key) {
    return Base64Encode(key.data(), key.size());
}

std::optional<PublicKey> ParseKey(std::string_view text) {
    return DecodeExactly<kPublicKeySize>(text);
}

std::vector<PublicKey> ParseKeyList(std::string_view text, std::string_view setting) {
    std::vector<PublicKey> keys;
    if (TrimBlanks(text).empty())
        return keys;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string_view item = TrimBlanks(text.substr(start, comma - start));
        const std::optional<PublicKey> key = ParseKey(item);
        if (!key)
            throw EConvertError(std::string(setting) + ": '" + std::string(item) +
                                "' is not an update key (the base64 text of an Ed25519 public "
                                "key, as quenmor-publish --keygen prints it)");
        if (std::find(keys.begin(), keys.end(), *key) == keys.end())
            keys.push_back(*key);
        start = comma + 1;
    }
    return keys;
}

std::vector<PublicKey> BuiltInKeys() {
    return ParseKeyList(kBuiltInUpdateKeys, "QUENMOR_UPDATE_KEYS");
}

std::vector<PublicKey> TrustedKeys(std::string_view updateKeySetting) {
    std::vector<PublicKey> keys = BuiltInKeys();
    for (const PublicKey& key : ParseKeyList(updateKeySetting, "UpdateKey"))
        if (std::find(keys.begin(), keys.end(), key) == keys.end())
            keys.push_back(key);
    return keys;
}

std::string SignatureFileText(const SignatureFile& file) {
    unsigned char bytes[kPublicKeySize + kSignatureSize];
    std::copy(file.key.begin(), file.key.end(), bytes);
    std::copy(file.signature.begin(), file.signature.end(), bytes + kPublicKeySize);
    return Base64Encode(bytes, sizeof bytes) + "\n";
}

std::optional<SignatureFile> ParseSignatureFile(std::string_view text) {
    if (text.size() > kMaxSignatureFileSize)
        return std::nullopt;
    const auto both = DecodeExactly<kPublicKeySize + kSignatureSize>(TrimControl(text));
    if (!both)
        return std::nullopt;
    SignatureFile file;
    std::copy(both->begin(), both->begin() + kPublicKeySize, file.key.begin());
    std::copy(both->begin() + kPublicKeySize, both->end(), file.signature.begin());
    return file;
}

bool VerifyEd25519(const PublicKey& key, const Signature& signature, const unsigned char* data,
                   std::size_t size) {
    const std::unique_ptr<EVP_PKEY, PkeyFree> pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()));
    const std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    if (!pkey || !ctx ||
        EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) != 1)
        return false;
    static const unsigned char kNothing = 0;
    return EVP_DigestVerify(ctx.get(), signature.data(), signature.size(),
                            size > 0 ? data : &kNothing, size) == 1;
}

Verdict Verify(std::string_view signatureFileText, const std::vector<PublicKey>& trusted,
               const unsigned char* data, std::size_t size) {
    const std::optional<SignatureFile> file = ParseSignatureFile(signatureFileText);
    if (!file)
        return Verdict::Unreadable;
    if (std::find(trusted.begin(), trusted.end(), file->key) == trusted.end())
        return Verdict::UntrustedKey;
    return VerifyEd25519(file->key, file->signature, data, size) ? Verdict::Good
                                                                 : Verdict::BadSignature;
}

} // namespace signing
