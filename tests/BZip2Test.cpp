#include "BZip2.h"
#include "Files.h"
#include "GetFilesThr.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

class UnpackTest : public ::testing::Test {
protected:
    void SetUp() override { transfer_ = std::make_unique<RunTransfer>(target_); }

    // Writes `compressed` as the downloaded copy and unpacks it into "out.dat".
    void UnpackBytes(const std::string& compressed, const std::string& digest = {}) {
        WriteFile(dir_ / "out.dat.bz2", compressed);
        transfer_->Unpack(dir_ / "out.dat.bz2", dir_ / "out.dat", digest);
    }

    std::vector<std::string> LeftoverTempFiles() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_.path()))
            if (e.path().filename().string().rfind(".quenmor-tmp-", 0) == 0)
                names.push_back(e.path().filename().string());
        return names;
    }

    TempDir dir_;
    RecordingTarget target_;
    std::unique_ptr<RunTransfer> transfer_;
};

} // namespace

TEST_F(UnpackTest, RestoresWhatTheSystemBzip2CompressedAndDeletesTheCopy) {
    for (std::size_t size :
         {std::size_t{0}, std::size_t{1}, std::size_t{65536}, std::size_t{700001}}) {
        const std::string data = SampleData(size, static_cast<std::uint32_t>(size));
        UnpackBytes(Bzip2(data));
        EXPECT_EQ(ReadFile(dir_ / "out.dat"), data) << size;
        EXPECT_FALSE(Exists(dir_ / "out.dat.bz2"));
    }
    EXPECT_TRUE(LeftoverTempFiles().empty());
}

TEST_F(UnpackTest, ReportsCompressedBytesReadAgainstTheCompressedSize) {
    const std::string compressed = Bzip2(SampleData(3'000'000, 7));
    UnpackBytes(compressed);
    const auto events = target_.Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), "SetFileGaugeMax:" + std::to_string(compressed.size()));
    const auto progress = target_.Values("SetFileProgress");
    ASSERT_GE(progress.size(), 3u);
    EXPECT_EQ(progress.back(), 0);
    EXPECT_EQ(progress[progress.size() - 2], static_cast<std::int64_t>(compressed.size()));
    for (std::size_t i = 1; i + 1 < progress.size(); ++i)
        EXPECT_LE(progress[i - 1], progress[i]);
}

TEST_F(UnpackTest, ReplacesAnExistingFileKeepingItsPermissionBits) {
    if (platform::kPathSeparator == '\\')
        GTEST_SKIP() << "no permission bits; ReplaceFileW keeps the attributes";
    WriteFile(dir_ / "out.dat", "old content");
    fs::permissions(dir_ / "out.dat", fs::perms(0750));
    UnpackBytes(Bzip2("new content"));
    EXPECT_EQ(ReadFile(dir_ / "out.dat"), "new content");
    EXPECT_EQ(fs::status(dir_ / "out.dat").permissions() & fs::perms::mask, fs::perms(0750));
}

TEST_F(UnpackTest, BadInputFailsAndLeavesTheTargetAsItWas) {
    const std::string good = Bzip2(SampleData(400'000, 3));
    std::string damaged = good;
    damaged[damaged.size() / 2] = static_cast<char>(damaged[damaged.size() / 2] ^ 0x55);
    const std::string truncated = good.substr(0, good.size() - 100);
    const std::string trailing = good + "garbage after the stream";
    const std::string errorPage = "<html><body>404 Not Found</body></html>";
    for (const std::string& input : {damaged, truncated, trailing, errorPage, std::string()}) {
        WriteFile(dir_ / "out.dat", "old content");
        EXPECT_THROW(UnpackBytes(input), EBZip2Error);
        EXPECT_EQ(ReadFile(dir_ / "out.dat"), "old content");
        EXPECT_FALSE(Exists(dir_ / "out.dat.bz2")); // the copy goes all the same
        EXPECT_TRUE(LeftoverTempFiles().empty());
    }
    EXPECT_EQ(target_.Values("SetFileProgress").back(), 0);
}

TEST_F(UnpackTest, ContentWithTheWrongDigestIsNotInstalled) {
    WriteFile(dir_ / "out.dat", "old content");
    EXPECT_THROW(UnpackBytes(Bzip2("new content"), Md5Hex("something else")), Exception);
    EXPECT_EQ(ReadFile(dir_ / "out.dat"), "old content");
    UnpackBytes(Bzip2("new content"), Md5Hex("new content"));
    EXPECT_EQ(ReadFile(dir_ / "out.dat"), "new content");
}

TEST_F(UnpackTest, MissingCompressedFileFailsWithoutTouchingAnything) {
    WriteFile(dir_ / "out.dat", "old content");
    EXPECT_THROW(transfer_->Unpack(dir_ / "absent.bz2", dir_ / "out.dat"), EInOutError);
    EXPECT_EQ(ReadFile(dir_ / "out.dat"), "old content");
    EXPECT_TRUE(target_.Events().empty());
}

TEST_F(UnpackTest, TargetInAMissingFolderFailsAndStillDeletesTheCopy) {
    WriteFile(dir_ / "x.bz2", Bzip2("abc"));
    EXPECT_THROW(transfer_->Unpack(dir_ / "x.bz2", dir_ / "no/such/folder/x"), EInOutError);
    EXPECT_FALSE(Exists(dir_ / "x.bz2"));
}

// ---------------------------------------------------------------------------

namespace {

class BZStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        data_ = SampleData(300'000, 11);
        WriteFile(dir_ / "d.bz2", Bzip2(data_));
        file_ = std::make_unique<TFileStream>(dir_ / "d.bz2", TFileStream::Mode::fmOpenRead);
        stream_ = std::make_unique<TBZDecompressionStream>(*file_);
    }
    std::string ReadN(std::size_t n) {
        std::string out(n, '\0');
        out.resize(stream_->Read(out.data(), n));
        return out;
    }
    TempDir dir_;
    std::string data_;
    std::unique_ptr<TFileStream> file_;
    std::unique_ptr<TBZDecompressionStream> stream_;
};

} // namespace

TEST_F(BZStreamTest, PositionCountsProducedBytesAndSeeksForwardOrToTheStart) {
    EXPECT_EQ(ReadN(1000), data_.substr(0, 1000));
    EXPECT_EQ(stream_->Position(), 1000);
    EXPECT_EQ(stream_->Seek(5000, TSeekOrigin::soCurrent), 6000);
    EXPECT_EQ(ReadN(10), data_.substr(6000, 10));
    EXPECT_EQ(stream_->Seek(20000, TSeekOrigin::soBeginning), 20000);
    EXPECT_EQ(ReadN(10), data_.substr(20000, 10));
    EXPECT_EQ(stream_->Seek(0, TSeekOrigin::soBeginning), 0);
    EXPECT_EQ(ReadN(100), data_.substr(0, 100));
    // A forward move past the end stops at the end.
    EXPECT_EQ(stream_->Seek(10'000'000, TSeekOrigin::soBeginning),
              static_cast<std::int64_t>(data_.size()));
}

TEST_F(BZStreamTest, RefusesBackwardSeeksAndWrites) {
    ReadN(100);
    for (auto [offset, origin] : {std::pair{std::int64_t{50}, TSeekOrigin::soBeginning},
                                  std::pair{std::int64_t{-1}, TSeekOrigin::soCurrent},
                                  std::pair{std::int64_t{0}, TSeekOrigin::soEnd}}) {
        try {
            stream_->Seek(offset, origin);
            ADD_FAILURE() << "seek allowed";
        } catch (const EBZDecompressionError& e) {
            EXPECT_STREQ(e.what(), "Invalid stream operation");
        }
    }
    EXPECT_THROW(stream_->Write("x", 1), EBZDecompressionError);
}

TEST_F(BZStreamTest, ReadsFromWhereItLeftOffEvenWhenTheSourceWasMoved) {
    EXPECT_EQ(ReadN(70000), data_.substr(0, 70000));
    file_->Seek(0, TSeekOrigin::soBeginning);
    EXPECT_EQ(ReadN(70000), data_.substr(70000, 70000));
}

TEST_F(BZStreamTest, FailedStepNamesTheLibraryResult) {
    TempDir dir;
    WriteFile(dir / "bad.bz2", "BZh9 this is not bzip2 data at all");
    TFileStream file(dir / "bad.bz2", TFileStream::Mode::fmOpenRead);
    TBZDecompressionStream stream(file);
    char buffer[100];
    try {
        stream.Read(buffer, sizeof buffer);
        ADD_FAILURE() << "no error";
    } catch (const EBZCompressionError& e) {
        EXPECT_STREQ(e.what(), "error -4"); // BZ_DATA_ERROR
    }
}
