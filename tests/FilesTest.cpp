#include "Files.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;
using platform::ResolveCaseInsensitive;

namespace {

// Windows file systems find names in any letter case by themselves, and
// there the names are given back as they are.
constexpr bool kCaseSensitiveSystem = platform::kPathSeparator == '/';

} // namespace

TEST(ResolveCaseInsensitive, FindsFilesInstalledWithAnotherLetterCase) {
    TempDir dir;
    const std::string base = platform::PathText(dir.path()) + platform::kPathSeparator;
    WriteFile(dir / "System/Zentyr.EXE", "x");
    WriteFile(dir / "Мир/Карта.dat", "y");
    EXPECT_EQ(ReadFile(ResolveCaseInsensitive(base, "system/zentyr.exe")), "x");
    EXPECT_EQ(ReadFile(ResolveCaseInsensitive(base, "мир/карта.DAT")), "y");
    if (!kCaseSensitiveSystem)
        return;
    EXPECT_EQ(ResolveCaseInsensitive(base, "system/zentyr.exe"), base + "System/Zentyr.EXE");
    EXPECT_EQ(ResolveCaseInsensitive(base, "мир/карта.DAT"), base + "Мир/Карта.dat");
    // The exact name wins without looking further.
    EXPECT_EQ(ResolveCaseInsensitive(base, "System/Zentyr.EXE"), base + "System/Zentyr.EXE");
    // What does not exist keeps the letters given, below the part that matched.
    EXPECT_EQ(ResolveCaseInsensitive(base, "system/new/File.dat"), base + "System/new/File.dat");
    EXPECT_EQ(ResolveCaseInsensitive(base, "data/a.dat"), base + "data/a.dat");
}

TEST(ResolveCaseInsensitive, SeveralCandidatesGiveTheFirstInNameOrder) {
    if (!kCaseSensitiveSystem)
        GTEST_SKIP() << "names that differ only in case are one name";
    TempDir dir;
    const std::string base = dir.path().string() + "/";
    WriteFile(dir / "b.DAT", "1");
    WriteFile(dir / "B.dat", "2");
    EXPECT_EQ(ResolveCaseInsensitive(base, "b.dat"), base + "B.dat");
}

TEST(AtomicFile, ReplacesOnlyOnCommitAndCleansUpOtherwise) {
    TempDir dir;
    WriteFile(dir / "f", "old");
    {
        platform::AtomicFile file(dir / "f");
        file.Write("new", 3);
        EXPECT_EQ(ReadFile(dir / "f"), "old");
    }
    EXPECT_EQ(ReadFile(dir / "f"), "old");
    {
        platform::AtomicFile file(dir / "f");
        file.Write("new", 3);
        file.Commit();
    }
    EXPECT_EQ(ReadFile(dir / "f"), "new");
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 1u);
}
