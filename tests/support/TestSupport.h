// Helpers shared by the tests: temporary folders, files, bzip2 data, and a
// target that records the run's notifications. Paths are UTF-8 text, as the
// program holds them.
#pragma once

#include "FileTransfer.h"
#include "Files.h"
#include "GetFilesThr.h"
#include "Notifier.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with everything
// in it at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string operator/(const std::string& name) const;

private:
    std::filesystem::path path_;
};

// Whether the tests run with the superuser's rights (never on Windows).
bool RunningAsRoot();

// A small tmpfs mounted on `folder` (made when missing) for the life of the
// object, to fill up or to make read-only. Only the superuser can mount:
// elsewhere Mounted() is false, and the test skips with a message.
class SmallDisk {
public:
    SmallDisk(const std::filesystem::path& folder, const std::string& size);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool Mounted() const { return mounted_; }
    // Fills the disk but for about `leave` bytes with a file of its own.
    void Fill(std::uintmax_t leave = 0);
    // Lets nothing be written any more.
    bool MakeReadOnly();

private:
    std::filesystem::path folder_;
    bool mounted_ = false;
};

// Makes a folder the current folder for the life of the object.
class ScopedCurrentDir {
public:
    explicit ScopedCurrentDir(const std::filesystem::path& folder);
    ~ScopedCurrentDir();

private:
    std::filesystem::path previous_;
};

void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);

// A relative path as UTF-8 text with "/" separators, as the tests name files
// on every system.
std::string GenericText(const std::filesystem::path& path);

// `data` compressed as `bzip2 -9` does it.
std::string Bzip2(const std::string& data);
// `bytes` zero bytes compressed as `bzip2 -9` does it, without holding them
// in memory: a copy that unpacks to a million times its size.
std::string Bzip2Zeros(std::uint64_t bytes);
// A whole bzip2 file decompressed as the launcher does it.
std::string Unbzip2File(const std::string& path);

// Every file below `root`, by relative path ("/" separators), with its content.
std::map<std::string, std::string> Snapshot(const std::filesystem::path& root);

// Deterministic data that compresses like game files do: text and records
// mixed with noise.
std::string SampleData(std::size_t size, std::uint32_t seed);

std::string Md5Hex(const std::string& data);

// Records every notification as a line such as "ShowStatus:Проверка файлов" or
// "SetFileProgress:1024".
class RecordingTarget : public TUpdateTarget {
public:
    void LockCommands() override { Add("LockCommands"); }
    void ShowStatus(const std::string& text) override { Add("ShowStatus:" + text); }
    void SetFileGaugeMax(std::int32_t v) override { Add("SetFileGaugeMax:" + std::to_string(v)); }
    void SetTotalGaugeMax(std::int32_t v) override { Add("SetTotalGaugeMax:" + std::to_string(v)); }
    void SetFileProgress(std::int32_t v) override { Add("SetFileProgress:" + std::to_string(v)); }
    void SetTotalProgress(std::int32_t v) override { Add("SetTotalProgress:" + std::to_string(v)); }
    void StoreRevision(const std::string& r) override { Add("StoreRevision:" + r); }
    void StoreTrustedRevision(const std::string& r) override { Add("StoreTrustedRevision:" + r); }
    void UnlockCommands() override { Add("UnlockCommands"); }
    // Causes are kept apart from the events, whose order the tests compare.
    void ShowCause(const std::string& cause) override;
    // Notes too (what was left out without a failure).
    void ShowNote(const std::string& note) override;
    std::vector<std::string> Notes() const;

    std::vector<std::string> Events() const;
    std::vector<std::string> Causes() const;
    // Whether some cause holds `part`.
    bool HasCause(const std::string& part) const;
    void Clear();
    // Makes the notification that would be recorded as `event` raise
    // instead, as a host that refuses it does.
    void Refuse(std::string event);
    // The events without file-gauge progress, whose values depend on sizes.
    std::vector<std::string> EventsWithoutFileProgress() const;
    // The values of one kind of event, e.g. Values("SetFileProgress").
    std::vector<std::int64_t> Values(const std::string& kind) const;

private:
    void Add(std::string event);
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
    std::vector<std::string> causes_;
    std::vector<std::string> notes_;
    std::string refused_;
};

// Runs `run` on its own thread as a host does, with `folder` as the current
// folder (the installation), and waits for it to end: a test failure when it
// takes longer than `limit`, and then a wait to its end all the same.
void RunToEnd(GFilesThread& run, const std::filesystem::path& folder,
              std::chrono::seconds limit = std::chrono::seconds(60));

// A run's own transfers (the manifest's, the launcher build's) on their own,
// reporting to a target as a run's do and with a run's settings, which a test
// may change before the first transfer.
class RunTransfer {
public:
    explicit RunTransfer(TUpdateTarget& target, TDispatcher dispatcher = {},
                         TNotifier::Settings settings = {});

    platform::HttpOptions http;
    TRetryPolicy retry;

    // Whether the download was opened (see TFileTransfer::Download).
    bool Download(const std::string& url, const std::string& target, bool progress,
                  const limits::TSizeLimit& limit = {});
    void Unpack(const std::string& compressed, const std::string& target,
                const std::string& digest = {});
    TNotifier& notifier() { return notifier_; }
    TFileTransfer& transfer();

private:
    TNotifier notifier_;
    std::unique_ptr<TFileTransfer> transfer_;
};

} // namespace testing_support
