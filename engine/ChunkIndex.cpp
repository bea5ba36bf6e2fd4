#include "ChunkIndex.h"

#include "md5.h"

#include <zstd.h>

#include <charconv>
#include <limits>

namespace {

constexpr std::string_view kHeader = "quenmor-chunks 1";
// A number as an index writes it: decimal digits, no sign, at most 18.
constexpr std::size_t kMaxDigits = 18;

std::optional<std::int64_t> Number(std::string_view text) {
    if (text.empty() || text.size() > kMaxDigits || (text.size() > 1 && text[0] == '0'))
        return std::nullopt;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0)
        return std::nullopt;
    return value;
}

// Splits a line at single spaces into exactly `count` words.
bool Words(std::string_view line, std::size_t count, std::string_view* words) {
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t space = line.find(' ');
        if ((space == line.npos) != (k + 1 == count))
            return false;
        words[k] = line.substr(0, space);
        if (words[k].empty())
            return false;
        line = space == line.npos ? std::string_view() : line.substr(space + 1);
    }
    return true;
}

std::string Stored(const std::string& sha256, const char* suffix) {
    return std::string(kChunkFolder) + "/" + sha256.substr(0, 4) + "/" + sha256 + suffix;
}

} // namespace

std::string ChunkPath(const std::string& sha256) { return Stored(sha256, ".zst"); }
std::string IndexPath(const std::string& sha256) { return Stored(sha256, ".idx"); }

std::string ChunkSizesText(const TChunkSizes& sizes) {
    return std::to_string(sizes.min) + "," + std::to_string(sizes.avg) + "," +
           std::to_string(sizes.max);
}

std::optional<TChunkSizes> ParseChunkSizes(std::string_view text) {
    std::int64_t values[3];
    for (int k = 0; k < 3; ++k) {
        const std::size_t comma = text.find(',');
        if ((comma == text.npos) != (k == 2))
            return std::nullopt;
        const std::optional<std::int64_t> value = Number(text.substr(0, comma));
        if (!value || *value > std::numeric_limits<std::uint32_t>::max())
            return std::nullopt;
        values[k] = *value;
        text = comma == text.npos ? std::string_view() : text.substr(comma + 1);
    }
    const TChunkSizes sizes{static_cast<std::uint32_t>(values[0]),
                            static_cast<std::uint32_t>(values[1]),
                            static_cast<std::uint32_t>(values[2])};
    if (!sizes.Problem().empty())
        return std::nullopt;
    return sizes;
}

std::string ChunkIndexText(const TChunkIndex& index) {
    std::string text(kHeader);
    text += "\n" + index.sha256 + " " + std::to_string(index.size) + " " +
            std::to_string(index.chunks.size()) + "\n";
    for (const TChunkRef& chunk : index.chunks)
        text += chunk.sha256 + " " + std::to_string(chunk.size) + " " +
                std::to_string(chunk.packed) + "\n";
    return text;
}

std::int64_t MaxFrameSize(std::int64_t size) {
    return static_cast<std::int64_t>(ZSTD_compressBound(static_cast<std::size_t>(size)));
}

std::int64_t MaxIndexSize(std::int64_t size, const TChunkSizes& sizes) {
    // Every chunk but the last has at least min bytes; a line holds a digest,
    // two numbers of at most 18 digits, two spaces and its end.
    constexpr std::int64_t kLine = 64 + 2 * kMaxDigits + 3;
    return static_cast<std::int64_t>(kHeader.size()) + 1 + kLine +
           (size / sizes.min + 1) * kLine;
}

std::optional<TChunkIndex> ParseChunkIndex(std::string_view text, const TChunkSizes& sizes,
                                           const std::string& sha256, std::int64_t size,
                                           std::string& problem) {
    const auto refuse = [&](std::string why) {
        problem = std::move(why);
        return std::nullopt;
    };
    std::size_t lineNo = 0;
    const auto nextLine = [&](std::string_view& line) {
        const std::size_t end = text.find('\n');
        if (end == text.npos)
            return false;
        line = text.substr(0, end);
        text.remove_prefix(end + 1);
        ++lineNo;
        return true;
    };
    std::string_view line;
    if (!nextLine(line) || line != kHeader)
        return refuse("it is not a chunk index");
    std::string_view words[3];
    if (!nextLine(line) || !Words(line, 3, words))
        return refuse("its second line is not the content's digest, size and chunk count");
    const std::optional<std::int64_t> listedSize = Number(words[1]);
    const std::optional<std::int64_t> count = Number(words[2]);
    if (words[0] != sha256 || listedSize != size)
        return refuse("it is the index of another content");
    if (!count || *count > size / sizes.min + 1)
        return refuse("it lists more chunks than the content can have");
    TChunkIndex index{sha256, size, {}};
    index.chunks.reserve(static_cast<std::size_t>(*count));
    std::int64_t total = 0;
    for (std::int64_t k = 0; k < *count; ++k) {
        if (!nextLine(line) || !Words(line, 3, words))
            return refuse("line " + std::to_string(lineNo + 1) + " is not a chunk's digest, size "
                                                                 "and frame size");
        const std::optional<std::int64_t> chunkSize = Number(words[1]);
        const std::optional<std::int64_t> packed = Number(words[2]);
        if (!IsSha256Text(words[0]) || !chunkSize || !packed)
            return refuse("line " + std::to_string(lineNo) + " is not a chunk's digest, size "
                                                             "and frame size");
        const bool last = k + 1 == *count;
        if (*chunkSize == 0 || *chunkSize > sizes.max || (!last && *chunkSize < sizes.min))
            return refuse("line " + std::to_string(lineNo) +
                          " lists a chunk of a size that the store's sizes cannot cut");
        if (*packed == 0 || *packed > MaxFrameSize(*chunkSize))
            return refuse("line " + std::to_string(lineNo) +
                          " lists a frame larger than zstd makes of its chunk");
        total += *chunkSize;
        if (total > size)
            return refuse("its chunks add up to more than the content");
        index.chunks.push_back({std::string(words[0]), *chunkSize, *packed});
    }
    if (total != size)
        return refuse("its chunks add up to " + std::to_string(total) + " bytes, not " +
                      std::to_string(size));
    if (!text.empty())
        return refuse("it goes on after its last chunk");
    return index;
}
