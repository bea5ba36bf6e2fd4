// MD5 of several files side by side. One MD5 is a chain of dependent steps
// that leaves most of a core idle; four independent messages hashed together
// in the four 32-bit lanes of SSE2 registers take about the time of one. The
// file check, whose files are independent of each other, digests its files
// this way; everything else keeps the one-message digest of md5.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TMd5Lanes {
public:
    static constexpr std::size_t kLanes = 4;
    static constexpr std::size_t kBlock = 64;

    // Every lane at the start of a message.
    TMd5Lanes();
    void Reset(std::size_t lane);
    // Adds `count` consecutive blocks from each lane's pointer to its
    // message; the lanes whose pointer is null are left as they were.
    void Compress(const std::array<const unsigned char*, kLanes>& blocks, std::size_t count);
    // Adds `count` consecutive blocks to one lane alone: faster than four
    // lanes of which three idle.
    void CompressOne(std::size_t lane, const unsigned char* blocks, std::size_t count);
    // The digest of the lane's message, as 32 lowercase hexadecimal digits,
    // once the padded end of the message was compressed.
    std::string DigestText(std::size_t lane) const;

    // The padded end of a message of `total` bytes whose last `size` bytes
    // (fewer than a block) are at `tail`: one or two blocks into `out`;
    // returns how many.
    static std::size_t PadEnd(const unsigned char* tail, std::size_t size, std::uint64_t total,
                              unsigned char (&out)[2 * kBlock]);

private:
    // state_[word][lane]: the four words a, b, c, d of each lane.
    alignas(16) std::uint32_t state_[4][kLanes];
};

// The digests of whole files as FileDigestTextByReading gives them (a file
// that cannot be opened or read gives the digest of empty input), computed
// four at a time in the lanes, in blocks read from each file in turn.
std::vector<std::string> FileDigestTextsByReading(const std::vector<std::string>& paths);
