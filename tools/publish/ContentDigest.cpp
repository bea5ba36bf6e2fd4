#include "ContentDigest.h"

#include "PublishErrors.h"
#include "PublishFiles.h"

#include "md5.h"

#include <memory>

namespace publish {
namespace {

// Stops the work of a run: raised where a worker notices a request to stop.
void CheckStop(const std::atomic<bool>* cancel, const std::atomic<bool>& failed) {
    if ((cancel && cancel->load()) || failed.load())
        throw EPublishError("Interrupted");
}

} // namespace

ContentInfo ReadContent(const std::filesystem::path& path, const std::atomic<bool>* cancel,
                        const std::atomic<bool>& failed,
                        const std::function<void(const char*, std::size_t)>& consume) {
    InputFile in(path);
    std::unique_ptr<char[]> buffer(new char[kBlockSize]);
    TMD5 md5;
    TSHA256 sha256;
    ContentInfo info;
    while (const std::size_t n = in.Read(buffer.get(), kBlockSize)) {
        CheckStop(cancel, failed);
        md5.Update(buffer.get(), n);
        sha256.Update(buffer.get(), n);
        if (consume)
            consume(buffer.get(), n);
        info.size += n;
    }
    info.digest = md5.FinalText();
    info.sha256 = sha256.FinalText();
    return info;
}

ContentInfo DigestFile(const std::filesystem::path& path, const std::atomic<bool>* cancel,
                       const std::atomic<bool>& failed) {
    return ReadContent(path, cancel, failed, {});
}

} // namespace publish
