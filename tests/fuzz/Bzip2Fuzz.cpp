// Fuzzes bzip2 decompression (TBZDecompressionStream) and the unpacking of a
// downloaded copy into its target (TFileTransfer::Unpack). An input that
// starts with "BZh" is taken as a bzip2 copy as it stands; any other input is
// compressed with libbz2 first.
//
// Properties: a stream read in pieces of any size gives the same bytes, the
// same end and the same failure as one read in large blocks, and the same
// again after a restart (a seek to 0); data compressed with libbz2 comes back
// unchanged. An unpack never leaves a partial or wrong target: after a failure
// the target holds its old content, after a success the content of the whole
// stream, with the digest asked for; it succeeds only for a whole stream and
// a matching digest, removes the copy, and leaves no other file behind.
#include "FuzzSupport.h"

#include "BZip2.h"
#include "FileTransfer.h"
#include "md5.h"

#include <bzlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

using fuzz::Check;

namespace {

// A copy that unpacks to more than this (a small one can unpack to far more)
// is only read once, up to it.
constexpr std::size_t kMaxContent = std::size_t{1} << 20;
constexpr std::string_view kOldContent = "the installed file\n";

struct Decoded {
    std::string content;
    bool ended = false;
    bool failed = false;    // raised EBZip2Error
    bool truncated = false; // stopped at kMaxContent
};

// Reads the stream to its end in pieces whose sizes come from `seed` (0:
// blocks as large as the stream's own buffer).
Decoded ReadAll(TBZDecompressionStream& stream, std::uint32_t seed) {
    static const std::size_t kPieces[] = {1, 2, 3, 7, 512, 4096, 65535, 65536, 65537, 200000};
    static std::vector<char> buffer(200000);
    Decoded result;
    try {
        while (result.content.size() < kMaxContent) {
            std::size_t piece = TBZDecompressionStream::kBufferSize;
            if (seed != 0) {
                seed = seed * 1103515245u + 12345u;
                piece = kPieces[(seed >> 16) % std::size(kPieces)];
                // Tiny pieces only near the start, to keep each run short.
                if (result.content.size() > 65536)
                    piece = std::max<std::size_t>(piece, 4096);
            }
            const std::size_t n = stream.Read(buffer.data(), piece);
            Check(n <= piece, "a read gives at most what was asked for");
            result.content.append(buffer.data(), n);
            if (n < piece)
                break;
        }
    } catch (const EBZip2Error&) {
        result.failed = true;
    }
    result.truncated = result.content.size() >= kMaxContent;
    result.ended = stream.StreamEnded();
    return result;
}

bool Same(const Decoded& a, const Decoded& b) {
    if (a.truncated || b.truncated)
        return true;
    if (a.failed || b.failed) {
        // A read that fails loses what it produced before the failure.
        const std::string& shorter = a.content.size() < b.content.size() ? a.content : b.content;
        const std::string& longer = a.content.size() < b.content.size() ? b.content : a.content;
        return a.failed == b.failed && longer.compare(0, shorter.size(), shorter) == 0;
    }
    return a.content == b.content && a.ended == b.ended;
}

std::string Compress(std::string_view data, int blockSize) {
    std::string out(data.size() + data.size() / 100 + 600, '\0');
    auto length = static_cast<unsigned>(out.size());
    std::string in(data);
    const int result = BZ2_bzBuffToBuffCompress(out.data(), &length, in.data(),
                                                static_cast<unsigned>(in.size()), blockSize, 0, 0);
    Check(result == BZ_OK, "libbz2 compresses the input");
    out.resize(length);
    return out;
}

void CheckUnpack(TFileTransfer& transfer, std::string_view copy, const Decoded& decoded,
                 const std::string& digest) {
    static const std::string folder = fuzz::ScratchPath("unpack");
    static const std::string source = folder + "/copy.bz2";
    static const std::string target = folder + "/target.dat";
    fuzz::WriteWhole(source, copy);
    fuzz::WriteWhole(target, kOldContent);
    bool unpacked = true;
    try {
        transfer.Unpack(source, target, digest);
    } catch (const std::exception&) {
        unpacked = false;
    }
    const std::string content = fuzz::ReadWhole(target);
    const std::string detail = "digest " + digest;
    Check(!fuzz::FileExists(source), "the copy is removed", detail);
    Check(fuzz::FolderNames(folder) == std::vector<std::string>{"target.dat"},
          "an unpack leaves nothing beside its target", detail);
    if (!unpacked) {
        Check(content == kOldContent, "after a failed unpack the target holds its old content",
              detail);
        Check(decoded.failed || !decoded.ended || decoded.truncated ||
                  (!digest.empty() &&
                   DigestText(decoded.content.data(), decoded.content.size()) != digest),
              "an unpack of a whole stream with its digest succeeds", detail);
        return;
    }
    Check(digest.empty() || DigestText(content.data(), content.size()) == digest,
          "after an unpack the target has the digest asked for", detail);
    Check(decoded.truncated || (!decoded.failed && decoded.ended && content == decoded.content),
          "an unpack succeeds only with the content of a whole stream", detail);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::SilentTarget silent;
    static TNotifier notifier(silent);
    static TFileTransfer transfer(notifier, {});
    static const bool made = [] {
        std::filesystem::create_directories(fuzz::ScratchPath("unpack"));
        return true;
    }();
    (void)made;

    const std::string_view input = fuzz::AsText(data, size);
    const bool plain = !input.starts_with("BZh");
    const std::string copy =
        plain ? Compress(input, 1 + static_cast<int>(size % 9)) : std::string(input);
    std::uint32_t seed = 1;
    for (const char c : input.substr(0, 16))
        seed = seed * 31u + static_cast<unsigned char>(c);

    fuzz::MemoryStream source(copy);
    TBZDecompressionStream whole(source);
    const Decoded first = ReadAll(whole, 0);
    if (plain)
        Check(!first.failed && first.ended && first.content == input,
              "data compressed with libbz2 comes back unchanged", input);

    if (first.truncated)
        return 0;

    fuzz::MemoryStream again(copy);
    TBZDecompressionStream pieces(again);
    const Decoded second = ReadAll(pieces, seed | 1u);
    Check(Same(first, second), "reading in pieces gives what reading in blocks gives", input);
    // Each stream costs the library's block memory, so the restart and the
    // digests of the unpack vary from input to input.
    if (size % 2 == 0) {
        Check(pieces.Seek(0, TSeekOrigin::soBeginning) == 0, "a restart is at position 0", input);
        const Decoded third = ReadAll(pieces, 0);
        Check(Same(first, third), "a restarted stream gives the same again", input);
    }
    const std::string digests[] = {DigestText(first.content.data(), first.content.size()),
                                   {},
                                   DigestText(input.data(), input.size() / 2)};
    CheckUnpack(transfer, copy, first, digests[size / 2 % 3]);
    return 0;
}
