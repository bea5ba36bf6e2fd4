// The steps of a run that a signed tree adds: the signature of the
// compressed manifest, fetched and checked before anything of it is read, and
// the checks of the unpacked manifest before any of it is used.
#include "GetFilesThr.h"

#include "Files.h"
#include "Http.h"
#include "LstFile.h"
#include "SignedManifest.h"

#include <algorithm>
#include <chrono>

bool GFilesThread::SignatureHolds() {
    const std::string url = UpdateUrl + signing::kSignatureFileName;
    // The signature comes on the run's own connection, right after the
    // manifest, into memory; anything longer than a signature file is not
    // one, and is not fetched to its end.
    struct TooLong {};
    std::string text;
    TFetchSink sink;
    sink.restart = [&] { text.clear(); };
    sink.data = [&](const char* data, std::size_t size) {
        if (text.size() + size > signing::kMaxSignatureFileSize)
            throw TooLong{};
        text.append(data, size);
    };
    platform::HttpOptions options = TransferOptions();
    options.cancelled = [this] { return Aborted(); };
    TFetch fetch(*connection_, options, Retry,
                 [this](const std::string& note) { ShowRetries({note}); });
    TFetchResult result;
    try {
        result = fetch.Get(url, sink);
    } catch (const TooLong&) {
        Refuse("unreadable signature: " + url + " is longer than a signature file");
        return false;
    }
    if (!result.opened || result.status != 200) {
        Refuse("no signature: " + url +
               (result.opened ? " answered HTTP " + std::to_string(result.status)
                              : std::string(" could not be fetched")));
        return false;
    }
    const platform::MappedFile manifest(BaseDir + "files.lst.bz2");
    const signing::Verdict verdict =
        signing::Verify(text, TrustedKeys, manifest.data(), manifest.size());
    switch (verdict) {
    case signing::Verdict::Good:
        return true;
    case signing::Verdict::Unreadable:
        Refuse("unreadable signature: " + url + " holds no signature file");
        break;
    case signing::Verdict::UntrustedKey:
        Refuse("untrusted key: " + url + " is signed with the key " +
               signing::KeyText(signing::ParseSignatureFile(text)->key) +
               ", which this installation does not trust");
        break;
    case signing::Verdict::BadSignature:
        Refuse("bad signature: " + url + " does not match " + UpdateUrl + "files.lst.bz2");
        break;
    }
    return false;
}

bool GFilesThread::SignedManifestHolds(const TListFile& list) {
    const std::string cause = signing::CheckSignedManifest(
        list, std::max({AtRevision, RecordedRevision, TrustedRevision}),
        std::chrono::duration_cast<std::chrono::seconds>(
            std::chrono::system_clock::now().time_since_epoch())
            .count());
    if (cause.empty())
        return true;
    Refuse(cause);
    return false;
}
