// An update server that lies, breaks or names paths outside the installation:
// the installation keeps every old file byte for byte, nothing outside it
// changes, and the run ends with the failure text.
#include "GetFilesThr.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

using namespace testing_support;
namespace fs = std::filesystem;
using Fault = HttpReply::Fault;

namespace {

const std::string kOld = "the old content of a.dat";
const std::string kNew = "the new content of a.dat";

struct HostileCase {
    std::string name;
    std::string entryPath; // manifest path of the bad entry
    std::function<HttpReply(const std::string& good)>
        reply; // answer for its copy; empty: served as is

    // The test output names the case, not its bytes.
    friend void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }
};

class HostileServerTest : public ::testing::TestWithParam<HostileCase> {
protected:
    void SetUp() override {
        fs::create_directories(dir_.path() / "root/server");
        fs::create_directories(dir_.path() / "root/install/data");
        WriteFile(dir_ / "root/install/data/a.dat", kOld);
        WriteFile(dir_ / "root/install/keep.dat", "kept");
        WriteFile(dir_ / "x", "outside the installation");
        WriteFile(dir_ / "root/x", "outside the installation too");
        snapshotOutside_ = Snapshot(dir_.path(), dir_.path() / "root/install");
    }

    // Every file below `top` but those below `skip`, with its content.
    static std::map<std::string, std::string> Snapshot(const fs::path& top, const fs::path& skip) {
        std::map<std::string, std::string> files;
        for (auto it = fs::recursive_directory_iterator(top);
             it != fs::recursive_directory_iterator(); ++it) {
            if (it->path() == skip || it->path() == top / "root/server") {
                it.disable_recursion_pending();
                continue;
            }
            if (it->is_regular_file())
                files[it->path().string()] = ReadFile(it->path().string());
        }
        return files;
    }

    TempDir dir_;
    std::map<std::string, std::string> snapshotOutside_;
};

} // namespace

TEST_P(HostileServerTest, InstallationAndSurroundingsStayIntact) {
    const HostileCase& c = GetParam();
    const std::string compressed = Bzip2(kNew);
    const std::string localCopy =
        "root/server/" + std::string(c.entryPath == "data\\a.dat" ? "data/a.dat" : "bad") + ".bz2";
    WriteFile(dir_ / localCopy, compressed);
    const std::string entry =
        c.entryPath + "|" + Md5Hex(kNew) + "|" + std::to_string(compressed.size());
    WriteFile(dir_ / "root/server/files.lst.bz2",
              Bzip2("[settings]\r\nRev|2\r\nModHosts|0\r\n[/settings]\r\n[files_normal]\r\n" +
                    entry + "\r\n[/files_normal]\r\n"));

    const std::string serverRoot = (dir_.path() / "root/server").string();
    const auto folder = TestHttpServer::Folder(serverRoot);
    TestHttpServer server([&](const HttpRequest& request) {
        if (c.reply && request.target != "/files.lst.bz2")
            return c.reply(compressed);
        return folder(request);
    });

    RecordingTarget target;
    {
        ScopedCurrentDir cwd(dir_.path() / "root/install");
        GFilesThread thread(target);
        thread.UpdateUrl = server.Url("/");
        thread.AtRevision = 1;
        thread.CreateBackup = 0;
        thread.ConnectTimeoutS = 2;
        thread.StallTimeoutS = 1;
        thread.Execute();
    }

    EXPECT_EQ(ReadFile(dir_ / "root/install/data/a.dat"), kOld);
    EXPECT_EQ(ReadFile(dir_ / "root/install/keep.dat"), "kept");
    EXPECT_EQ(Snapshot(dir_.path(), dir_.path() / "root/install"), snapshotOutside_);
    const auto status = target.EventsWithoutFileProgress();
    ASSERT_GE(status.size(), 2u);
    EXPECT_EQ(status.end()[-2], "ShowStatus:Не удалось обновить");
    EXPECT_EQ(status.back(), "UnlockCommands");
    for (const auto& e : fs::recursive_directory_iterator(dir_.path() / "root/install")) {
        const std::string name = e.path().filename().string();
        EXPECT_EQ(name.find(".quenmor-tmp-"), std::string::npos) << e.path();
        EXPECT_NE(e.path().extension(), ".bz2") << e.path();
    }
}

namespace {

HttpReply Body(std::string body, int status = 200) {
    HttpReply r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

HttpReply Faulty(const std::string& body, Fault fault, std::size_t cutAt) {
    HttpReply r = Body(body);
    r.fault = fault;
    r.cutAt = cutAt;
    return r;
}

std::string Flip(std::string data) {
    data[data.size() / 2] = static_cast<char>(data[data.size() / 2] ^ 0x20);
    return data;
}

const HostileCase kCases[] = {
    {"ParentFolder", "..\\x", nullptr},
    {"ParentFolderInside", "a\\..\\..\\x", nullptr},
    {"RootedPath", "\\x", nullptr},
    {"DriveLetter", "C:\\x", nullptr},
    {"NetworkPath", "\\\\srv\\x", nullptr},
    {"Colon", "a:b", nullptr},
    {"Nul", std::string("a\0b", 3), nullptr},
    {"ControlCharacter", "data\\a\x07.dat", nullptr},
    {"WrongContent", "data\\a.dat",
     [](const std::string&) { return Body(Bzip2("something else")); }},
    {"Truncated", "data\\a.dat",
     [](const std::string& good) { return Body(good.substr(0, good.size() - 8)); }},
    {"FlippedByte", "data\\a.dat", [](const std::string& good) { return Body(Flip(good)); }},
    {"Html404", "data\\a.dat",
     [](const std::string&) { return Body("<html>404 Not Found</html>", 404); }},
    {"Empty200", "data\\a.dat", [](const std::string&) { return Body(""); }},
    {"CutConnection", "data\\a.dat",
     [](const std::string& good) { return Faulty(good, Fault::CutBody, good.size() / 2); }},
    {"StallInBody", "data\\a.dat",
     [](const std::string& good) { return Faulty(good, Fault::StallInBody, good.size() / 2); }},
    {"StallBeforeHeaders", "data\\a.dat",
     [](const std::string& good) { return Faulty(good, Fault::StallBeforeHeaders, 0); }},
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Hostile, HostileServerTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<HostileCase>& p) {
                             return p.param.name;
                         });
