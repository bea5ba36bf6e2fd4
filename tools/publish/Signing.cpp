#include "Signing.h"

#include "PreviousManifest.h"
#include "PublishErrors.h"
#include "PublishFiles.h"
#include "PublishText.h"
#include "PublishedTree.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <chrono>
#include <system_error>

namespace publish {

namespace fs = std::filesystem;

namespace {

// A key file is a few hundred bytes; anything far larger is something else.
constexpr std::size_t kMaxKeyFileSize = 64 * 1024;

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

signing::PublicKey RawPublicKey(EVP_PKEY* key) {
    signing::PublicKey raw{};
    std::size_t size = raw.size();
    if (EVP_PKEY_get_raw_public_key(key, raw.data(), &size) != 1 || size != raw.size())
        throw EPublishError("Cannot take the public key of an Ed25519 key");
    return raw;
}

} // namespace

std::int64_t DaysFromNow(std::uint64_t days) {
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    return now + static_cast<std::int64_t>(days) * 86400;
}

struct SigningKey::Key {
    Pkey pkey;
};

signing::PublicKey GenerateKey(const fs::path& keyFile) {
    std::error_code error;
    if (fs::exists(fs::symlink_status(keyFile, error)))
        throw EUsageError("The key file " + QuotedPath(keyFile) +
                          " exists; a key is never overwritten");
    EVP_PKEY* made = nullptr;
    const std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
        EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr), &EVP_PKEY_CTX_free);
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_keygen(ctx.get(), &made) != 1)
        throw EPublishError("Cannot make an Ed25519 key");
    const Pkey key(made);
    const std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    if (!bio ||
        PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        throw EPublishError("Cannot write an Ed25519 key as PEM");
    char* pem = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &pem);
    // Created here, so removed here when it cannot be completed.
    auto out = std::make_unique<OutputFile>(keyFile, true);
    try {
        out->Write(pem, static_cast<std::size_t>(length));
        out->Finish();
    } catch (...) {
        out.reset();
        fs::remove(keyFile, error);
        throw;
    }
    return RawPublicKey(key.get());
}

SigningKey::SigningKey(const fs::path& keyFile) : key_(std::make_unique<Key>()) {
    std::string pem;
    try {
        pem = ReadWholeFile(keyFile, kMaxKeyFileSize);
    } catch (const EPublishError& e) {
        throw EUsageError(std::string("The signing key cannot be read: ") + e.what());
    }
    const std::unique_ptr<BIO, BioFree> bio(
        BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    // No pass phrase is asked for: an encrypted key is refused.
    const auto noPassword = [](char*, int, int, void*) { return 0; };
    if (bio)
        key_->pkey.reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassword, nullptr));
    if (!key_->pkey || EVP_PKEY_get_id(key_->pkey.get()) != EVP_PKEY_ED25519)
        throw EUsageError("The key file " + QuotedPath(keyFile) +
                          " holds no unencrypted Ed25519 private key (make one with --keygen)");
    public_ = RawPublicKey(key_->pkey.get());
}

SigningKey::~SigningKey() = default;

std::string SigningKey::SignatureFileText(const fs::path& signedFile) const {
    // The manifest is signed whole: Ed25519 takes the message in one piece.
    const std::string data = ReadWholeFile(signedFile, kMaxManifestSize);
    signing::SignatureFile file;
    file.key = public_;
    std::size_t size = file.signature.size();
    const std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key_->pkey.get()) != 1 ||
        EVP_DigestSign(ctx.get(), file.signature.data(), &size,
                       reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1 ||
        size != file.signature.size())
        throw EPublishError("Cannot sign " + QuotedPath(signedFile));
    return signing::SignatureFileText(file);
}

void SigningKey::SignStagedManifest(const fs::path& staging) const {
    const std::string signature = SignatureFileText(staging / kManifestCopyName);
    OutputFile file(staging / kSignatureName);
    file.Write(signature.data(), signature.size());
    file.Finish();
}

} // namespace publish
