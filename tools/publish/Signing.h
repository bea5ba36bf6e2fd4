// The publisher's side of signed trees: a new Ed25519 key pair, its private
// key kept as a PEM file that only its owner can read, that key read back,
// and the signature file it makes over the compressed manifest.
#pragma once

#include "Signature.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace publish {

// A signed manifest expires this many days after it is signed, unless told
// otherwise: a stolen old tree cannot be replayed for longer.
inline constexpr std::uint64_t kDefaultExpiryDays = 30;

// The time `days` days from now, in seconds since 1970 (UTC).
std::int64_t DaysFromNow(std::uint64_t days);

// Writes a new private key into `keyFile`, which must not exist (a key is
// never overwritten), and returns its public key. Raises EUsageError when the
// file exists, EPublishError when it cannot be written (nothing is left).
signing::PublicKey GenerateKey(const std::filesystem::path& keyFile);

// A private key read from its PEM file.
class SigningKey {
public:
    // Raises EUsageError naming the file when it cannot be read or holds no
    // unencrypted Ed25519 private key.
    explicit SigningKey(const std::filesystem::path& keyFile);
    ~SigningKey();
    SigningKey(const SigningKey&) = delete;
    SigningKey& operator=(const SigningKey&) = delete;

    const signing::PublicKey& PublicKey() const { return public_; }

    // The text of the signature file over the file `signed`. Raises
    // EPublishError.
    std::string SignatureFileText(const std::filesystem::path& signedFile) const;
    // Writes the signature file of the manifest in the staged tree `staging`
    // beside it. Raises EPublishError.
    void SignStagedManifest(const std::filesystem::path& staging) const;

private:
    struct Key;
    std::unique_ptr<Key> key_;
    signing::PublicKey public_{};
};

} // namespace publish
