#include "Desktop.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// Points the user's folders at a temporary home for the life of the object.
class TemporaryHome {
public:
    TemporaryHome() {
        for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
            const char* value = std::getenv(name);
            saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
        ::setenv("HOME", dir_.path().c_str(), 1);
        ::unsetenv("XDG_CONFIG_HOME");
        ::unsetenv("XDG_DATA_HOME");
    }
    ~TemporaryHome() {
        for (const auto& [name, value] : saved_)
            value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }
    std::string operator/(const std::string& name) const { return dir_ / name; }

private:
    TempDir dir_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

} // namespace

TEST(DesktopEntry, ValuesAreEscapedAndTheProgramQuoted) {
    platform::DesktopEntry entry;
    entry.name = "Мой клиент";
    entry.comment = "Quenmor";
    entry.program = "/home/p/My \"Games\"/100% $fun\\Quenmor";
    entry.folder = "/home/p/My \"Games\"/";
    EXPECT_EQ(platform::DesktopEntryText(entry),
              "[Desktop Entry]\n"
              "Type=Application\n"
              "Version=1.0\n"
              "Name=Мой клиент\n"
              "Comment=Quenmor\n"
              "Exec=\"/home/p/My \\\\\"Games\\\\\"/100%% \\\\$fun\\\\\\\\Quenmor\"\n"
              "Path=/home/p/My \"Games\"/\n"
              "Terminal=false\n"
              "Categories=Game;\n");
    entry.program = "/opt/quenmor/Quenmor";
    entry.icon = "/icons/q.png";
    const std::string text = platform::DesktopEntryText(entry);
    EXPECT_NE(text.find("Exec=/opt/quenmor/Quenmor\n"), std::string::npos);
    EXPECT_NE(text.find("Icon=/icons/q.png\n"), std::string::npos);
}

TEST(DesktopEntry, FoldersFollowTheUserDirectories) {
    TemporaryHome home;
    EXPECT_EQ(platform::DesktopFolder(), home / "Desktop");
    EXPECT_EQ(platform::ApplicationsFolder(), home / ".local/share/applications");
    WriteFile(home / ".config/user-dirs.dirs",
              "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Рабочий стол\"\n");
    EXPECT_EQ(platform::DesktopFolder(), home / "Рабочий стол");
}

TEST(DesktopEntry, WrittenExecutableIntoAFolderThatIsMadeWhenMissing) {
    TemporaryHome home;
    platform::DesktopEntry entry;
    entry.name = "Quenmor";
    entry.program = "/opt/q/Quenmor";
    ASSERT_TRUE(platform::WriteDesktopEntry(platform::DesktopFolder(), "Quenmor", entry));
    const std::string file = home / "Desktop/Quenmor.desktop";
    EXPECT_EQ(ReadFile(file), platform::DesktopEntryText(entry));
    EXPECT_NE(fs::status(file).permissions() & fs::perms::owner_exec, fs::perms::none);
}
