// Start-up of the launcher: settings, first-run shortcut, missing or
// read-only settings file, the recorded revision and the error box text.
#include "Application.h"
#include "Errors.h"
#include "UnitMain.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "TestFiles.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

class LauncherTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir root_;
    QString install_, home_, previous_;
    QStringList messages_;

    QString Ini() const { return install_ + "/Quenmor.ini"; }
    QString DesktopFile(const QString& name) const {
        return home_ + "/Desktop/" + name + ".desktop";
    }
    QString MenuFile(const QString& name) const {
        return home_ + "/.local/share/applications/" + name + ".desktop";
    }
    // A main window created as at start-up; what it raises is returned.
    std::string Create(TFMain& window) {
        window.ShowMessage = [this](const QString& text) { messages_ << text; };
        try {
            window.FormCreate();
        } catch (const std::exception& error) {
            return error.what();
        }
        return {};
    }

private slots:
    void init() {
        QVERIFY(root_.isValid());
        install_ = root_.path() + "/install " + QString::number(qrand_++);
        home_ = root_.path() + "/home " + QString::number(qrand_++);
        QVERIFY(QDir().mkpath(install_));
        QVERIFY(QDir().mkpath(home_));
        qputenv("HOME", home_.toUtf8());
        qunsetenv("XDG_CONFIG_HOME");
        qunsetenv("XDG_DATA_HOME");
        previous_ = QDir::currentPath();
        QDir::setCurrent(install_);
        messages_.clear();
    }
    void cleanup() { QDir::setCurrent(previous_); }

    void firstStartWritesTheFlagAndMakesTheShortcut() {
        Write(Ini(), "[main]\r\nUpdatesUrl=http://127.0.0.1/upd/\r\n");
        {
            TFMain window;
            QCOMPARE(Create(window), std::string());
            QCOMPARE(window.LauncherSettings.size(), std::size_t{10});
            QCOMPARE(window.LauncherSettings[BaseFolder], install_.toStdString() + "/");
            QCOMPARE(window.LauncherSettings[UpdatesUrl], std::string("http://127.0.0.1/upd/"));
            QCOMPARE(window.LauncherSettings[LinkName], std::string("Quenmor"));
            QCOMPARE(window.LauncherSettings[RunCustom], std::string("system\\zentyr.exe"));
            QCOMPARE(window.LauncherSettings[UpdateKey], std::string());    // none trusted
            QCOMPARE(window.LauncherSettings[Installed], std::string("0")); // the file only
            QVERIFY(!window.mask().isEmpty());                              // shaped by its skin
        }
        QCOMPARE(Read(Ini()),
                 std::string("[main]\r\nUpdatesUrl=http://127.0.0.1/upd/\r\nInstalled=1\r\n"));
        for (const QString& file : {DesktopFile("Quenmor"), MenuFile("Quenmor")}) {
            QVERIFY2(QFile::exists(file), qPrintable(file));
            const std::string entry = Read(file);
            QVERIFY(entry.find("Name=Quenmor\n") != std::string::npos);
            QVERIFY(entry.find("Comment=Quenmor\n") != std::string::npos);
            QVERIFY(entry.find("Path=" + install_.toStdString() + "/\n") != std::string::npos);
            QVERIFY(QFileInfo(file).isExecutable());
        }
        // The second start makes none.
        QFile::remove(DesktopFile("Quenmor"));
        TFMain again;
        QCOMPARE(Create(again), std::string());
        QVERIFY(!QFile::exists(DesktopFile("Quenmor")));
    }

    void onlyAnExactZeroCountsAsAFirstStart() {
        for (const std::string value : {"00", "1", "yes", ""}) {
            const std::string text = "[main]\r\nInstalled=" + value + "\r\n";
            Write(Ini(), text);
            TFMain window;
            QCOMPARE(Create(window), std::string());
            QCOMPARE(Read(Ini()), text);
            QVERIFY(!QFile::exists(DesktopFile("Quenmor")));
        }
    }

    void shortcutNamesFollowLinkName() {
        Write(Ini(), "[main]\r\nLinkName=My Game\r\n");
        {
            TFMain window;
            QCOMPARE(Create(window), std::string());
        }
        QVERIFY(QFile::exists(DesktopFile("My Game")));
        QVERIFY(Read(DesktopFile("My Game")).find("Comment=Quenmor\n") != std::string::npos);
        // Present but empty: the flag is set and no shortcut is made.
        QDir(home_).removeRecursively();
        Write(Ini(), "[main]\r\nLinkName=\r\nInstalled=0\r\n");
        TFMain window;
        QCOMPARE(Create(window), std::string());
        QCOMPARE(Read(Ini()), std::string("[main]\r\nLinkName=\r\nInstalled=1\r\n"));
        QVERIFY(!QDir(home_ + "/Desktop").exists() || QDir(home_ + "/Desktop").isEmpty());
    }

    void emptySettingsFileGetsTheSectionAndTheDefaults() {
        Write(Ini(), "");
        TFMain window;
        QCOMPARE(Create(window), std::string());
        QCOMPARE(Read(Ini()), std::string("[main]\r\nInstalled=1\r\n"));
        QVERIFY(QFile::exists(DesktopFile("Quenmor")));
        QCOMPARE(window.LauncherSettings[CreateBackup], std::string("0"));
        QCOMPARE(window.LauncherSettings[AtRevision], std::string("0"));
    }

    void missingSettingsFileShowsTheMessageAndEnds() {
        TFMain window;
        QCOMPARE(Create(window), std::string());
        QCOMPARE(messages_, QStringList{QStringLiteral("ОШИБКА: Quenmor.ini не найден !")});
        QVERIFY(window.Terminating);
        QCOMPARE(window.LauncherSettings.size(), std::size_t{1});
        QVERIFY(!QFile::exists(Ini()));
    }

    void readOnlySettingsFileIsReportedAndNothingElseHappens() {
        Write(Ini(), "[main]\r\nInstalled=0\r\n");
        ::chmod(Ini().toLocal8Bit().constData(), 0444);
        TFMain window;
        QCOMPARE(Create(window), "Unable to write to " + Ini().toStdString());
        QVERIFY(!QFile::exists(DesktopFile("Quenmor")));
        QVERIFY(window.mask().isEmpty()); // shaping was skipped too
        QCOMPARE(Read(Ini()), std::string("[main]\r\nInstalled=0\r\n"));
    }

    void revisionIsWrittenToTheFileOnly() {
        Write(Ini(), "[main]\r\nInstalled=1\r\nAtRevision=41\r\n");
        TFMain window;
        QCOMPARE(Create(window), std::string());
        window.UpdateRevision("42");
        QCOMPARE(Read(Ini()), std::string("[main]\r\nInstalled=1\r\nAtRevision=42\r\n"));
        QCOMPARE(window.LauncherSettings[AtRevision], std::string("41"));
        // Also after the settings were released by closing.
        window.FormClose();
        window.UpdateRevision("43");
        QCOMPARE(Read(Ini()), std::string("[main]\r\nInstalled=1\r\nAtRevision=43\r\n"));
    }

    void windowsSettingsTextIsReadAsWindows1251() {
        Write(Ini(), "[main]\r\nInstalled=1\r\nRunCustom=system\\\xe8\xe3\xf0\xe0.exe\r\n");
        TFMain window;
        QCOMPARE(Create(window), std::string());
        QCOMPARE(window.LauncherSettings[RunCustom], std::string("system\\игра.exe"));
    }

private:
    int qrand_ = 0;
};

// An object whose event handler fails.
class Failing : public QObject {
public:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User)
            throw EInOutError("Unable to write to /x/option.ini");
        return QObject::event(event);
    }
};

class ErrorHandlerTest : public QObject {
    Q_OBJECT

private slots:
    void errorLeavingAnEventHandlerIsShownAndTheProgramGoesOn() {
        QStringList shown;
        const auto previous = PresentError;
        PresentError = [&](const QString& text) { shown << text; };
        Failing failing;
        QEvent event(QEvent::User);
        QVERIFY(!QCoreApplication::sendEvent(&failing, &event));
        QCOMPARE(shown, QStringList{QStringLiteral("Unable to write to /x/option.ini.")});
        QVERIFY(QCoreApplication::sendEvent(&failing, &event) == false);
        QCOMPARE(shown.size(), 2);
        PresentError = previous;
    }
};

int main(int argc, char** argv) {
    TApplication application(argc, argv);
    LauncherTest launcher;
    ErrorHandlerTest errors;
    return QTest::qExec(&launcher, argc, argv) | QTest::qExec(&errors, argc, argv);
}

#include "LauncherTest.moc"
