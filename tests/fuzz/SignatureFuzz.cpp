// Fuzzes the texts of signed update trees (engine/Signature.h) and the UTC
// times of their manifests (ParseUtcTime). The input is a signature file's
// text, then optionally a NUL and the data it vouches for; the trusted key is
// a fixed one of this target, whose private half it also holds.
//
// Properties: a signature file that reads is written back as the same text
// (its line end and blanks aside) and reads again as the same file; base64
// that decodes encodes back to exactly the same text, and any data comes back
// from its base64 text; a key that reads is written back as the same text;
// a key list gives keys that stand in its text, or raises EConvertError
// naming the setting. Verify never reports Good for a signature that is not
// the trusted key's own over the data, neither for the input's signature file
// nor for the input's first 64 bytes taken as a signature by the trusted key,
// and reports Good for the real one. A time that parses formats back to the
// same text, and a time of the years 0 to 9999 parses back from its text.
#include "FuzzSupport.h"

#include "Errors.h"
#include "Misc.h"
#include "Signature.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using fuzz::Check;

namespace {

// The private half of the trusted key (an Ed25519 seed).
constexpr unsigned char kSeed[32] = {'q', 'u', 'e', 'n', 'm', 'o', 'r', '-', 'f', 'u', 'z',
                                     'z', '-', 'f', 'i', 'x', 'e', 'd', '-', 's', 'i', 'g',
                                     'n', 'i', 'n', 'g', '-', 'k', 'e', 'y', '-', '1'};

// The first and last seconds of the years 0000 to 9999.
constexpr std::int64_t kFirstTime = -62167219200;
constexpr std::int64_t kLastTime = 253402300799;

struct Signer {
    Signer() : key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, kSeed, sizeof kSeed)) {
        std::size_t size = publicKey.size();
        Check(key != nullptr && EVP_PKEY_get_raw_public_key(key, publicKey.data(), &size) == 1,
              "the trusted key is made");
    }
    ~Signer() { EVP_PKEY_free(key); }
    Signer(const Signer&) = delete;
    Signer& operator=(const Signer&) = delete;

    signing::Signature Sign(std::string_view data) const {
        signing::Signature signature{};
        std::size_t size = signature.size();
        EVP_MD_CTX* context = EVP_MD_CTX_new();
        const bool made =
            context != nullptr &&
            EVP_DigestSignInit(context, nullptr, nullptr, nullptr, key) == 1 &&
            EVP_DigestSign(context, signature.data(), &size,
                           reinterpret_cast<const unsigned char*>(data.data()), data.size()) == 1;
        EVP_MD_CTX_free(context);
        Check(made, "the trusted key signs");
        return signature;
    }

    EVP_PKEY* key;
    signing::PublicKey publicKey{};
};

signing::Verdict VerifyText(std::string_view signatureFile, const signing::PublicKey& trusted,
                            std::string_view data) {
    return signing::Verify(signatureFile, {trusted},
                           reinterpret_cast<const unsigned char*>(data.data()), data.size());
}

void CheckBase64(std::string_view text) {
    if (const std::optional<std::string> bytes = signing::Base64Decode(text))
        Check(signing::Base64Encode(reinterpret_cast<const unsigned char*>(bytes->data()),
                                    bytes->size()) == text,
              "base64 that decodes encodes back to the same text", text);
    if (const std::optional<signing::PublicKey> key = signing::ParseKey(text))
        Check(signing::KeyText(*key) == text, "a key that reads is written back the same", text);
}

void CheckKeyList(std::string_view text) {
    try {
        const std::vector<signing::PublicKey> keys = signing::ParseKeyList(text, "UpdateKey");
        for (const signing::PublicKey& key : keys)
            Check(text.find(signing::KeyText(key)) != std::string_view::npos,
                  "a key of the list stands in its text", text);
    } catch (const EConvertError& e) {
        Check(std::string_view(e.what()).starts_with("UpdateKey: "),
              "a bad key list is refused naming the setting", text);
    } catch (...) {
        Check(false, "a key list gives keys or EConvertError", text);
    }
}

void CheckTimes(std::string_view text, std::string_view data) {
    for (const std::string_view candidate : {TrimControl(text), text.substr(0, 20)})
        if (const std::optional<std::int64_t> seconds = ParseUtcTime(candidate))
            Check(UtcTimeText(*seconds) == candidate, "a time that parses formats back the same",
                  candidate);
    std::int64_t seconds = 0;
    if (!data.empty())
        std::memcpy(&seconds, data.data(), std::min(data.size(), sizeof seconds));
    const std::string formatted = UtcTimeText(seconds);
    const std::optional<std::int64_t> parsed = ParseUtcTime(formatted);
    if (seconds >= kFirstTime && seconds <= kLastTime)
        Check(parsed == seconds, "a time of the years 0 to 9999 parses back from its text",
              formatted);
    else
        Check(!parsed.has_value(), "a time outside the years 0 to 9999 is no time text", formatted);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Signer signer;
    const std::string_view input = fuzz::AsText(data, size);
    const std::size_t nul = input.find('\0');
    const std::string_view text = input.substr(0, nul);
    const std::string_view signedData =
        nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);

    if (const std::optional<signing::SignatureFile> file = signing::ParseSignatureFile(text)) {
        const std::string written = signing::SignatureFileText(*file);
        Check(written == std::string(TrimControl(text)) + "\n",
              "a signature file is written back as the text it was read from", text);
        const std::optional<signing::SignatureFile> again = signing::ParseSignatureFile(written);
        Check(again && again->key == file->key && again->signature == file->signature,
              "a signature file written back reads as the same", text);
    }
    CheckBase64(text);
    CheckBase64(TrimControl(text));
    Check(signing::Base64Decode(signing::Base64Encode(data, size)) == std::string(input),
          "data comes back from its base64 text", input);
    CheckKeyList(text);
    CheckTimes(text, signedData);

    // Signatures over the data.
    const signing::Signature real = signer.Sign(signedData);
    const signing::Verdict verdict = VerifyText(text, signer.publicKey, signedData);
    if (verdict == signing::Verdict::Good) {
        const std::optional<signing::SignatureFile> file = signing::ParseSignatureFile(text);
        Check(file && file->key == signer.publicKey && file->signature == real,
              "only the trusted key's own signature over the data is good", input);
    }
    signing::Signature forged{};
    std::copy_n(data, std::min(size, forged.size()), forged.begin());
    const std::string forgedFile = signing::SignatureFileText({signer.publicKey, forged});
    Check((VerifyText(forgedFile, signer.publicKey, signedData) == signing::Verdict::Good) ==
              (forged == real),
          "a signature by the trusted key is good exactly when it is the real one", input);
    Check(VerifyText(signing::SignatureFileText({signer.publicKey, real}), signer.publicKey,
                     signedData) == signing::Verdict::Good,
          "the trusted key's own signature over the data is good", input);
    return 0;
}
