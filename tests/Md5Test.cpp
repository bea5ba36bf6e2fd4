#include "md5.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

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
