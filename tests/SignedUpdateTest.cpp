// Update runs against signed trees: a server that plays an attacker (another
// key, a rewritten manifest, no signature, an old signature, an old manifest
// replayed, an expired one, an entry without SHA-256, copies that differ from
// what the signed entries describe) changes nothing of the installation or
// its hosts file and records no revision; a signed tree installs and maps
// hosts as an unsigned one does, also for launchers that trust no key.
#include "BZip2.h"
#include "GetFilesThr.h"
#include "Profile.h"
#include "Publisher.h"
#include "RevisionFloor.h"
#include "Signature.h"
#include "Signing.h"
#include "Streams.h"
#include "TestHttpServer.h"
#include "TestSupport.h"
#include "md5.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const std::string kGameV1 = "game, first build", kGameV2 = "game, second build";
const std::string kDataOld = "data as installed", kDataNew = "data, revision 2";
const std::string kEvil = "an attacker's program";
const std::string kHosts = "127.0.0.1\tlocalhost\r\n10.0.0.1\tlogin.quenmor.example\r\n";

std::string Replaced(std::string text, const std::string& what, const std::string& with) {
    const std::size_t at = text.find(what);
    EXPECT_NE(at, std::string::npos) << what;
    if (at != std::string::npos)
        text.replace(at, what.size(), with);
    return text;
}

class SignedUpdateTest : public ::testing::Test {
public: // the attacks below prepare the server through these
    SignedUpdateTest() : server_(TestHttpServer::Folder(Path("server"))) {
        publish::GenerateKey(dir_.path() / "trusted.pem");
        publish::GenerateKey(dir_.path() / "attacker.pem");
        trusted_ = publish::SigningKey(dir_.path() / "trusted.pem").PublicKey();
        // The installation has the current game, and older data.
        WriteFile(dir_ / "install/system/game.exe", kGameV2);
        WriteFile(dir_ / "install/data/a.dat", kDataOld);
        WriteFile(dir_ / "etc/hosts", kHosts);
        WriteFile(dir_ / "hosts.list", "10.0.0.1 login.quenmor.example\n");
        WriteFile(dir_ / "evil-hosts.list", "6.6.6.6 login.quenmor.example\n");
    }

    std::string Path(const std::string& relative) const { return dir_ / relative; }

    // Publishes a client into `out` as the operator (or an attacker) would.
    void PublishTree(const std::string& out, std::int32_t revision, const std::string& game,
                     const std::string& data, const std::string& key = "trusted.pem",
                     const std::string& hosts = "hosts.list",
                     std::optional<std::int64_t> expiresAt = std::nullopt) {
        const fs::path client = dir_.path() / ("client-" + out);
        fs::remove_all(client);
        WriteFile(platform::PathText(client / "system/game.exe"), game);
        WriteFile(platform::PathText(client / "data/a.dat"), data);
        publish::Options options;
        options.source = client;
        options.out = dir_.path() / out;
        options.revision = revision;
        options.criticalPatterns = {"system/*"};
        options.modHosts = true;
        options.hostsFile = dir_.path() / hosts;
        options.jobs = 1;
        // The copies are what these runs are about; delta runs have tests of their own.
        options.chunks = false;
        if (!key.empty())
            options.signingKey = dir_.path() / key;
        options.publishUnsigned = key.empty(); // an attacker's, maybe over a signed tree
        options.expiresAt = expiresAt;
        publish::Publish(options);
    }

    // The operator's current tree: revision 2, signed.
    void PublishGoodTree() { PublishTree("server", 2, kGameV2, kDataNew); }

    // Rewrites the served manifest and signs it again with `key`.
    void RewriteManifest(const std::string& what, const std::string& with,
                         const std::string& key = "trusted.pem") {
        WriteFile(Path("server/files.lst.bz2"),
                  Bzip2(Replaced(Unbzip2File(Path("server/files.lst.bz2")), what, with)));
        WriteFile(Path("server/files.lst.bz2.sig"),
                  publish::SigningKey(dir_.path() / key)
                      .SignatureFileText(dir_.path() / "server/files.lst.bz2"));
    }

    std::vector<std::string> Run(std::int32_t atRevision,
                                 std::vector<signing::PublicKey> keys = {}) {
        RecordingTarget target;
        GFilesThread thread(target);
        thread.UpdateUrl = server_.Url("/");
        thread.AtRevision = atRevision;
        thread.HostsFolder = Path(hostsFolder_);
        thread.TrustedKeys = std::move(keys);
        thread.TrustedRevision = trustedRevision_;
        thread.ConnectTimeoutS = 5;
        thread.StallTimeoutS = 5;
        thread.Retry.firstPause = std::chrono::milliseconds(10);
        RunToEnd(thread, dir_.path() / "install");
        causes_ = target.Causes();
        notes_ = target.Notes();
        // The floor as the host records it.
        for (const std::string& event : target.Events())
            if (event.rfind("StoreTrustedRevision:", 0) == 0)
                trustedRevision_ = std::stoi(event.substr(event.find(':') + 1));
        return target.EventsWithoutFileProgress();
    }

    // Whether a cause of the last run begins with `prefix` (or holds `part`).
    bool CauseBegins(const std::string& prefix) const {
        return std::any_of(causes_.begin(), causes_.end(),
                           [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
    }
    bool CauseHolds(const std::string& part) const {
        return std::any_of(causes_.begin(), causes_.end(),
                           [&](const std::string& c) { return c.find(part) != std::string::npos; });
    }

    static bool Has(const std::vector<std::string>& events, const std::string& prefix) {
        for (const std::string& event : events)
            if (event.rfind(prefix, 0) == 0)
                return true;
        return false;
    }

    TempDir dir_;
    TestHttpServer server_;
    signing::PublicKey trusted_{};
    std::vector<std::string> causes_;  // of the last run
    std::vector<std::string> notes_;   // of the last run
    std::int32_t trustedRevision_ = 0; // the rollback floor the runs have recorded
    std::string hostsFolder_ = "etc";
};

struct Attack {
    std::string name;
    std::function<void(SignedUpdateTest&)> serve; // makes what the server serves
    std::int32_t atRevision = 1;
    // What the refusal's cause begins with; for a file that fails instead
    // (refused false), what its cause holds.
    std::string cause;
    bool refused = true;
};

void PrintTo(const Attack& attack, std::ostream* out) {
    *out << attack.name;
}

class AttackTest : public SignedUpdateTest, public ::testing::WithParamInterface<Attack> {};

} // namespace

TEST_P(AttackTest, ChangesNothingAndRecordsNoRevision) {
    const Attack& attack = GetParam();
    attack.serve(*this);
    const auto installed = Snapshot(dir_.path() / "install");

    const auto events = Run(attack.atRevision, {trusted_});

    EXPECT_EQ(Snapshot(dir_.path() / "install"), installed);
    EXPECT_EQ(ReadFile(Path("etc/hosts")), kHosts);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2], "ShowStatus:Не удалось обновить");
    EXPECT_EQ(events.back(), "UnlockCommands");
    EXPECT_FALSE(Has(events, "StoreRevision:"));
    if (attack.refused) {
        EXPECT_TRUE(CauseBegins(attack.cause)) << ::testing::PrintToString(causes_);
        // A refused manifest is never read: nothing is checked or shown of it.
        EXPECT_FALSE(Has(events, "ShowStatus:Проверка"));
    } else {
        EXPECT_TRUE(CauseHolds(attack.cause)) << ::testing::PrintToString(causes_);
    }
}

namespace {

std::vector<Attack> Attacks() {
    return {Attack{"ManifestSignedByAnotherKey",
                   [](SignedUpdateTest& t) {
                       t.PublishTree("server", 3, kEvil, kEvil, "attacker.pem", "evil-hosts.list");
                   },
                   1, "untrusted key"},
            Attack{"ManifestRewrittenOldSignatureKept",
                   [](SignedUpdateTest& t) {
                       t.PublishGoodTree();
                       const std::string signature = ReadFile(t.Path("server/files.lst.bz2.sig"));
                       t.PublishTree("server", 3, kEvil, kEvil, "", "evil-hosts.list");
                       WriteFile(t.Path("server/files.lst.bz2.sig"), signature);
                   },
                   1, "bad signature"},
            Attack{"NoSignatureFile",
                   [](SignedUpdateTest& t) {
                       t.PublishTree("server", 3, kEvil, kEvil, "", "evil-hosts.list");
                   },
                   1, "no signature"},
            Attack{"OlderRevisionsSignatureWithNewerManifest",
                   [](SignedUpdateTest& t) {
                       t.PublishTree("old", 1, kGameV1, kDataOld);
                       t.PublishGoodTree();
                       WriteFile(t.Path("server/files.lst.bz2.sig"),
                                 ReadFile(t.Path("old/files.lst.bz2.sig")));
                   },
                   1, "bad signature"},
            Attack{"OlderSignedManifestReplayed",
                   [](SignedUpdateTest& t) { t.PublishTree("server", 1, kGameV1, kDataOld); }, 2,
                   "rollback"},
            Attack{"ExpiredManifest",
                   [](SignedUpdateTest& t) {
                       const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                                            std::chrono::system_clock::now().time_since_epoch())
                                            .count();
                       t.PublishTree("server", 3, kGameV1, kDataNew, "trusted.pem",
                                     "evil-hosts.list", now - 60);
                   },
                   1, "expired"},
            Attack{"SignedEntryWithoutSha256",
                   [](SignedUpdateTest& t) {
                       t.PublishTree("server", 2, kEvil, kDataNew, "trusted.pem",
                                     "evil-hosts.list");
                       const std::string manifest = Unbzip2File(t.Path("server/files.lst.bz2"));
                       const std::size_t line = manifest.find("system\\game.exe");
                       const std::size_t start = manifest.rfind('\n', line) + 1;
                       t.RewriteManifest(manifest.substr(start, line - start), "");
                   },
                   1, "missing SHA-256"},
            Attack{"CopyThatDiffersFromItsEntry",
                   [](SignedUpdateTest& t) {
                       t.PublishGoodTree();
                       // Short enough for the entry's size, so the digest tells.
                       WriteFile(t.Path("server/data/a.dat.bz2"), Bzip2("evil"));
                   },
                   1, "does not match its digest: MD5", false},
            // A copy made to have the listed MD5 (a collision): only the SHA-256
            // of the signed entry tells it from the real one.
            Attack{"CopyThatMatchesOnlyTheMd5",
                   [](SignedUpdateTest& t) {
                       t.PublishGoodTree();
                       // As long as the real content, which the line also gives.
                       const std::string evil = "evil, revision 2";
                       ASSERT_EQ(evil.size(), kDataNew.size());
                       const std::string copy = Bzip2(evil);
                       const std::string size =
                           std::to_string(fs::file_size(t.Path("server/data/a.dat.bz2")));
                       WriteFile(t.Path("server/data/a.dat.bz2"), copy);
                       t.RewriteManifest("|" + Md5Hex(kDataNew) + "|" + size,
                                         "|" + Md5Hex(evil) + "|" + std::to_string(copy.size()));
                   },
                   1, "does not match its digest: SHA-256", false}};
}

} // namespace

INSTANTIATE_TEST_SUITE_P(SignedTrees, AttackTest, ::testing::ValuesIn(Attacks()),
                         [](const ::testing::TestParamInfo<Attack>& param) {
                             return param.param.name;
                         });

TEST_F(SignedUpdateTest, SignedTreeInstallsAndMapsHostsWithTheKeyAndWithout) {
    WriteFile(Path("etc/hosts"), "127.0.0.1\tlocalhost\r\n");
    PublishGoodTree();
    auto events = Run(1, {trusted_});
    EXPECT_EQ(ReadFile(Path("install/data/a.dat")), kDataNew);
    EXPECT_EQ(ReadFile(Path("install/system/game.exe")), kGameV2);
    EXPECT_NE(ReadFile(Path("etc/hosts")).find("10.0.0.1\tlogin.quenmor.example"),
              std::string::npos);
    EXPECT_TRUE(Has(events, "StoreRevision:2"));
    EXPECT_TRUE(Has(events, "ShowStatus:Все файлы были обновлены"));
    EXPECT_EQ(causes_, std::vector<std::string>());
    EXPECT_FALSE(Exists(Path("install/files.lst")) || Exists(Path("install/files.lst.bz2")));

    // A launcher that trusts no key reads the same tree as an unsigned one,
    // the SHA-256 in front of each entry unseen.
    WriteFile(Path("install/data/a.dat"), kDataOld);
    events = Run(1);
    EXPECT_EQ(ReadFile(Path("install/data/a.dat")), kDataNew);
    EXPECT_TRUE(Has(events, "StoreRevision:2"));
    const auto requested = server_.Requests();
    EXPECT_EQ(std::count_if(requested.begin(), requested.end(),
                            [](const HttpRequest& r) { return r.target == "/files.lst.bz2.sig"; }),
              1); // by the first run only
}

// With a key trusted, a tree that fails a file records no revision, so the
// next run, which finds the file repaired on the server, installs it.
TEST_F(SignedUpdateTest, RunAfterAFailedOneTriesTheFilesAgain) {
    PublishGoodTree();
    const std::string good = ReadFile(Path("server/data/a.dat.bz2"));
    WriteFile(Path("server/data/a.dat.bz2"), "not bzip2");
    EXPECT_FALSE(Has(Run(1, {trusted_}), "StoreRevision:"));
    EXPECT_EQ(ReadFile(Path("install/data/a.dat")), kDataOld);
    WriteFile(Path("server/data/a.dat.bz2"), good);
    EXPECT_TRUE(Has(Run(1, {trusted_}), "StoreRevision:2"));
    EXPECT_EQ(ReadFile(Path("install/data/a.dat")), kDataNew);
}

// A signed manifest that verified raises the rollback floor at once: after
// revision 8 failed on a file (and on the hosts file, which ends its run
// before anything is recorded), an old signed revision 7 replayed is refused
// although the installation still records revision 1.
TEST_F(SignedUpdateTest, VerifiedRevisionIsTheFloorWhateverBecomesOfItsRun) {
    PublishTree("old", 7, kGameV2, "data, revision 7");
    PublishTree("server", 8, kGameV2, "data, revision 8");
    WriteFile(Path("server/data/a.dat.bz2"), "not bzip2");
    hostsFolder_ = "no such folder";
    auto events = Run(1, {trusted_});
    EXPECT_TRUE(Has(events, "StoreTrustedRevision:8"));
    EXPECT_FALSE(Has(events, "StoreRevision:"));
    EXPECT_EQ(trustedRevision_, 8);

    fs::remove_all(Path("server"));
    fs::copy(Path("old"), Path("server"), fs::copy_options::recursive);
    hostsFolder_ = "etc";
    events = Run(1, {trusted_});
    EXPECT_TRUE(CauseBegins("rollback: the manifest's revision 7 is below the revision 8"))
        << ::testing::PrintToString(causes_);
    EXPECT_EQ(ReadFile(Path("install/data/a.dat")), kDataOld);
    EXPECT_FALSE(Has(events, "StoreTrustedRevision:"));
}

// The installation's settings file is never the server's to replace, signed
// tree or not and in any letter case: the key it trusts stays, and a tree of
// the key the server's copy named is still refused afterwards.
TEST_F(SignedUpdateTest, ServersCopyOfTheSettingsFileIsLeftOut) {
    const std::string ini = "[main]\r\nUpdateKey=" + signing::KeyText(trusted_) + "\r\n";
    WriteFile(Path("install/Quenmor.ini"), ini);
    const std::string evilIni =
        "[main]\r\nUpdateKey=" +
        signing::KeyText(publish::SigningKey(dir_.path() / "attacker.pem").PublicKey()) + "\r\n";
    PublishGoodTree();
    const std::string copy = Bzip2(evilIni);
    WriteFile(Path("server/QUENMOR.INI.bz2"), copy);
    TSHA256 sha;
    sha.Update(evilIni.data(), evilIni.size());
    RewriteManifest("[/files_normal]", std::to_string(evilIni.size()) + "|" + sha.FinalText() +
                                           "|QUENMOR.INI|" + Md5Hex(evilIni) + "|" +
                                           std::to_string(copy.size()) + "\r\n[/files_normal]");
    const auto trustedByInstallation = [&] {
        return signing::TrustedKeys(
            platform::GetProfileString(Path("install/Quenmor.ini"), "main", "UpdateKey", ""));
    };
    auto events = Run(1, trustedByInstallation());
    EXPECT_TRUE(Has(events, "ShowStatus:Все файлы были обновлены"));
    EXPECT_EQ(ReadFile(Path("install/Quenmor.ini")), ini);
    EXPECT_EQ(ReadFile(Path("install/data/a.dat")), kDataNew);
    ASSERT_EQ(notes_.size(), 1u);
    EXPECT_NE(notes_[0].find("'QUENMOR.INI' is the installation's own settings file"),
              std::string::npos);

    PublishTree("server", 3, kGameV2, kDataNew, "attacker.pem");
    events = Run(2, trustedByInstallation());
    EXPECT_TRUE(CauseBegins("untrusted key")) << ::testing::PrintToString(causes_);
}

// The floor in the settings file only ever rises, and a value that is no
// number stops a run before it starts rather than counting as none.
TEST(TrustedRevision, RisesOnlyAndAMalformedOneIsNamed) {
    TempDir dir;
    const std::string ini = dir / "Quenmor.ini";
    EXPECT_EQ(ReadTrustedRevision(ini), 0);
    WriteFile(ini, "[main]\r\nAtRevision=3\r\n");
    RaiseTrustedRevision(ini, 5);
    RaiseTrustedRevision(ini, 4);
    EXPECT_EQ(ReadTrustedRevision(ini), 5);
    EXPECT_EQ(platform::GetProfileString(ini, "main", "AtRevision", ""), "3");
    WriteFile(ini, "[main]\r\nTrustedRevision=five\r\n");
    try {
        ReadTrustedRevision(ini);
        ADD_FAILURE() << "a malformed floor was read";
    } catch (const EConvertError& e) {
        EXPECT_NE(std::string(e.what()).find("TrustedRevision in " + ini), std::string::npos);
    }
    RaiseTrustedRevision(ini, 2);
    EXPECT_EQ(ReadTrustedRevision(ini), 2);
}
