#include "md5.h"
#include "Md5Lanes.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

using namespace testing_support;

namespace {
const std::string kEmptyDigest = "d41d8cd98f00b204e9800998ecf8427e";
}

TEST(FileDigestText, KnownDigestsInLowercase) {
    TempDir dir;
    WriteFile(dir / "abc", "abc");
    EXPECT_EQ(FileDigestText(dir / "abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(FileDigestTextByReading(dir / "abc"), "900150983cd24fb0d6963f7d28e17f72");
    WriteFile(dir / "empty", "");
    EXPECT_EQ(FileDigestText(dir / "empty"), kEmptyDigest);
    EXPECT_EQ(FileDigestTextByReading(dir / "empty"), kEmptyDigest);
}

TEST(FileDigestText, UnreadableFilesHaveTheDigestOfEmptyInput) {
    TempDir dir;
    EXPECT_EQ(FileDigestText(dir / "missing"), kEmptyDigest);
    EXPECT_EQ(FileDigestText(dir.path().string()), kEmptyDigest); // a folder
    EXPECT_EQ(FileDigestTextByReading(dir / "missing"), kEmptyDigest);
    EXPECT_EQ(FileDigestTextByReading(dir.path().string()), kEmptyDigest);
}

TEST(FileDigestText, LargeFilesDigestTheWholeContent) {
    // Sizes around the slices of the large-file path, and an odd tail.
    TempDir dir;
    for (std::size_t size :
         {std::size_t{8} << 20, (std::size_t{9} << 20) + 12345, std::size_t{41} << 20}) {
        const std::string data = SampleData(size, static_cast<std::uint32_t>(size));
        WriteFile(dir / "big", data);
        EXPECT_EQ(FileDigestText(dir / "big"), Md5Hex(data)) << size;
        EXPECT_EQ(FileDigestTextByReading(dir / "big"), Md5Hex(data)) << size;
    }
}

TEST(TMD5, PiecewiseEqualsWhole) {
    const std::string data = SampleData(100000, 5);
    TMD5 md5;
    for (std::size_t at = 0; at < data.size(); at += 777)
        md5.Update(data.data() + at, std::min<std::size_t>(777, data.size() - at));
    EXPECT_EQ(md5.FinalText(), DigestText(data.data(), data.size()));
}

// Files of every length around a block and its padding, around the lanes'
// reads, missing and unreadable ones among them, in lists of every length:
// lanes start, end and take the next file at different blocks, a lone lane
// finishes the list, and each digest is the one of its own file.
TEST(FileDigestTextsByReading, EachFileGetsItsOwnDigestWhateverItsNeighbours) {
    TempDir dir;
    std::vector<std::string> paths, expected;
    const std::size_t read = std::size_t{256} << 10;
    std::size_t n = 0;
    for (std::size_t size :
         {std::size_t{0}, std::size_t{1}, std::size_t{55}, std::size_t{56}, std::size_t{63},
          std::size_t{64}, std::size_t{65}, std::size_t{119}, std::size_t{120}, std::size_t{128},
          read - 1, read, read + 1, 3 * read + 777, std::size_t{5} << 20}) {
        const std::string data = SampleData(size, static_cast<std::uint32_t>(n));
        const std::string path = dir / ("f" + std::to_string(n++));
        WriteFile(path, data);
        paths.push_back(path);
        expected.push_back(Md5Hex(data));
        if (n == 4 || n == 9) {
            paths.push_back(dir / "missing");
            expected.push_back(kEmptyDigest);
            paths.push_back(dir.path().string()); // a folder
            expected.push_back(kEmptyDigest);
        }
    }
    EXPECT_EQ(FileDigestTextsByReading(paths), expected);
    // The same files in another order, and every shorter list.
    std::reverse(paths.begin(), paths.end());
    std::reverse(expected.begin(), expected.end());
    for (std::ptrdiff_t count = 0; count <= std::ssize(paths); ++count)
        EXPECT_EQ(FileDigestTextsByReading({paths.begin(), paths.begin() + count}),
                  std::vector<std::string>(expected.begin(), expected.begin() + count))
            << count;
}

// Lanes given blocks at different times keep their own messages: the idle
// lanes of a round are left as they were.
TEST(TMd5Lanes, IdleLanesKeepTheirState) {
    const std::string data = SampleData(64 * 10, 9);
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    TMd5Lanes lanes;
    lanes.Compress({bytes, nullptr, bytes + 64, nullptr}, 3);       // lanes 0 and 2
    lanes.Compress({nullptr, bytes, nullptr, nullptr}, 1);          // lane 1
    lanes.CompressOne(3, bytes + 128, 2);                           // lane 3
    lanes.Compress({bytes + 192, bytes + 64, nullptr, nullptr}, 2); // lanes 0 and 1
    const std::pair<std::size_t, std::size_t> messages[] = {{0, 5}, {0, 3}, {1, 3}, {2, 2}};
    for (std::size_t lane = 0; lane < TMd5Lanes::kLanes; ++lane) {
        const auto [first, blocks] = messages[lane];
        unsigned char end[2 * TMd5Lanes::kBlock];
        const std::size_t padded = TMd5Lanes::PadEnd(nullptr, 0, 64 * blocks, end);
        lanes.CompressOne(lane, end, padded);
        EXPECT_EQ(lanes.DigestText(lane), Md5Hex(data.substr(64 * first, 64 * blocks))) << lane;
    }
}
