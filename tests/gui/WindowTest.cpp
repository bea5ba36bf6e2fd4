// The main window with real update runs against a loopback server: the
// status line and gauges, the start timer, the commands during and after a
// run, closing while a run is going on, two launchers on one installation,
// and starting the game through a stand-in "wine" that records what it got.
#include "Application.h"
#include "Clock.h"
#include "Frm2.h"
#include "Gauge.h"
#include "ImgBtn.h"
#include "InstallLock.h"
#include "LauncherLog.h"
#include "NewsPage.h"
#include "Publisher.h"
#include "Signature.h"
#include "Signing.h"
#include "TestHttpServer.h"
#include "TestSupport.h"
#include "UnitMain.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QToolTip>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QtTest>

#include "TestFiles.h"

#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const char* const kAllUpdated = "Все файлы были обновлены";
const char* const kFailed = "Не удалось обновить";

// Records the addresses handed to the player's browser.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<TestHttpServer> server_;
    QString install_, previous_, bin_, record_;
    QStringList errors_;
    // Server behaviour: a request whose target contains `slowPath_` waits
    // `slowMs_` first; one that contains `stallPath_` stalls in its body.
    std::mutex mutex_;
    std::string slowPath_, stallPath_;
    int slowMs_ = 0;

    std::string Server(const std::string& path) const {
        return (dir_->path() / "server" / path).string();
    }
    QString Ini() const { return install_ + "/Quenmor.ini"; }
    std::string InstallPath(const std::string& path) const {
        return install_.toStdString() + "/" + path;
    }

    // Publishes a client of `files` (path, content) as revision `rev`.
    void PublishClient(const std::vector<std::pair<std::string, std::string>>& files, int rev,
                       const fs::path& signingKey = {}) {
        const fs::path client = dir_->path() / "client";
        fs::remove_all(client);
        for (const auto& [path, content] : files)
            WriteFile((client / path).string(), content);
        publish::Options options;
        options.source = client;
        options.out = dir_->path() / "server";
        options.revision = rev;
        options.criticalPatterns = {"system/*"};
        options.jobs = 1;
        options.chunks = false;        // the stalls and slow answers below are the copies'
        options.replaceForeign = true; // the news page, written again below
        if (!signingKey.empty())
            options.signingKey = signingKey;
        publish::Publish(options);
        WriteFile(Server("news.html"), "<html><body>news</body></html>");
    }

    void WriteSettings(const std::string& extra = {}, const std::string& updatesUrl = "default") {
        const std::string url = updatesUrl == "default" ? server_->Url("/") : updatesUrl;
        Write(Ini(), "[main]\r\nNewsUrl=" + server_->Url("/news.html") + "\r\nUpdatesUrl=" + url +
                         "\r\nLinkName=\r\nInstalled=1\r\nCreateBackup=0\r\nAtRevision=0\r\n" +
                         extra);
    }

    // A window as the program makes it, shown.
    std::unique_ptr<TFMain> Open() {
        auto window = std::make_unique<TFMain>();
        window->HostsFolder = (dir_->path() / "etc").string();
        Guarded([&] { window->FormCreate(); });
        window->show();
        return window;
    }

    int Requests(const std::string& target) const {
        int count = 0;
        for (const auto& request : server_->Requests())
            count += request.target == target;
        return count;
    }

    static bool Idle(const TFMain& window) {
        return window.ImgBtn1->isVisible() && !window.RunActive();
    }

    // The stand-in Wine's record: one line per start, "FOLDER|ARG|ARG...".
    // Only whole lines count: the stand-in may be writing one while it is read.
    QStringList WineStarts() const {
        std::string text = Read(record_);
        text.erase(text.find_last_of('\n') == std::string::npos ? 0 : text.find_last_of('\n') + 1);
        return QString::fromStdString(text).split('\n', Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase() {
        PresentError = [this](const QString& text) { errors_ << text; };
    }

    void init() {
        dir_ = std::make_unique<TempDir>();
        fs::create_directories(dir_->path() / "server");
        fs::create_directories(dir_->path() / "etc");
        {
            std::lock_guard lock(mutex_);
            slowPath_.clear();
            stallPath_.clear();
        }
        server_ = std::make_unique<TestHttpServer>(
            [this, files = TestHttpServer::Folder((dir_->path() / "server").string())](
                const HttpRequest& request) {
                std::string slow, stall;
                int ms = 0;
                {
                    std::lock_guard lock(mutex_);
                    slow = slowPath_;
                    stall = stallPath_;
                    ms = slowMs_;
                }
                if (!slow.empty() && request.target.find(slow) != std::string::npos)
                    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                HttpReply reply = files(request);
                if (!stall.empty() && request.target.find(stall) != std::string::npos) {
                    reply.fault = HttpReply::Fault::StallInBody;
                    reply.cutAt = reply.body.size() / 3;
                }
                return reply;
            });
        // A base folder with blanks in its name, as players' folders often are.
        install_ = QString::fromStdString((dir_->path() / "Quenmor Online").string());
        QDir().mkpath(install_);
        previous_ = QDir::currentPath();
        QDir::setCurrent(install_);

        // A stand-in for Wine that records its folder and arguments.
        bin_ = QString::fromStdString((dir_->path() / "bin").string());
        record_ = QString::fromStdString((dir_->path() / "wine.log").string());
        Write(bin_ + "/wine",
              "#!/bin/sh\n{ printf '%s' \"$PWD\"; for a in \"$@\"; do printf '|%s' \"$a\"; done; "
              "echo; } >> '" +
                  record_.toStdString() + "'\n");
        QFile::setPermissions(bin_ + "/wine",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", (bin_ + ":/usr/bin:/bin").toUtf8());
        errors_.clear();
    }

    void cleanup() {
        QDir::setCurrent(previous_);
        server_.reset();
        dir_.reset();
    }

    // The status line reads "... Загрузка ..." until the start timer fires one
    // second after creation, then the run's texts; the run installs the
    // client, records the revision and gives the buttons back.
    void automaticRunAfterOneSecond() {
        PublishClient({{"system/game.dat", "game v1"}, {"data/map.txt", "map v1"}}, 4);
        WriteSettings();
        QElapsedTimer clock;
        clock.start();
        auto window = Open();
        QCOMPARE(window->Label3->text(), QStringLiteral("... Загрузка ..."));
        QVERIFY(window->ImgBtn1->isVisible() && window->ImgBtn2->isVisible());
        QVERIFY(window->ImgBtn5->isEnabled());
        QVERIFY(!window->Panel1->isVisible() && !window->Panel2->isVisible());
        QCOMPARE(window->Label5->text(), QStringLiteral("Label5"));

        // A small run can be over between two looks: its manifest request tells.
        QTRY_VERIFY_WITH_TIMEOUT(window->RunActive() || Requests("/files.lst.bz2") == 1, 3000);
        QVERIFY2(clock.elapsed() >= 900, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(window->Label3->text() != QStringLiteral("... Загрузка ..."));
        QVERIFY(!window->Timer1->isActive());
        QVERIFY(window->Label5->text().startsWith(QStringLiteral("Дата: ")));
        QVERIFY(window->Label5->text().endsWith(QStringLiteral(" г.")));
        QVERIFY(window->Label6->text().startsWith(QStringLiteral("Время: ")));

        QTRY_VERIFY_WITH_TIMEOUT(Idle(*window), 20000);
        QCOMPARE(window->Label3->text(), QString::fromUtf8(kAllUpdated));
        QCOMPARE(ReadFile(InstallPath("system/game.dat")), std::string("game v1"));
        QCOMPARE(ReadFile(InstallPath("data/map.txt")), std::string("map v1"));
        QVERIFY(Read(Ini()).find("AtRevision=4\r\n") != std::string::npos);
        QVERIFY(!Exists(InstallPath("files.lst")));
        // The gauges keep what the run left: both emptied at its end.
        QCOMPARE(window->Gauge1->Progress(), 0);
        QCOMPARE(window->Gauge2->Progress(), 0);
        QCOMPARE(window->Gauge2->MaxValue(), 1);
        // The news appeared on the browser's report, together with the strip.
        QTRY_VERIFY_WITH_TIMEOUT(window->Panel1->isVisible() && window->Panel2->isVisible(), 20000);
        QVERIFY(window->ImgBtn7->isVisible());
    }

    // The news are requested once; a check is a full run without reloading
    // them, and the start timer never fires again.
    void checkRunsAgainWithoutReloadingNews() {
        PublishClient({{"system/game.dat", "game"}, {"data/a.dat", "a"}}, 1);
        WriteSettings();
        auto window = Open();
        QTRY_VERIFY_WITH_TIMEOUT(window->RunActive() || Requests("/files.lst.bz2") == 1, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(Idle(*window), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(Requests("/news.html"), 1, 20000);
        // Damage a normal file: only a full check finds it.
        WriteFile(InstallPath("data/a.dat"), "damaged");
        QTest::mouseClick(window->ImgBtn2, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(window->RunActive() || Requests("/files.lst.bz2") == 2, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(Idle(*window), 20000);
        QCOMPARE(ReadFile(InstallPath("data/a.dat")), std::string("a"));
        QCOMPARE(window->Label3->text(), QString::fromUtf8(kAllUpdated));
        QTest::qWait(1200);
        QCOMPARE(Requests("/news.html"), 1);
        QCOMPARE(Requests("/files.lst.bz2"), 2);
        QVERIFY(!window->Timer1->isActive());
    }

    // A check clicked in the first second covers the automatic run, which
    // then does not start a second run on the installation.
    void checkInTheFirstSecondIsTheOnlyRun() {
        PublishClient({{"system/game.dat", "game"}}, 1);
        WriteSettings();
        {
            std::lock_guard lock(mutex_);
            slowPath_ = "game.dat";
            slowMs_ = 1500;
        }
        auto window = Open();
        QTest::mouseClick(window->ImgBtn2, Qt::LeftButton);
        QVERIFY(window->RunActive());
        QTRY_VERIFY_WITH_TIMEOUT(!window->Timer1->isActive(), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(Idle(*window), 20000);
        QCOMPARE(Requests("/files.lst.bz2"), 1);
        QCOMPARE(window->Label3->text(), QString::fromUtf8(kAllUpdated));
    }

    // An empty address fails at once; the window is usable again.
    void emptyUpdatesUrlFailsAtOnce() {
        WriteSettings({}, "");
        auto window = Open();
        QTRY_VERIFY_WITH_TIMEOUT(window->Label3->text() == QString::fromUtf8(kFailed), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(Idle(*window), 1000);
        QVERIFY(window->ImgBtn5->isEnabled());
    }

    // A non-numeric AtRevision shows the conversion error and starts nothing.
    void nonNumericRevisionStartsNoRun() {
        Write(Ini(), "[main]\r\nUpdatesUrl=" + server_->Url("/") +
                         "\r\nInstalled=1\r\nAtRevision=seven\r\n");
        auto window = Open();
        QTRY_COMPARE_WITH_TIMEOUT(errors_.size(), 1, 3000);
        QCOMPARE(errors_.first(), QStringLiteral("'seven' is not a valid integer value."));
        QVERIFY(!window->RunActive());
        QVERIFY(window->ImgBtn1->isVisible());
        QCOMPARE(Requests("/files.lst.bz2"), 0);
    }

    // The launcher's log, and how much of it the test found before.
    static std::string LogFile() {
        return qEnvironmentVariable("XDG_STATE_HOME").toStdString() + "/quenmor/launcher.log";
    }
    static std::string LogSince(std::size_t before) {
        return Exists(LogFile()) ? ReadFile(LogFile()).substr(before) : std::string();
    }
    static std::size_t LogSize() { return Exists(LogFile()) ? ReadFile(LogFile()).size() : 0; }

    // A failed run's log names the cause, the copy's address and the
    // server's answer, between the run's settings and its end status.
    void failedRunIsLoggedWithItsCause() {
        PublishClient({{"system/game.dat", "game"}, {"data/map.txt", "map"}}, 5);
        fs::remove(Server("data/map.txt.bz2"));
        WriteSettings();
        const std::size_t before = LogSize();
        auto window = Open();
        QTRY_VERIFY_WITH_TIMEOUT(window->RunActive() || Requests("/files.lst.bz2") == 1, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(Idle(*window), 20000);
        QCOMPARE(window->Label3->text(), QString::fromUtf8(kFailed));
        const std::string lines = LogSince(before);
        QVERIFY2(lines.find(" start UpdatesUrl=" + server_->Url("/") + " AtRevision=0") !=
                     std::string::npos,
                 lines.c_str());
        QVERIFY2(lines.find(" failure " + server_->Url("/data/map.txt.bz2") +
                            ": the server answered HTTP 404") != std::string::npos,
                 lines.c_str());
        QVERIFY2(lines.find(" end Не удалось обновить\n") != std::string::npos, lines.c_str());
    }

    // A malformed UpdateKey reaches the error box, naming the setting, and
    // no run starts.
    void malformedUpdateKeyStartsNoRun() {
        const std::size_t before = LogSize();
        WriteSettings("UpdateKey=AAAA\r\n");
        auto window = Open();
        QTRY_COMPARE_WITH_TIMEOUT(errors_.size(), 1, 3000);
        QVERIFY2(
            errors_.first().startsWith(QStringLiteral("UpdateKey: 'AAAA' is not an update key")),
            qPrintable(errors_.first()));
        QVERIFY(!window->RunActive());
        QVERIFY(window->ImgBtn1->isVisible());
        QCOMPARE(Requests("/files.lst.bz2"), 0);
        QVERIFY(LogSince(before).find(" error UpdateKey: 'AAAA' is not an update key") !=
                std::string::npos);
    }

    // A signed tree installs with its key trusted. A check later in the same
    // window refuses an older signed tree put back on the server, although
    // the window still gives its runs the revision it read at start-up.
    void signedTreeInstallsAndAReplayedOneIsRefused() {
        const fs::path key = dir_->path() / "update.pem";
        publish::GenerateKey(key);
        PublishClient({{"system/game.dat", "game v3"}}, 3, key);
        fs::copy(dir_->path() / "server", dir_->path() / "old", fs::copy_options::recursive);
        PublishClient({{"system/game.dat", "game v4"}}, 4, key);
        WriteSettings("UpdateKey=" + signing::KeyText(publish::SigningKey(key).PublicKey()) +
                      "\r\n");
        auto window = Open();
        QTRY_VERIFY_WITH_TIMEOUT(window->RunActive() || Requests("/files.lst.bz2") == 1, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(Idle(*window), 20000);
        QCOMPARE(window->Label3->text(), QString::fromUtf8(kAllUpdated));
        QCOMPARE(ReadFile(InstallPath("system/game.dat")), std::string("game v4"));
        QVERIFY(Read(Ini()).find("AtRevision=4\r\n") != std::string::npos);

        fs::remove_all(dir_->path() / "server");
        fs::rename(dir_->path() / "old", dir_->path() / "server");
        QTest::mouseClick(window->ImgBtn2, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(window->RunActive() || Requests("/files.lst.bz2") == 2, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(Idle(*window), 20000);
        QCOMPARE(window->Label3->text(), QString::fromUtf8(kFailed));
        QCOMPARE(ReadFile(InstallPath("system/game.dat")), std::string("game v4"));
        QVERIFY(Read(Ini()).find("AtRevision=4\r\n") != std::string::npos);
        QVERIFY(Read(Ini()).find("TrustedRevision=4\r\n") != std::string::npos);

        // A new window reads the floor from the settings file, whatever
        // revision the file says the installation reached.
        window.reset();
        WriteSettings("UpdateKey=" + signing::KeyText(publish::SigningKey(key).PublicKey()) +
                      "\r\nTrustedRevision=4\r\n");
        window = Open();
        QTRY_VERIFY_WITH_TIMEOUT(window->RunActive() || Requests("/files.lst.bz2") == 3, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(Idle(*window), 20000);
        QCOMPARE(window->Label3->text(), QString::fromUtf8(kFailed));
        QCOMPARE(ReadFile(InstallPath("system/game.dat")), std::string("game v4"));
        QVERIFY(errors_.isEmpty());
    }

    // During a run the options button does not react; afterwards it opens
    // the dialog, which disables the whole window until it closes.
    void optionsInertDuringRunAndModalAfterwards() {
        WriteSettings();
        auto window = Open();
        window->Timer1->stop();
        std::vector<std::string> settings = window->LauncherSettings;
        TForm1 dialog(window.get(), window->LauncherSettings);
        window->Form1 = &dialog;

        window->LockCommands();
        QTest::mouseClick(window->ImgBtn5, Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QVERIFY(window->isEnabled());
        window->UnlockCommands();
        QTest::mouseClick(window->ImgBtn5, Qt::LeftButton);
        QVERIFY(dialog.isVisible());
        QVERIFY(!window->isEnabled());
        // Neither play nor close reacts while the dialog is open.
        QTest::mouseClick(window->ImgBtn4, Qt::LeftButton);
        QTest::mouseClick(window->ImgBtn1, Qt::LeftButton);
        QVERIFY(window->isVisible());
        QVERIFY(WineStarts().isEmpty());
        dialog.SpeedButton2Click();
        QVERIFY(window->isEnabled());
        QTest::mouseClick(window->ImgBtn4, Qt::LeftButton);
        QVERIFY(!window->isVisible());
    }

    // Cancel during a stalled download: the run is stopped within the
    // bounded wait, the old file stays, nothing is left behind, and the
    // installation is free for the next launcher.
    void cancelDuringARunStopsItCleanly() {
        PublishClient({{"system/game.dat", std::string(200000, 'x') + SampleData(200000, 3)}}, 2);
        WriteSettings();
        WriteFile(InstallPath("system/game.dat"), "old");
        {
            std::lock_guard lock(mutex_);
            stallPath_ = "game.dat";
        }
        auto window = Open();
        window->CloseWait = std::chrono::milliseconds(300);
        QTRY_VERIFY_WITH_TIMEOUT(window->Label3->text().startsWith(QStringLiteral("Загружается")),
                                 5000);
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(window->ImgBtn3, Qt::LeftButton);
        QVERIFY(!window->isVisible());
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!window->RunActive());
        QVERIFY(!window->RunAbandoned());
        QCOMPARE(ReadFile(InstallPath("system/game.dat")), std::string("old"));
        QVERIFY(!Exists(InstallPath("system/game.dat.bz2")));
        QVERIFY(!Exists(InstallPath("files.lst")));
        QVERIFY(Read(Ini()).find("AtRevision=0\r\n") != std::string::npos);
        QVERIFY(window->LauncherSettings.empty());
        QVERIFY(platform::InstallLock::TryAcquire(install_.toStdString()) != nullptr);
    }

    // Close while the last file is on its way: the run finishes it within
    // the wait, and the revision it then reaches is still recorded.
    void closeLetsTheCurrentFileFinishAndRecordsTheRevision() {
        PublishClient({{"system/game.dat", "game v7"}}, 7);
        WriteSettings();
        {
            std::lock_guard lock(mutex_);
            slowPath_ = "game.dat.bz2";
            slowMs_ = 700;
        }
        auto window = Open();
        QTRY_VERIFY_WITH_TIMEOUT(window->Label3->text().startsWith(QStringLiteral("Загружается")),
                                 5000);
        QTest::mouseClick(window->ImgBtn4, Qt::LeftButton);
        QVERIFY(!window->isVisible());
        QVERIFY(!window->RunActive());
        QCOMPARE(ReadFile(InstallPath("system/game.dat")), std::string("game v7"));
        QVERIFY(Read(Ini()).find("AtRevision=7\r\n") != std::string::npos);
    }

    // A second launcher in the same folder waits for the first one's run,
    // says so, and runs once the installation is free.
    void secondLauncherWaitsForTheInstallation() {
        PublishClient({{"system/game.dat", "game"}}, 1);
        WriteSettings();
        auto other = platform::InstallLock::TryAcquire(install_.toStdString());
        QVERIFY(other && other->Exclusive());
        auto window = Open();
        QTRY_COMPARE_WITH_TIMEOUT(window->Label3->text(), QString::fromUtf8(kInstallationBusy),
                                  3000);
        QVERIFY(!window->ImgBtn1->isVisible());
        QVERIFY(window->ImgBtn3->isVisible() && window->ImgBtn4->isVisible());
        QTest::qWait(300);
        QCOMPARE(Requests("/files.lst.bz2"), 0);
        other.reset();
        QTRY_VERIFY_WITH_TIMEOUT(Idle(*window), 20000);
        QCOMPARE(window->Label3->text(), QString::fromUtf8(kAllUpdated));
        QCOMPARE(Requests("/files.lst.bz2"), 1);
    }

    // Play: "Rename.bat" first, then the game in its own folder with its
    // arguments, through Wine; the launcher closes.
    void playStartsRenameBatchAndTheGame() {
        WriteSettings("RunCustom=system\\zentyr.exe -window  1\r\n");
        WriteFile(InstallPath("system/zentyr.exe"), "MZ");
        WriteFile(InstallPath("Rename.bat"), "@echo off\r\n");
        auto window = Open();
        window->Timer1->stop();
        QTest::mouseClick(window->ImgBtn1, Qt::LeftButton);
        QVERIFY(!window->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(WineStarts().size(), 2, 5000);
        const QStringList starts = WineStarts();
        const QString base = install_;
        QVERIFY2(starts.contains(base + "|C:\\windows\\system32\\cmd.exe|/c|Rename.bat"),
                 qPrintable(starts.join('\n')));
        QVERIFY2(starts.contains(base + "/system|" + base + "/system/zentyr.exe|-window|1"),
                 qPrintable(starts.join('\n')));
        QVERIFY(errors_.isEmpty());
    }

    // A game folder that does not exist: the error box, the window stays,
    // and "Rename.bat" has been started all the same.
    void playWithAMissingFolderReportsAndStays() {
        WriteSettings("RunCustom=nowhere\\zentyr.exe\r\n");
        WriteFile(InstallPath("rename.BAT"), "@echo off\r\n");
        auto window = Open();
        window->Timer1->stop();
        QTest::mouseClick(window->ImgBtn1, Qt::LeftButton);
        QCOMPARE(errors_, QStringList{QStringLiteral("File not found.")});
        QVERIFY(window->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(WineStarts().size(), 1, 5000);
        QVERIFY(WineStarts().first().endsWith(
            QStringLiteral("|C:\\windows\\system32\\cmd.exe|/c|rename.BAT")));
    }

    // Without Wine the player is told so, instead of nothing happening.
    void playWithoutWineSaysSo() {
        WriteSettings();
        WriteFile(InstallPath("system/zentyr.exe"), "MZ");
        QFile::remove(bin_ + "/wine");
        // Nor a Wine of the system's, which a machine with the Windows tool
        // chain has.
        qputenv("PATH", bin_.toUtf8());
        auto window = Open();
        window->Timer1->stop();
        QTest::mouseClick(window->ImgBtn1, Qt::LeftButton);
        QCOMPARE(errors_.size(), 1);
        QVERIFY2(errors_.first().contains(QStringLiteral("Wine")), qPrintable(errors_.first()));
        QVERIFY(window->isVisible());
    }

    // Minimise and the site button.
    void minimiseAndSite() {
        WriteSettings();
        auto window = Open();
        window->Timer1->stop();
        UrlRecorder recorder;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "open");
        window->WebBrowser1NavigateComplete2(); // the strip with the site button shows
        QTest::mouseClick(window->ImgBtn7, Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QCOMPARE(recorder.opened, QList<QUrl>{QUrl(QString::fromUtf8(kProjectSite))});
        QTest::mouseClick(window->ImgBtn6, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(window->windowState() & Qt::WindowMinimized, 2000);
    }

    // A window the news page opens goes to the player's browser, for web
    // addresses only; nothing opens inside the launcher.
    void newWindowsOfTheNewsGoToThePlayersBrowser() {
        TNewsPage page;
        page.settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
        UrlRecorder recorder;
        for (const char* scheme : {"https", "http", "file", "ftp", "quenmor-test"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &recorder, "open");
        page.setHtml(QStringLiteral("<html><body><script>"
                                    "window.open('ftp://127.0.0.1/x');"
                                    "window.open('quenmor-test://a');"
                                    "location.href = 'quenmor-test://b';"
                                    "window.open('https://quenmor.example/news/7');"
                                    "</script></body></html>"),
                     QUrl(QStringLiteral("http://127.0.0.1/")));
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.opened.isEmpty(), 15000);
        QTest::qWait(300);
        for (const char* scheme : {"https", "http", "file", "ftp", "quenmor-test"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
        QCOMPARE(recorder.opened,
                 QList<QUrl>{QUrl(QStringLiteral("https://quenmor.example/news/7"))});
        QVERIFY(IsExternalAddress(QUrl(QStringLiteral("mailto:support@quenmor.example"))));
        QVERIFY(!IsExternalAddress(QUrl(QStringLiteral("file:///etc/passwd"))));
        QVERIFY(!IsExternalAddress(QUrl(QStringLiteral("javascript:alert(1)"))));
    }

    // A failed run keeps its failure text on the status line; hovering it
    // shows the run's first cause (quoting a name with markup, as text) and
    // the log's path. The options dialog's link opens the log's folder.
    void failedRunExplainsItselfOnTheStatusLine() {
        PublishClient({{"system/game.dat", "game"}, {"data/<b>map</b>.txt", "map"}}, 5);
        fs::remove(Server("data/<b>map</b>.txt.bz2"));
        WriteSettings();
        auto window = Open();
        QTRY_VERIFY_WITH_TIMEOUT(window->RunActive() || Requests("/files.lst.bz2") == 1, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(Idle(*window), 20000);
        QCOMPARE(window->Label3->text(), QString::fromUtf8(kFailed));
        const QString cause = QString::fromStdString(
            server_->Url("/data/%3Cb%3Emap%3C/b%3E.txt.bz2") + ": the server answered HTTP 404");
        const QString log =
            QString::fromUtf8(kLogFileLabel) + QString::fromStdString(LauncherLogFile());
        const QStringList lines = window->Label3->toolTip().split('\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].startsWith(cause), qPrintable(lines[0]));
        QCOMPARE(lines[1], log);
        // Hovered, through the window's tool tip event: on the line only.
        for (const QPoint at : {window->Label3->geometry().center(), QPoint(60, 60)}) {
            QHelpEvent hover(QEvent::ToolTip, at, window->mapToGlobal(at));
            QApplication::sendEvent(window.get(), &hover);
            const bool onTheLine = at.y() > 500;
            QTRY_COMPARE_WITH_TIMEOUT(QToolTip::isVisible(), onTheLine, 2000);
            QVERIFY(!onTheLine || (QToolTip::text().contains(cause.toHtmlEscaped()) &&
                                   QToolTip::text().contains(log.toHtmlEscaped())));
        }

        TForm1 dialog(window.get(), window->LauncherSettings);
        UrlRecorder recorder;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
        QTest::mouseClick(dialog.SpeedButton3, Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(recorder.opened,
                 QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(LauncherLogFolder()))});
    }

    // Where the news cannot be shown, the panel shows its placeholder instead
    // of the browser: without an address at once, for an error page or a
    // server out of reach once the browser says so, for one that does not
    // answer once the wait has passed; a page that does come replaces it.
    void newsPanelShowsThePlaceholderWhereTheNewsCannotBeShown_data() {
        QTest::addColumn<QString>("news");
        QTest::newRow("page") << "/news.html";
        QTest::newRow("no address") << "";
        QTest::newRow("error page") << "/missing.html";
        QTest::newRow("unreachable") << "http://127.0.0.1:9/news.html";
        QTest::newRow("late answer") << "/late/news.html";
    }
    void newsPanelShowsThePlaceholderWhereTheNewsCannotBeShown() {
        QFETCH(QString, news);
        WriteFile(Server("news.html"), "<html><body>news</body></html>");
        WriteFile(Server("late/news.html"), "<html><body>late news</body></html>");
        {
            std::lock_guard lock(mutex_);
            slowPath_ = "/late/";
            slowMs_ = 2500;
        }
        std::string ini =
            "[main]\r\nNewsUrl=" +
            (news.startsWith('/') ? server_->Url(news.toStdString()) : news.toStdString());
        Write(Ini(), ini + "\r\nInstalled=1\r\n");
        auto window = Open();
        window->NewsWait = std::chrono::milliseconds(600);
        const auto placeholder = [&] {
            return window->NewsView() == TNewsView::Placeholder && window->Label7->isVisible();
        };
        if (news.startsWith(QStringLiteral("/late/")))
            QTRY_VERIFY_WITH_TIMEOUT(placeholder() && Requests("/late/news.html") == 1, 5000);
        if (news.endsWith(QStringLiteral("news.html")) && news.startsWith('/')) {
            QTRY_VERIFY_WITH_TIMEOUT(window->NewsView() == TNewsView::Page, 20000);
            QVERIFY(!window->Label7->isVisible() && window->WebBrowser1->isVisible());
            return;
        }
        // With the strip: no page was asked for, or the browser reported
        // its own.
        QTRY_VERIFY_WITH_TIMEOUT(placeholder() && window->Panel2->isVisible(), 20000);
        QCOMPARE(window->Label7->text(), QString::fromUtf8(kNewsUnavailable));
        QCOMPARE(window->Label7->geometry(), QRect(0, 0, 786, 380));
        const QColor back = window->Label7->palette().color(QPalette::Window);
        QVERIFY2(back.lightness() < 80 && back.blue() >= back.red(), qPrintable(back.name()));
    }

    // Server texts never turn into markup in the status line.
    void statusLineShowsTextAsText() {
        WriteSettings();
        auto window = Open();
        window->Timer1->stop();
        window->ShowStatus("Загружается <b>x</b>.dat");
        QCOMPARE(window->Label3->textFormat(), Qt::PlainText);
        QCOMPARE(window->Label3->text(), QStringLiteral("Загружается <b>x</b>.dat"));
        // Redraws are held back for a frame only, then the line shows it.
        QVERIFY(!window->Label3->updatesEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(window->Label3->updatesEnabled(), 1000);
        QVERIFY(window->Gauge1->updatesEnabled());
        // Gauges: a maximum of 0 fills nothing, a maximum below the progress
        // lowers it.
        window->SetFileGaugeMax(100);
        window->SetFileProgress(70);
        window->SetFileGaugeMax(40);
        QCOMPARE(window->Gauge1->Progress(), 40);
        window->SetTotalGaugeMax(0);
        window->SetTotalProgress(5);
        QCOMPARE(window->Gauge2->FillWidth(), 0);
    }
};

int main(int argc, char** argv) {
    TApplication application(argc, argv);
    WindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "WindowTest.moc"
