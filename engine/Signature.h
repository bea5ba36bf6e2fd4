// Signed update trees: the Ed25519 keys an installation trusts, the detached
// signature file that vouches for the compressed manifest, and the base64
// text both are written in.
//
// A public key is written as the base64 text of its 32 raw bytes, as
// "UpdateKey" in the launcher settings and in the build. The signature file
// "files.lst.bz2.sig" holds one line: the base64 text of the signer's public
// key (32 bytes) followed by the signature (64 bytes) over the exact bytes of
// "files.lst.bz2". The key in front only tells which trusted key is meant, so
// that a refusal can say whether the key or the signature was wrong; the
// signature is checked against the trusted key alone.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace signing {

inline constexpr std::size_t kPublicKeySize = 32;
inline constexpr std::size_t kSignatureSize = 64;
using PublicKey = std::array<unsigned char, kPublicKeySize>;
using Signature = std::array<unsigned char, kSignatureSize>;

// The name of the signature file beside the manifest, and the most it may
// hold (anything longer is not a signature file).
inline constexpr const char* kSignatureFileName = "files.lst.bz2.sig";
inline constexpr std::size_t kMaxSignatureFileSize = 1024;

// Base64 with the standard alphabet and "=" padding. Decoding is strict: no
// blanks, no line breaks, padding only where it belongs and no stray bits.
std::string Base64Encode(const unsigned char* data, std::size_t size);
std::optional<std::string> Base64Decode(std::string_view text);

std::string KeyText(const PublicKey& key);
std::optional<PublicKey> ParseKey(std::string_view text);

// A list of keys as "UpdateKey" holds it: base64 keys separated by commas,
// blanks around each allowed, empty text for none. Raises EConvertError
// naming `setting` and the first key that is not one.
std::vector<PublicKey> ParseKeyList(std::string_view text, std::string_view setting);

// The keys built into this program (the build's QUENMOR_UPDATE_KEYS).
std::vector<PublicKey> BuiltInKeys();

// The keys a run trusts: those built in and those of the setting "UpdateKey"
// (its text as read). Raises EConvertError naming "UpdateKey" when the
// setting is malformed.
std::vector<PublicKey> TrustedKeys(std::string_view updateKeySetting);

struct SignatureFile {
    PublicKey key{};
    Signature signature{};
};

// The text of a signature file, with its line end.
std::string SignatureFileText(const SignatureFile& file);
// Reads a signature file's text (a final line end and surrounding blanks
// allowed); nothing when it is not one.
std::optional<SignatureFile> ParseSignatureFile(std::string_view text);

// Whether `signature` is `key`'s Ed25519 signature over the data.
bool VerifyEd25519(const PublicKey& key, const Signature& signature, const unsigned char* data,
                   std::size_t size);

// What a signature file says of the data it came with, given the trusted
// keys.
enum class Verdict {
    Good,
    Unreadable,   // not a signature file
    UntrustedKey, // made with a key that is not trusted
    BadSignature, // the trusted key did not make it over this data
};
Verdict Verify(std::string_view signatureFileText, const std::vector<PublicKey>& trusted,
               const unsigned char* data, std::size_t size);

} // namespace signing
