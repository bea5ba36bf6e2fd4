// The headless runner killed at all kinds of moments of an update run: while
// it fetches the list, checks files, downloads, unpacks and records the
// revision. Whenever a run dies, every listed file holds its old content or
// its new content, never a part of either, nothing outside the installation
// changes, and the revision is recorded only once everything is current. A
// run left alone afterwards finishes the update and removes what the killed
// runs left behind.
#include "ChildProcess.h"
#include "ChunkIndex.h"
#include "Files.h"
#include "InstallLock.h"
#include "TestHttpServer.h"
#include "TestSupport.h"
#include "Text.h"
#include "Zstd.h"
#include "md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

using namespace testing_support;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Millis = std::chrono::duration<double, std::milli>;

namespace {

constexpr int kOldRevision = 6;
constexpr int kNewRevision = 7;
// Rounds of start, wait and kill, and the time they may take together.
constexpr int kRounds = 48;
constexpr auto kRoundsBudget = std::chrono::seconds(30);
// The first rounds kill while the list is fetched and the files are checked.
constexpr int kStartupRounds = 6;
// The last rounds let runs go on for most of a whole run.
constexpr int kLateRounds = 6;
// A run that is not killed must end within this time.
constexpr auto kLongestRun = std::chrono::seconds(60);
// Each file request waits this long on the server, so that a run spends
// measurable time between files.
constexpr auto kServeDelay = std::chrono::milliseconds(3);
constexpr std::size_t kMissing = std::numeric_limits<std::size_t>::max();
constexpr std::string_view kTempPrefix = ".quenmor-tmp-";

// A file that the manifest lists.
struct Listed {
    std::string disk;     // its path in the installation, as on disk
    std::string listedAs; // its path as the manifest spells it
    std::string entry;    // its manifest line
    bool critical = false;
    std::optional<std::string> before; // its content before the update, if it existed
    std::string after;                 // the content the update brings
};

// Files of the installation that the manifest does not list: never touched.
const std::vector<std::pair<std::string, std::size_t>> kUserFiles = {
    {"user/notes.txt", 700},
    {"data/unlisted.bz2", 5000},
    {"screenshots/shot0001.bmp", 120000},
    {"data/maps/north/map01.dat.bak", 9000},
};

// A file name as the file system compares it: on Windows without regard to
// letter case, so a copy fetched under the manifest's spelling of a name is
// the file of the disk's spelling.
std::string NameKey(const std::string& name) {
    return platform::kPathSeparator == '\\' ? platform::FoldCase(name) : name;
}

std::string Relative(const fs::path& path, const fs::path& base) {
    const std::u8string relative = path.lexically_relative(base).generic_u8string();
    return std::string(relative.begin(), relative.end());
}

double Ms(Clock::duration duration) {
    return Millis(duration).count();
}

// How a kill test's runs are made: with backups or not, with how many
// transfers at once (0: the runner's default), and whether the tree has a
// chunk store, so that changed files are made of chunks.
struct KillCase {
    int backup;
    int connections;
    bool chunks = false;

    std::string Name() const {
        return std::string(backup == 1 ? "WithBackup" : "WithoutBackup") +
               (connections > 0 ? std::to_string(connections) + "Transfers"
                                : std::string("DefaultTransfers")) +
               (chunks ? "FromChunks" : "");
    }
    // The test output names the case, not its bytes.
    friend void PrintTo(const KillCase& c, std::ostream* os) { *os << c.Name(); }
};

class KillTest : public ::testing::TestWithParam<KillCase> {
protected:
    KillTest()
        : folder_(TestHttpServer::Folder(platform::PathText(dir_.path() / "server"))),
          server_([this](const HttpRequest& request) { return Serve(request); }) {}

    ~KillTest() override { KillChild(); }

    int CreateBackup() const { return GetParam().backup; }
    fs::path Install() const { return dir_.path() / "install"; }

    HttpReply Serve(const HttpRequest& request) {
        {
            std::lock_guard lock(mutex_);
            requestTimes_.push_back(Clock::now());
            if (request.target.size() > 4 &&
                request.target.compare(request.target.size() - 4, 4, ".zst") == 0)
                ++chunkRequests_;
        }
        if (request.target.find("files.lst") == std::string::npos)
            std::this_thread::sleep_for(kServeDelay);
        return folder_(request);
    }

    // Adds a listed file. `listedAs` names it in the manifest when that
    // differs from its name on disk (in letter case only).
    void Add(const std::string& disk, std::size_t oldSize, std::size_t newSize, bool critical,
             const std::string& listedAs = {}) {
        Listed file;
        file.disk = disk;
        file.critical = critical;
        const std::uint32_t seed = 1000 + static_cast<std::uint32_t>(files_.size());
        file.after = SampleData(newSize, seed);
        if (oldSize == newSize && oldSize != kMissing)
            file.before = file.after;                      // already current
        else if (oldSize != kMissing && GetParam().chunks) // an earlier version of it
            file.before = file.after.substr(0, newSize / 2) +
                          SampleData(oldSize - std::min(oldSize, newSize / 2), seed + 5000);
        else if (oldSize != kMissing)
            file.before = SampleData(oldSize, seed + 5000);
        file.listedAs = listedAs.empty() ? disk : listedAs;
        const std::string& name = file.listedAs;
        const std::string compressed = Bzip2(file.after);
        WriteFile(dir_ / ("server/" + name + ".bz2"), compressed);
        const std::optional<std::string> manifestPath = platform::LocalPathToManifest(name);
        ASSERT_TRUE(manifestPath) << name;
        file.entry =
            *manifestPath + "|" + Md5Hex(file.after) + "|" + std::to_string(compressed.size());
        if (GetParam().chunks)
            file.entry = std::to_string(file.after.size()) + "|" + StoreChunks(file.after) + "|" +
                         file.entry;
        files_.push_back(std::move(file));
    }

    // Puts a content's chunks and index in the server's store; its SHA-256.
    std::string StoreChunks(const std::string& content) {
        const auto sha256 = [](const char* data, std::size_t size) {
            TSHA256 digest;
            digest.Update(data, size);
            return digest.FinalText();
        };
        TChunkIndex index{
            sha256(content.data(), content.size()), static_cast<std::int64_t>(content.size()), {}};
        ForEachChunk(TChunker(TChunkSizes{}),
                     reinterpret_cast<const unsigned char*>(content.data()), content.size(),
                     [&](std::size_t offset, std::size_t length) {
                         const std::string frame =
                             ZstdCompress(std::string_view(content).substr(offset, length), 3);
                         const std::string chunk = sha256(content.data() + offset, length);
                         WriteFile(dir_ / ("server/" + ChunkPath(chunk)), frame);
                         index.chunks.push_back({chunk, static_cast<std::int64_t>(length),
                                                 static_cast<std::int64_t>(frame.size())});
                     });
        WriteFile(dir_ / ("server/" + IndexPath(index.sha256)), ChunkIndexText(index));
        return index.sha256;
    }

    // The update tree on the server, the installation in its old state, and
    // files beside the installation that no run may touch.
    void SetUpTree() {
        // Critical files; "keys.cfg" is current already.
        Add("system/quenmor.bin", 550000, 600000, true);
        Add("system/engine.so", 1400000, 1500000, true);
        Add("system/config/client.cfg", 3000, 3200, true);
        Add("system/config/keys.cfg", 2000, 2000, true);
        // Normal files, some missing before the update, one with another
        // letter case on disk than in the manifest, one that becomes empty.
        for (std::size_t i = 1; i <= 16; ++i)
            Add("data/maps/north/map" + std::to_string(100 + i).substr(1) + ".dat",
                20000 + i * 3000, 21000 + i * 3100, false);
        for (std::size_t i = 1; i <= 10; ++i)
            Add("data/maps/south/map" + std::to_string(100 + i).substr(1) + ".dat", 40000 + i * 500,
                42000 + i * 700, false);
        for (std::size_t i = 1; i <= 3; ++i)
            Add("data/maps/east/map" + std::to_string(100 + i).substr(1) + ".dat", kMissing,
                30000 + i * 1000, false);
        Add("data/textures/pack1.pak", 2500000, 2600000, false);
        Add("data/textures/pack2.pak", 1200000, 1200000 + 4096, false);
        Add("data/textures/pack3.pak", 800000, 790000, false);
        Add("data/textures/pack4.pak", kMissing, 1000000, false);
        for (std::size_t i = 1; i <= 6; ++i)
            Add("data/sound/ambient" + std::to_string(100 + i).substr(1) + ".ogg",
                150000 + i * 20000, i == 3 ? 150000 + i * 20000 : 160000 + i * 21000, false);
        Add("data/sound/new.ogg", kMissing, 200000, false);
        Add("data/models/hero.mdl", 380000, 400000, false);
        Add("data/models/npc/guard.mdl", 240000, 250000, false);
        Add("data/models/npc/merchant.mdl", 90000, 90000, false);
        Add("data/empty.flag", 10, 0, false);
        Add("Мир данных/карта 1.dat", 28000, 30000, false);
        Add("Interface/Fonts/Main.FNT", 48000, 50000, false, "interface/fonts/main.fnt");
        Add("readme.txt", 5000, 5200, false);

        std::string manifest =
            "[settings]\r\nRev|" + std::to_string(kNewRevision) + "\r\nModHosts|0\r\n" +
            (GetParam().chunks ? "Chunks|16384,65536,262144\r\n" : "") + "[/settings]\r\n";
        for (const bool critical : {true, false}) {
            const std::string section = critical ? "files_critical" : "files_normal";
            manifest += "[" + section + "]\r\n";
            for (const Listed& file : files_)
                if (file.critical == critical)
                    manifest += file.entry + "\r\n";
            manifest += "[/" + section + "]\r\n";
        }
        WriteFile(dir_ / "server/files.lst.bz2", Bzip2(manifest));

        for (std::size_t i = 0; i < kUserFiles.size(); ++i)
            userContent_.push_back(
                SampleData(kUserFiles[i].second, 9000 + static_cast<std::uint32_t>(i)));
        settingsBefore_ = Settings(kOldRevision);
        settingsAfter_ = Settings(kNewRevision);
        fs::create_directories(Install());
        WriteOldInstallation(Install());

        // Beside the installation: the hosts folder the runs are given, and
        // files with the names the runs work with.
        WriteFile(dir_ / "hosts/hosts", "127.0.0.1\tlocalhost\n");
        WriteFile(dir_ / "beside/Quenmor.ini", settingsBefore_);
        WriteFile(dir_ / "beside/files.lst", "not a manifest");
        WriteFile(dir_ / "beside/system/quenmor.bin", "another copy");
    }

    std::string Settings(int revision) const {
        return "[main]\r\nUpdatesUrl=" + server_.Url("/") +
               "\r\nCreateBackup=" + std::to_string(CreateBackup()) +
               "\r\nAtRevision=" + std::to_string(revision) + "\r\n";
    }

    void WriteOldInstallation(const fs::path& folder) const {
        WriteFile(platform::PathText(folder / platform::FsPath("Quenmor.ini")), settingsBefore_);
        for (const Listed& file : files_)
            if (file.before)
                WriteFile(platform::PathText(folder / platform::FsPath(file.disk)), *file.before);
        for (std::size_t i = 0; i < kUserFiles.size(); ++i)
            WriteFile(platform::PathText(folder / platform::FsPath(kUserFiles[i].first)),
                      userContent_[i]);
    }

    // Everything outside the installation: each folder, and each file with
    // its digest, or, for a quick look, its size and time of change.
    std::map<std::string, std::string> Outside(bool digests) const {
        std::map<std::string, std::string> seen;
        std::error_code error;
        fs::recursive_directory_iterator it(dir_.path(), error), end;
        for (; !error && it != end; it.increment(error)) {
            const std::string name = Relative(it->path(), dir_.path());
            if (name == "install") {
                it.disable_recursion_pending();
                continue;
            }
            if (it->is_symlink(error))
                seen[name] = "link";
            else if (it->is_directory(error))
                seen[name] = "folder";
            else if (digests)
                seen[name] = Md5Hex(ReadFile(platform::PathText(it->path())));
            else
                seen[name] = std::to_string(it->file_size(error)) + " bytes, changed at " +
                             std::to_string(it->last_write_time(error).time_since_epoch().count());
        }
        return seen;
    }

    // Starts the runner in `folder`, its output on the null device.
    void StartChild(const fs::path& folder) {
        ASSERT_EQ(child_, nullptr) << "a run is still going";
        std::vector<std::string> arguments = {"--hosts-dir",
                                              platform::PathText(dir_.path() / "hosts")};
        if (GetParam().connections > 0) {
            arguments.push_back("--connections");
            arguments.push_back(std::to_string(GetParam().connections));
        }
        child_ = std::make_unique<ChildProcess>(BuildPath(QUENMOR_UPDATE_PATH), arguments,
                                                platform::PathText(folder));
        ASSERT_TRUE(child_->Started()) << "the runner could not be started";
    }

    // Waits until the run ends or the moment comes: how it ended, or nothing
    // when it still runs.
    std::optional<ChildProcess::Ending> WaitChild(Clock::time_point until) {
        const std::optional<ChildProcess::Ending> ending = child_->Wait(until);
        if (ending)
            child_.reset();
        return ending;
    }

    void KillChild() { child_.reset(); }

    // Runs the runner in `folder` to its end: whether it exited with 0.
    ::testing::AssertionResult RunToEnd(const fs::path& folder) {
        StartChild(folder);
        if (!child_ || !child_->Started())
            return ::testing::AssertionFailure() << "the run did not start";
        const std::optional<ChildProcess::Ending> status = WaitChild(Clock::now() + kLongestRun);
        if (!status) {
            KillChild();
            return ::testing::AssertionFailure()
                   << "the run did not end within " << kLongestRun.count() << " s";
        }
        if (status->killed || status->code != 0)
            return ::testing::AssertionFailure()
                   << "the run ended " << (status->killed ? "killed" : "with exit code ")
                   << status->code;
        return ::testing::AssertionSuccess();
    }

    // What a look at the installation found.
    struct State {
        std::size_t current = 0;   // listed files with their new content
        std::size_t temps = 0;     // temporary files of an unpack
        std::size_t downloads = 0; // downloaded copies of listed files
        bool manifest = false;     // "files.lst" or "files.lst.bz2"
        bool revision = false;     // the new revision is recorded
        std::vector<std::string> faults;
    };

    // Looks at the installation. After a killed run, leftovers of the run may
    // be there and a backup copy may be cut short; after a complete run,
    // neither.
    State Inspect(bool complete) const {
        State state;
        const fs::path root = Install();
        std::set<std::string> listed;
        // Files by their name on disk and as the manifest spells it.
        std::map<std::string, const Listed*> byName;
        for (const Listed& file : files_) {
            listed.insert(NameKey(file.disk));
            byName[NameKey(file.disk)] = byName[NameKey(file.listedAs)] = &file;
            const std::string path = platform::PathText(root / platform::FsPath(file.disk));
            if (!Exists(path)) {
                if (file.before)
                    state.faults.push_back(file.disk + " is missing; it existed before");
                continue;
            }
            const std::string content = ReadFile(path);
            if (content == file.after)
                ++state.current;
            else if (!file.before || content != *file.before)
                state.faults.push_back(file.disk + " holds neither its old nor its new content (" +
                                       std::to_string(content.size()) + " bytes; old " +
                                       (file.before ? std::to_string(file.before->size()) : "-") +
                                       ", new " + std::to_string(file.after.size()) + ")");
        }

        const std::string settings = ReadFile(platform::PathText(root / "Quenmor.ini"));
        state.revision = settings == settingsAfter_;
        if (settings != settingsBefore_ && settings != settingsAfter_)
            state.faults.push_back("Quenmor.ini changed otherwise than in its revision: \"" +
                                   settings + "\"");
        if (state.revision && state.current != files_.size())
            state.faults.push_back("the new revision is recorded while only " +
                                   std::to_string(state.current) + " of " +
                                   std::to_string(files_.size()) + " files are current");

        for (std::size_t i = 0; i < kUserFiles.size(); ++i) {
            const std::string path =
                platform::PathText(root / platform::FsPath(kUserFiles[i].first));
            if (!Exists(path) || ReadFile(path) != userContent_[i])
                state.faults.push_back("the unlisted file " + kUserFiles[i].first + " changed");
        }

        std::error_code error;
        fs::recursive_directory_iterator it(root, error), end;
        for (; !error && it != end; it.increment(error)) {
            const std::string name = Relative(it->path(), root);
            const std::string fileName = platform::PathText(it->path().filename());
            if (it->is_symlink(error)) {
                state.faults.push_back("unexpected link " + name);
                continue;
            }
            if (it->is_directory(error))
                continue;
            const bool user = std::any_of(kUserFiles.begin(), kUserFiles.end(),
                                          [&](const auto& f) { return f.first == name; });
            if (user || listed.count(NameKey(name)) || name == "Quenmor.ini" ||
                name == platform::kInstallLockName)
                continue;
            if (name == "files.lst" || name == "files.lst.bz2") {
                state.manifest = true;
            } else if (fileName.rfind(kTempPrefix, 0) == 0) {
                ++state.temps;
            } else if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bz2") == 0 &&
                       listed.count(NameKey(name.substr(0, name.size() - 4)))) {
                ++state.downloads;
            } else if (CreateBackup() == 1 && name.rfind("backup/", 0) == 0) {
                // A copy of a replaced file: its old content, cut short only
                // when the run was killed while copying.
                const auto kept = byName.find(NameKey(name.substr(7)));
                const std::string content = ReadFile(platform::PathText(it->path()));
                const bool good =
                    kept != byName.end() && kept->second->before &&
                    (complete ? content == *kept->second->before
                              : kept->second->before->compare(0, content.size(), content) == 0);
                if (!good)
                    state.faults.push_back("the backup " + name + " is not the old content (" +
                                           std::to_string(content.size()) + " bytes)");
            } else {
                state.faults.push_back("unexpected file " + name);
            }
        }
        if (error)
            state.faults.push_back("cannot list the installation: " + error.message());
        if (complete) {
            if (state.current != files_.size())
                state.faults.push_back("only " + std::to_string(state.current) + " of " +
                                       std::to_string(files_.size()) + " files are current");
            if (!state.revision)
                state.faults.push_back("the new revision is not recorded");
            if (state.manifest)
                state.faults.push_back("the manifest was left behind");
            if (state.temps)
                state.faults.push_back(std::to_string(state.temps) + " temporary files left");
            if (state.downloads)
                state.faults.push_back(std::to_string(state.downloads) + " downloads left");
        }
        return state;
    }

    TempDir dir_;
    TestHttpServer::Handler folder_;
    std::mutex mutex_;
    std::vector<Clock::time_point> requestTimes_;
    std::size_t chunkRequests_ = 0; // of the chunk store's chunks
    TestHttpServer server_;
    std::vector<Listed> files_;
    std::vector<std::string> userContent_;
    std::string settingsBefore_, settingsAfter_;
    std::unique_ptr<ChildProcess> child_;
};

TEST_P(KillTest, EveryFileIsOldOrNewWheneverARunIsKilled) {
    ASSERT_NO_FATAL_FAILURE(SetUpTree());

    // One run left alone, on a copy, times the phases: the list and the
    // checks until the first file is requested, then the installs.
    Clock::duration untilFirstFile{}, wholeRun{};
    {
        TempDir copy;
        WriteOldInstallation(copy.path());
        {
            std::lock_guard lock(mutex_);
            requestTimes_.clear();
        }
        const auto started = Clock::now();
        ASSERT_TRUE(RunToEnd(copy.path()));
        wholeRun = Clock::now() - started;
        std::lock_guard lock(mutex_);
        ASSERT_GE(requestTimes_.size(), 2u) << "the run fetched no file";
        untilFirstFile = requestTimes_[1] - started;
        for (const Listed& file : files_)
            ASSERT_EQ(ReadFile(platform::PathText(copy.path() / platform::FsPath(file.disk))),
                      file.after)
                << file.disk;
        // The changed files were made of chunks: the kills below cut delta runs.
        if (GetParam().chunks) {
            ASSERT_GT(chunkRequests_, 0u);
        }
    }
    const double startup = Ms(untilFirstFile);
    const double installs = std::max(1.0, Ms(wholeRun - untilFirstFile));
    std::cout << "a whole run: " << Ms(wholeRun) << " ms, the first file requested after "
              << startup << " ms\n";

    const std::map<std::string, std::string> outside = Outside(true);
    const std::map<std::string, std::string> outsideAtAGlance = Outside(false);
    std::mt19937 random(20240917u + static_cast<unsigned>(CreateBackup()) +
                        17u * static_cast<unsigned>(GetParam().connections));
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    // How far into the installs a run is killed: widened after a round that
    // installed nothing, so that even the largest file gets through, and
    // narrowed again after one that did.
    double window = installs / 30;
    std::size_t current = Inspect(false).current;
    int rounds = 0, endedByThemselves = 0, leftTemps = 0, leftDownloads = 0, midInstall = 0;
    const auto roundsStarted = Clock::now();
    // Once the revision is recorded, a few more rounds kill runs that find
    // everything current.
    int roundsAfterRecording = 4;
    for (int round = 0; round < kRounds && roundsAfterRecording > 0 &&
                        Clock::now() - roundsStarted < kRoundsBudget;
         ++round) {
        const bool installed = current == files_.size();
        double delay = 0;
        if (round < kStartupRounds)
            delay = startup * (round + unit(random)) / kStartupRounds;
        else if (installed) // kills around the end of the run
            delay = (startup + window) * unit(random);
        else if (round >= kRounds - kLateRounds) // long enough to finish, or nearly
            delay = startup + installs * (0.3 + 0.9 * unit(random));
        else
            delay = startup + window * (0.5 + unit(random));

        const auto started = Clock::now();
        ASSERT_NO_FATAL_FAILURE(StartChild(Install()));
        const std::optional<ChildProcess::Ending> status =
            WaitChild(started + std::chrono::duration_cast<Clock::duration>(Millis(delay)));
        ++rounds;
        std::ostringstream what;
        what << "round " << round << ", killed after " << static_cast<int>(delay) << " ms";
        if (status) {
            ++endedByThemselves;
            EXPECT_TRUE(!status->killed && status->code == 0)
                << what.str() << ": the run ended by itself with exit code " << status->code;
        } else {
            KillChild();
        }

        const State state = Inspect(false);
        for (const std::string& fault : state.faults)
            ADD_FAILURE() << what.str() << ": " << fault;
        const std::map<std::string, std::string> nowOutside = Outside(false);
        EXPECT_EQ(nowOutside, outsideAtAGlance)
            << what.str() << ": something outside the installation changed";
        if (!state.faults.empty() || nowOutside != outsideAtAGlance)
            break;

        if (state.temps)
            ++leftTemps;
        if (state.downloads)
            ++leftDownloads;
        if (state.current > current && state.current < files_.size())
            ++midInstall;
        std::cout << what.str() << (status ? " (ended by itself)" : "") << ": " << state.current
                  << "/" << files_.size() << " current, " << state.temps << " temporary, "
                  << state.downloads << " downloaded" << (state.manifest ? ", manifest" : "")
                  << (state.revision ? ", revision recorded" : "") << "\n";
        if (round >= kStartupRounds && !installed)
            window = state.current > current ? std::max(installs / 60, window * 0.6)
                                             : std::min(installs * 1.5, window * 1.3);
        current = state.current;
        if (state.revision)
            --roundsAfterRecording;
    }
    std::cout << rounds << " rounds in " << Ms(Clock::now() - roundsStarted)
              << " ms: " << midInstall << " stopped between installs, " << leftTemps
              << " left an unpack behind, " << leftDownloads << " left a download behind, "
              << endedByThemselves << " ended by themselves\n";
    ASSERT_FALSE(HasFailure());

    // A run left alone finishes the update and removes the leftovers.
    ASSERT_TRUE(RunToEnd(Install()));
    const State state = Inspect(true);
    for (const std::string& fault : state.faults)
        ADD_FAILURE() << "after the last run: " << fault;
    EXPECT_EQ(Outside(true), outside) << "something outside the installation changed";
    EXPECT_EQ(ReadFile(platform::PathText(Install() / "Quenmor.ini")), settingsAfter_);
}

// With the default number of transfers, with one (work ahead only on the
// unpacking side) and with the most, so that kills find many entries fetched
// and unpacked ahead.
INSTANTIATE_TEST_SUITE_P(Runs, KillTest,
                         ::testing::Values(KillCase{0, 0}, KillCase{1, 0}, KillCase{0, 1},
                                           KillCase{1, 16}, KillCase{0, 0, true},
                                           KillCase{1, 4, true}),
                         [](const ::testing::TestParamInfo<KillCase>& param) {
                             return param.param.Name();
                         });

} // namespace
