#include "Resign.h"

#include "Compressor.h"
#include "ManifestWriter.h"
#include "PreviousManifest.h"
#include "PublishErrors.h"
#include "PublishFiles.h"
#include "PublishText.h"
#include "PublishedTree.h"
#include "Signing.h"

#include "Files.h"
#include "Misc.h"
#include "Signature.h"

#include <system_error>

namespace publish {

namespace fs = std::filesystem;

namespace {

// The signature file must hold with `key` over exactly these manifest bytes.
void CheckSignature(const std::string& signatureText, const std::string& manifest,
                    const SigningKey& key, const fs::path& keyFile, const fs::path& given) {
    const auto* data = reinterpret_cast<const unsigned char*>(manifest.data());
    switch (signing::Verify(signatureText, {key.PublicKey()}, data, manifest.size())) {
    case signing::Verdict::Good:
        return;
    case signing::Verdict::Unreadable:
        throw EUsageError("The signature " + QuotedPath(given / kSignatureName) +
                          " is not a signature file, so the tree cannot be checked; publish it "
                          "again with --sign instead");
    case signing::Verdict::UntrustedKey:
        throw EUsageError("OUT " + QuotedPath(given) + " is signed with the key " +
                          signing::KeyText(signing::ParseSignatureFile(signatureText)->key) +
                          ", not with the key of " + QuotedPath(keyFile) + " (" +
                          signing::KeyText(key.PublicKey()) +
                          "): installations that trust the one would refuse the other");
    case signing::Verdict::BadSignature:
        break;
    }
    throw EUsageError("The signature of OUT " + QuotedPath(given) +
                      " does not hold over its manifest: " + kManifestCopyName +
                      " was changed after it was signed, and signing it again would vouch for "
                      "that change; publish the tree again instead");
}

// Takes over everything below `from` into `to` but the manifest and its
// signature at the top: folders made anew, files hard-linked (copied where
// that fails), links copied as links. Collects the folders made, to be synced.
void CarryOver(const fs::path& from, const fs::path& to, bool top, std::vector<fs::path>& folders) {
    std::error_code error;
    fs::directory_iterator it(from, error);
    for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
        const fs::path name = it->path().filename();
        if (top && (name == kManifestCopyName || name == kSignatureName))
            continue;
        const fs::path target = to / name;
        std::error_code step;
        const fs::file_status status = it->symlink_status(step);
        if (step)
            throw EPublishError(SystemError("Cannot read", it->path(), step));
        if (fs::is_directory(status)) {
            fs::create_directory(target, step);
            if (step)
                throw EPublishError(SystemError("Cannot create the folder", target, step));
            fs::permissions(target, status.permissions(), step);
            folders.push_back(target);
            CarryOver(it->path(), target, false, folders);
        } else if (fs::is_symlink(status)) {
            fs::copy_symlink(it->path(), target, step);
            if (step)
                throw EPublishError(SystemError("Cannot copy the link", it->path(), step));
        } else if (fs::is_regular_file(status)) {
            fs::create_hard_link(it->path(), target, step);
            if (step) {
                step.clear();
                fs::copy_file(it->path(), target, step);
                if (step)
                    throw EPublishError(SystemError("Cannot copy", it->path(), step));
            }
        } else {
            throw EUsageError(QuotedPath(it->path()) +
                              " is not a file, folder or link, and cannot be taken over into the "
                              "tree signed again");
        }
    }
    if (error)
        throw EPublishError(SystemError("Cannot read the folder", from, error));
}

} // namespace

ResignSummary Resign(const ResignOptions& options) {
    ResignSummary summary;
    std::error_code error;

    // The tree and its signature, checked before anything is written.
    bool exists = false;
    const fs::path out = ResolveOut(options.out, exists);
    if (!exists || !fs::is_directory(out, error))
        throw EUsageError("OUT " + QuotedPath(options.out) + " is not a folder");
    const fs::path manifestPath = out / kManifestCopyName;
    const fs::path signaturePath = out / kSignatureName;
    if (!fs::is_regular_file(manifestPath, error))
        throw EUsageError("OUT " + QuotedPath(options.out) + " holds no " + kManifestCopyName +
                          ": it is not a published tree");
    if (!fs::exists(fs::symlink_status(signaturePath, error)))
        throw EUsageError("OUT " + QuotedPath(options.out) + " is not signed (it holds no " +
                          kSignatureName +
                          "): only a signed tree is signed again; publish it with --sign");
    const SigningKey key(options.signingKey);
    const std::string manifest = ReadWholeFile(manifestPath, kMaxManifestSize);
    // Anything larger than a signature file is not one: Verify says so.
    const std::string signature = ReadWholeFile(signaturePath, 64 * 1024);
    CheckSignature(signature, manifest, key, options.signingKey, options.out);
    summary.signingKey = signing::KeyText(key.PublicKey());
    summary.expires =
        UtcTimeText(options.expiresAt ? *options.expiresAt : DaysFromNow(kDefaultExpiryDays));

    WarnOfLeftovers(out, summary.warnings);
    const fs::path parent = out.parent_path();
    const fs::path staging = MakeUniqueFolder(out, kStagingInfix);
    StagingGuard guard(staging);
    const fs::file_status status = fs::status(out, error);
    if (!error)
        fs::permissions(staging, status.permissions(), error);
    error.clear();

    const PreviousManifest previous = ReadManifest(manifest);
    if (!previous.revision)
        throw EUsageError("The manifest of OUT " + QuotedPath(options.out) +
                          " has no valid revision");
    summary.revision = *previous.revision;
    summary.previousExpires = previous.expires;
    summary.files = previous.copies.size();
    std::vector<std::string> missing;
    for (const std::string& copy : previous.copies)
        if (!fs::exists(fs::symlink_status(out / platform::FsPath(copy), error)))
            missing.push_back(Quoted(copy));
    if (!missing.empty())
        summary.warnings.push_back(
            std::to_string(missing.size()) + (missing.size() == 1 ? " copy" : " copies") +
            " that the manifest lists " + (missing.size() == 1 ? "is" : "are") +
            " missing from OUT; launchers fail to fetch them:" + ListLines(missing));

    // The new tree: the same files, the manifest with its new expiry.
    std::vector<fs::path> folders;
    CarryOver(out, staging, true, folders);
    CompressText(WithExpiry(previous.text, summary.expires), staging / kManifestCopyName);
    key.SignStagedManifest(staging);
    // The manifest and its signature change together, in the swap.
    FinishStaged(staging, out, folders, options.cancel, guard, summary.warnings);
    return summary;
}

} // namespace publish
