// Delta runs against a chunked tree served by a test server: a changed file
// is made of the chunks the installation holds, whatever state it is found
// in, and only the missing chunks are fetched; a store that lies (wrong,
// cut or oversized chunks, indexes that do not add up or belong to another
// file) never gets a wrong byte installed, and the file comes from its copy.
// Launchers that know nothing of chunks read the chunked tree as before.
#include "Delta.h"
#include "ChunkIndex.h"
#include "GetFilesThr.h"
#include "LstFile.h"
#include "Publisher.h"
#include "Signature.h"
#include "Signing.h"
#include "TestHttpServer.h"
#include "TestSupport.h"
#include "WorkAhead.h"
#include "Zstd.h"
#include "md5.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// The chunks a content is cut into, by digest.
std::vector<std::string> ChunkDigests(const std::string& content) {
    std::vector<std::string> digests;
    ForEachChunk(TChunker(TChunkSizes{}), reinterpret_cast<const unsigned char*>(content.data()),
                 content.size(), [&](std::size_t offset, std::size_t length) {
                     TSHA256 digest;
                     digest.Update(content.data() + offset, length);
                     digests.push_back(digest.FinalText());
                 });
    return digests;
}

std::string Sha256(const std::string& content) {
    TSHA256 digest;
    digest.Update(content.data(), content.size());
    return digest.FinalText();
}

// `content` with `count` runs of random bytes inserted, removed or
// overwritten at random places.
std::string Edited(std::string content, int count, std::uint32_t seed) {
    std::mt19937 random(seed);
    for (int k = 0; k < count; ++k) {
        const std::size_t at = random() % content.size();
        const std::size_t length = 1 + random() % 200;
        std::string run(length, '\0');
        for (char& c : run)
            c = static_cast<char>(random());
        switch (k % 3) {
        case 0:
            content.insert(at, run);
            break;
        case 1:
            content.erase(at, length);
            break;
        default:
            content.replace(at, std::min(length, content.size() - at), run);
        }
    }
    return content;
}

// A new content made of chunks alone, fetched out of order from several
// threads at once: the pack holds each where the plan says.
TEST(DeltaParts, ChunksTakenInAnyOrderFromSeveralThreadsMakeTheContent) {
    TempDir dir;
    const std::string content = SampleData(1 << 20, 41);
    std::map<std::string, std::string> store; // address -> body
    TChunkIndex index{Sha256(content), static_cast<std::int64_t>(content.size()), {}};
    ForEachChunk(TChunker(TChunkSizes{}), reinterpret_cast<const unsigned char*>(content.data()),
                 content.size(), [&](std::size_t offset, std::size_t length) {
                     const std::string chunk = content.substr(offset, length);
                     const std::string frame = ZstdCompress(chunk, 3);
                     index.chunks.push_back({Sha256(chunk), static_cast<std::int64_t>(length),
                                             static_cast<std::int64_t>(frame.size())});
                     store["u/" + ChunkPath(index.chunks.back().sha256)] = frame;
                 });
    store["u/" + IndexPath(index.sha256)] = ChunkIndexText(index);
    TDeltaEntry entry{"u/", TChunkSizes{}, index.sha256, Md5Hex(content), index.size, {}};
    std::size_t asked = 0;
    std::int64_t lastFetched = 0;
    const TDeltaPlan plan = FetchDelta(
        entry, dir / "pack", [&](const std::string& url, std::int64_t) { return store.at(url); },
        [&](const std::vector<std::pair<std::string, std::int64_t>>& addresses,
            const std::function<void(std::size_t, const std::string&)>& take) {
            asked = addresses.size();
            std::vector<std::thread> threads;
            for (std::size_t t = 0; t < 3; ++t)
                threads.emplace_back([&, t] {
                    for (std::size_t k = addresses.size(); k-- > 0;) // last first
                        if (k % 3 == t)
                            take(k, store.at(addresses[k].first));
                });
            for (std::thread& thread : threads)
                thread.join();
        },
        [&](std::int64_t bytes) {
            EXPECT_GT(bytes, lastFetched);
            lastFetched = bytes;
        },
        [] {});
    EXPECT_EQ(asked, index.chunks.size());
    EXPECT_EQ(plan.chunksFound, 0u);
    EXPECT_EQ(plan.fetched, lastFetched);
    std::string made;
    EXPECT_TRUE(AssembleDelta(
        entry, plan, dir / "pack",
        [&](const char* data, std::size_t size) { made.append(data, size); },
        [](std::size_t) { return true; }));
    EXPECT_EQ(made, content);
}

class DeltaTest : public ::testing::Test {
protected:
    DeltaTest()
        : folder_(TestHttpServer::Folder(Path("server"))),
          server_([this](const HttpRequest& request) { return Answer(request); }) {}

    std::string Path(const std::string& relative) const { return dir_ / relative; }

    HttpReply Answer(const HttpRequest& request) {
        {
            std::unique_lock lock(mutex_);
            // Chunks wait while they are held (on their connection's thread).
            if (request.target.ends_with(".zst")) {
                const std::string digest = fs::path(request.target).stem().string();
                released_.wait_for(lock, std::chrono::seconds(10),
                                   [&] { return !holdChunks_ || letThrough_.count(digest) > 0; });
            }
            const auto it = replies_.find(request.target);
            if (it != replies_.end())
                return it->second;
        }
        return folder_(request);
    }

    // Serves `body` at a path of the tree instead of what the tree holds.
    void Serve(const std::string& relative, std::string body) {
        std::lock_guard lock(mutex_);
        HttpReply reply;
        reply.body = std::move(body);
        replies_["/" + relative] = reply;
    }

    void PublishTree(const std::string& out, std::int32_t revision,
                     const std::map<std::string, std::string>& files, bool chunks = true,
                     const std::string& key = {}) {
        const fs::path client = dir_.path() / ("client-" + out);
        fs::remove_all(client);
        for (const auto& [path, content] : files)
            WriteFile(platform::PathText(client / path), content);
        publish::Options options;
        options.source = client;
        options.out = dir_.path() / out;
        options.revision = revision;
        options.jobs = 2;
        options.chunks = chunks;
        if (!key.empty())
            options.signingKey = dir_.path() / key;
        publish::Publish(options);
    }

    // One run at revision 1 in "install"; the paths it requested.
    std::vector<std::string> Run(std::vector<signing::PublicKey> keys = {}) {
        const std::size_t before = server_.Requests().size();
        RecordingTarget target;
        GFilesThread thread(target);
        thread.TrustedKeys = std::move(keys);
        thread.UpdateUrl = server_.Url("/");
        thread.AtRevision = 1;
        thread.ConnectTimeoutS = 5;
        thread.StallTimeoutS = 5;
        thread.Retry.firstPause = std::chrono::milliseconds(10);
        RunToEnd(thread, dir_.path() / "install");
        notes_ = target.Notes();
        causes_ = target.Causes();
        events_ = target.Events();
        std::vector<std::string> requested;
        const std::vector<HttpRequest> requests = server_.Requests();
        for (std::size_t k = before; k < requests.size(); ++k)
            requested.push_back(requests[k].target.substr(1));
        return requested;
    }

    bool Noted(const std::string& part) const {
        return std::any_of(notes_.begin(), notes_.end(),
                           [&](const std::string& note) { return note.find(part) != note.npos; });
    }

    TempDir dir_;
    TestHttpServer::Handler folder_;
    std::mutex mutex_;
    std::map<std::string, HttpReply> replies_;
    bool holdChunks_ = false;
    std::set<std::string> letThrough_; // chunks not held
    std::condition_variable released_;
    TestHttpServer server_;
    std::vector<std::string> notes_, causes_, events_;
};

TEST_F(DeltaTest, AChangedFileFetchesOnlyTheChunksTheInstallationLacks) {
    const std::string older = SampleData(3 << 20, 1);
    const std::map<std::string, std::string> next = {
        {"data/older.pak", Edited(older, 6, 2)},   // an older version is installed
        {"data/foreign.pak", Edited(older, 9, 3)}, // what is installed was never published
        {"data/cut.pak", Edited(older, 3, 4)},     // a run was cut while writing it
        {"data/absent.pak", SampleData(1 << 20, 5)},
    };
    PublishTree("server", 2, next);
    const std::map<std::string, std::string> installed = {
        {"data/older.pak", older},
        {"data/foreign.pak", Edited(older, 5, 6)},
        {"data/cut.pak", older.substr(0, 1234567)},
    };
    // Each file's missing chunks once: chunks are looked for in the file's
    // own earlier versions only.
    std::multiset<std::string> missing;
    for (const auto& [path, content] : installed) {
        WriteFile(Path("install/" + path), content);
        const std::vector<std::string> have = ChunkDigests(content),
                                       need = ChunkDigests(next.at(path));
        const std::set<std::string> lacking(need.begin(), need.end());
        std::size_t lack = 0;
        for (const std::string& chunk : lacking) {
            if (std::find(have.begin(), have.end(), chunk) == have.end()) {
                missing.insert(ChunkPath(chunk));
                ++lack;
            }
        }
        EXPECT_LT(lack, lacking.size()) << path; // some chunks are there
    }

    const std::vector<std::string> requested = Run();
    EXPECT_TRUE(causes_.empty()) << causes_.front();
    EXPECT_EQ(Snapshot(Path("install")), next);
    std::multiset<std::string> chunks;
    std::set<std::string> copies;
    for (const std::string& path : requested) {
        if (path.size() > 4 && path.compare(path.size() - 4, 4, ".zst") == 0)
            chunks.insert(path);
        if (path.size() > 4 && path.compare(path.size() - 4, 4, ".bz2") == 0)
            copies.insert(path);
    }
    EXPECT_EQ(chunks, missing);
    EXPECT_EQ(copies, (std::set<std::string>{"files.lst.bz2", "data/absent.pak.bz2"}));
    // One note for them all: 3 files, and the bytes their chunks took.
    EXPECT_TRUE(Noted("3 files made of chunks: ")) << notes_.size();
}

// Each lie of the store on its own, against the same installation.
TEST_F(DeltaTest, AStoreThatLiesNeverGetsAWrongByteInstalled) {
    const std::string older = SampleData(1 << 20, 11), newer = Edited(older, 4, 12);
    const std::string other = SampleData(1 << 20, 13);
    PublishTree("server", 2, {{"data/a.pak", newer}, {"data/b.pak", other}});
    const std::string sha = Sha256(newer);
    const std::string index = ReadFile(Path("server/" + IndexPath(sha)));
    std::string problem;
    const TChunkIndex listed = *ParseChunkIndex(index, TChunkSizes{}, sha,
                                                static_cast<std::int64_t>(newer.size()), problem);
    const std::vector<std::string> have = ChunkDigests(older);
    const TChunkRef* fetched = nullptr; // a chunk the run must fetch
    for (const TChunkRef& chunk : listed.chunks)
        if (!fetched && std::find(have.begin(), have.end(), chunk.sha256) == have.end())
            fetched = &chunk;
    ASSERT_NE(fetched, nullptr);
    const std::string frame = ReadFile(Path("server/" + ChunkPath(fetched->sha256)));
    const auto lineOf = [&](const TChunkRef& chunk) {
        return chunk.sha256 + " " + std::to_string(chunk.size) + " " +
               std::to_string(chunk.packed) + "\n";
    };
    const auto replaced = [](std::string text, const std::string& what, const std::string& with) {
        text.replace(text.find(what), what.size(), with);
        return text;
    };
    const TChunkRef& first = listed.chunks[0];
    const TChunkRef& second = listed.chunks[1];
    TChunkRef resized = first;
    resized.size -= 1;
    const std::map<std::string, std::pair<std::string, std::string>> lies = {
        {"wrong content",
         {ChunkPath(fetched->sha256),
          ZstdCompress(SampleData(static_cast<std::size_t>(fetched->size), 99), 3)}},
        {"truncated chunk", {ChunkPath(fetched->sha256), frame.substr(0, frame.size() / 2)}},
        {"a chunk listed twice", {IndexPath(sha), replaced(index, lineOf(second), lineOf(first))}},
        {"wrong sum", {IndexPath(sha), replaced(index, lineOf(first), lineOf(resized))}},
        // Only the assembled content shows this one.
        {"chunks out of order",
         {IndexPath(sha),
          replaced(index, lineOf(first) + lineOf(second), lineOf(second) + lineOf(first))}},
        {"another file's index",
         {IndexPath(sha), ReadFile(Path("server/" + IndexPath(Sha256(other))))}},
        {"a bomb",
         {ChunkPath(fetched->sha256), ZstdCompress(std::string(std::size_t{32} << 20, '\0'), 3)}},
        {"no index", {IndexPath(sha), "<html>404</html>"}},
    };
    for (const auto& [lie, served] : lies) {
        SCOPED_TRACE(lie);
        {
            std::lock_guard lock(mutex_);
            replies_.clear();
        }
        if (lie == "no index") {
            HttpReply missing;
            missing.status = 404;
            missing.body = served.second;
            std::lock_guard lock(mutex_);
            replies_["/" + served.first] = missing;
        } else {
            Serve(served.first, served.second);
        }
        fs::remove_all(Path("install"));
        WriteFile(Path("install/data/a.pak"), older);
        WriteFile(Path("install/data/b.pak"), other);
        const std::vector<std::string> requested = Run();
        EXPECT_EQ(Snapshot(Path("install")), (std::map<std::string, std::string>{
                                                 {"data/a.pak", newer}, {"data/b.pak", other}}));
        EXPECT_TRUE(std::count(requested.begin(), requested.end(), "data/a.pak.bz2") == 1);
        EXPECT_TRUE(Noted("data\\a.pak: ")) << (notes_.empty() ? "" : notes_.front());
        EXPECT_TRUE(Noted("its copy is fetched whole"));
    }
}

// The store lies outside the signature; the digests it is checked by do not.
TEST_F(DeltaTest, ASignedTreeIsMadeOfChunksWhileItsStoreCannotChangeWhatIsInstalled) {
    publish::GenerateKey(dir_.path() / "key.pem");
    const signing::PublicKey trusted = publish::SigningKey(dir_.path() / "key.pem").PublicKey();
    const std::string older = SampleData(1 << 20, 31), newer = Edited(older, 3, 32);
    PublishTree("server", 2, {{"data/a.pak", newer}}, true, "key.pem");
    WriteFile(Path("install/data/a.pak"), older);
    Run({trusted});
    EXPECT_TRUE(causes_.empty()) << causes_.front();
    EXPECT_EQ(ReadFile(Path("install/data/a.pak")), newer);
    EXPECT_TRUE(Noted("1 file made of chunks: "));

    // An attacker who holds the server: every chunk and the copy replaced.
    WriteFile(Path("install/data/a.pak"), older);
    for (const auto& entry : fs::recursive_directory_iterator(Path("server/chunks")))
        if (entry.path().extension() == ".zst")
            WriteFile(entry.path().string(), ZstdCompress(std::string(1000, 'x'), 3));
    const std::string evil = Edited(newer, 1, 33);
    WriteFile(Path("server/data/a.pak.bz2"), Bzip2(evil));
    Run({trusted});
    EXPECT_EQ(ReadFile(Path("install/data/a.pak")), older);
    EXPECT_FALSE(causes_.empty());
    EXPECT_TRUE(Noted("its copy is fetched whole"));
    EXPECT_TRUE(std::none_of(events_.begin(), events_.end(), [](const std::string& event) {
        return event.rfind("StoreRevision:", 0) == 0;
    }));
    EXPECT_EQ(Snapshot(Path("install")),
              (std::map<std::string, std::string>{{"data/a.pak", older}}));
}

// Deltas under a disk budget that holds two of their contents and one of
// their copies. Each is charged its pack, not its copy, once its chunks are
// known, so that the next one can fetch meanwhile; each assembly is charged
// its whole content when it begins, so that none is set aside half done; and
// one that waits for room begins as soon as an entry before it is put in
// place, not when the installer comes to it.
TEST_F(DeltaTest, DeltasUnderTheDiskBudgetAreAssembledAsSoonAsTheyFit) {
    constexpr std::size_t kFiles = 3;
    constexpr std::int64_t kSize = 1 << 20;
    std::map<std::string, std::string> older, next;
    for (std::size_t k = 0; k < kFiles; ++k) {
        const std::string path = "data/f" + std::to_string(k) + ".pak";
        older[path] = SampleData(kSize, 40 + static_cast<std::uint32_t>(k));
        next[path] = Edited(older[path], 1, 50 + static_cast<std::uint32_t>(k));
    }
    PublishTree("server", 2, next);
    std::vector<TAheadEntry> entries;
    for (const auto& [path, content] : next) {
        WriteFile(Path("install/" + path), older[path]);
        TAheadEntry entry;
        entry.url = server_.Url("/" + path + ".bz2");
        entry.target = Path("install/" + path);
        entry.digest = Md5Hex(content);
        entry.size = 2 * kSize; // what its copy would take
        entry.delta = TDeltaEntry{server_.Url("/"),
                                  TChunkSizes{},
                                  Sha256(content),
                                  entry.digest,
                                  static_cast<std::int64_t>(content.size()),
                                  {entry.target}};
        entry.name = path;
        entries.push_back(entry);
    }
    std::mutex mutex;
    std::map<std::size_t, std::vector<std::string>> moves;
    TWorkAhead::Settings settings;
    settings.connections = 8;
    settings.cores = 2;
    settings.budget = kSize * 26 / 10;
    settings.trace = [&](std::size_t entry, const char* from, const char* to) {
        std::lock_guard lock(mutex);
        moves[entry].push_back(std::string(from) + ">" + to);
    };
    const auto moved = [&](std::size_t entry, const std::string& move) {
        std::lock_guard lock(mutex);
        const std::vector<std::string>& of = moves[entry];
        return std::find(of.begin(), of.end(), move) != of.end();
    };
    const auto waitFor = [&](const std::function<bool()>& done) {
        for (int k = 0; k < 2000 && !done(); ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return done();
    };
    const auto unpacks = [&](std::size_t entry) {
        return moved(entry, "fetching>unpacking") || moved(entry, "deferred>unpacking");
    };
    {
        std::lock_guard lock(mutex_);
        holdChunks_ = true;
    }
    const auto release = [&](const std::vector<std::string>& chunks, bool all) {
        {
            std::lock_guard lock(mutex_);
            letThrough_.insert(chunks.begin(), chunks.end());
            holdChunks_ = !all;
        }
        released_.notify_all();
    };
    // Whether the server was asked for a chunk of entry k: its plan is made.
    const auto planned = [&](std::size_t k) {
        const std::string path = "data/f" + std::to_string(k) + ".pak";
        const std::vector<std::string> had = ChunkDigests(older.at(path));
        for (const std::string& chunk : ChunkDigests(next.at(path)))
            if (std::find(had.begin(), had.end(), chunk) == had.end())
                for (const HttpRequest& request : server_.Requests())
                    if (request.target.find(chunk) != std::string::npos)
                        return true;
        return false;
    };
    TWorkAhead ahead(entries, settings);
    // Every chunk is held: the copies' sizes alone would let one entry
    // fetch beside the one being installed.
    EXPECT_TRUE(waitFor([&] { return planned(1) && planned(2); }));
    // Entry 0 first, then the others: the first of them to come fits beside
    // it, the second does not.
    release(ChunkDigests(next.at("data/f0.pak")), false);
    ahead.AwaitDownload(0, {});
    EXPECT_TRUE(waitFor([&] { return moved(0, "unpacking>unpacked"); }));
    release({}, true);
    EXPECT_TRUE(waitFor([&] {
        return (unpacks(1) || moved(1, "fetching>deferred")) &&
               (unpacks(2) || moved(2, "fetching>deferred"));
    }));
    EXPECT_NE(moved(1, "fetching>deferred"), moved(2, "fetching>deferred"));
    ahead.AwaitInstall(0, {});
    // The one that waited is not the one being installed, and it begins.
    EXPECT_TRUE(waitFor([&] { return unpacks(1) && unpacks(2); }));
    for (std::size_t k = 1; k < kFiles; ++k) {
        ahead.AwaitDownload(k, {});
        ahead.AwaitInstall(k, {});
    }
    EXPECT_EQ(ahead.Deltas().files, kFiles);
    EXPECT_EQ(Snapshot(Path("install")), next);
    for (std::size_t k = 0; k < kFiles; ++k) {
        EXPECT_FALSE(moved(k, "unpacking>deferred")) << k;
        EXPECT_EQ(moves[k].back(), "unpacked>taken") << k;
    }
}

TEST_F(DeltaTest, LaunchersThatKnowNoChunksReadAChunkedTreeAsBefore) {
    const std::map<std::string, std::string> client = {{"data/a.pak", SampleData(300000, 21)},
                                                       {"system/game.exe", SampleData(70000, 22)}};
    PublishTree("plain", 3, client, false);
    PublishTree("server", 3, client);
    EXPECT_FALSE(fs::exists(Path("plain/chunks")));
    EXPECT_TRUE(fs::exists(Path("server/chunks")));
    WriteFile(Path("plain.lst"), Unbzip2File(Path("plain/files.lst.bz2")));
    WriteFile(Path("chunked.lst"), Unbzip2File(Path("server/files.lst.bz2")));
    const TListFile plain(Path("plain.lst")), chunked(Path("chunked.lst"));
    for (const char* section : {"hosts", "self", "files_critical", "files_normal"})
        EXPECT_EQ(chunked.GetSection(section), plain.GetSection(section)) << section;
    for (const char* key : {"Rev", "ModHosts"})
        EXPECT_EQ(chunked.GetValue("settings", key), plain.GetValue("settings", key)) << key;
    EXPECT_EQ(chunked.GetValue("settings", kChunksSetting), "16384,65536,262144");
    // The copies are the same, and a fresh installation is made from them.
    for (const auto& [path, content] : client)
        EXPECT_EQ(ReadFile(Path("server/" + path + ".bz2")),
                  ReadFile(Path("plain/" + path + ".bz2")));
    fs::create_directories(Path("install"));
    Run();
    EXPECT_EQ(Snapshot(Path("install")), client);
}

} // namespace
