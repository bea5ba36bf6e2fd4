// The game options dialog: loading option.ini and the backup switch, storing
// them on Accept, Cancel and closing, files that are missing or read-only, the
// bytes of option.ini that must survive, its placement and its controls.
#include "Errors.h"
#include "Fonts.h"
#include "Frm2.h"
#include "TestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>

#include "TestFiles.h"

#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <sys/stat.h>

namespace {

// What `action` raised: the class's name as this test knows it and the text.
std::string Raised(const std::function<void()>& action) {
    try {
        action();
    } catch (const EConvertError& error) {
        return std::string("EConvertError: ") + error.what();
    } catch (const EInOutError& error) {
        return std::string("EInOutError: ") + error.what();
    } catch (const std::exception& error) {
        return std::string("other: ") + error.what();
    }
    return {};
}

// The offscreen platform cannot shape or raise windows and says so each time.
QtMessageHandler previousHandler = nullptr;
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg && message.startsWith(QLatin1String("This plugin does not support")))
        return;
    previousHandler(type, context, message);
}

} // namespace

namespace QTest {
template <> inline char* toString(const std::string& text) {
    return QTest::toString(QByteArray::fromStdString(text));
}
} // namespace QTest

class OptionsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> root_;
    QString previous_;
    std::unique_ptr<QWidget> main_;
    std::vector<std::string> settings_;

    QString Base() const { return root_->path() + "/"; }
    QString OptionIni() const { return Base() + "system/option.ini"; }
    QString SettingsIni() const { return Base() + "Quenmor.ini"; }

    // The settings list as the main window holds it after reading Quenmor.ini.
    void UseSettings(const std::string& createBackup) {
        settings_ = {Base().toStdString(),
                     "http://127.0.0.1/news/",
                     "http://127.0.0.1/upd/",
                     "Quenmor",
                     "1",
                     createBackup,
                     "0",
                     "system\\zentyr.exe"};
    }

    // A dialog created and loaded as at start-up; what loading raised goes to
    // `raised`.
    std::unique_ptr<TForm1> Create(std::string* raised = nullptr) {
        auto dialog = std::make_unique<TForm1>(main_.get(), settings_);
        const std::string error = Raised([&] { dialog->FormCreate(); });
        if (raised)
            *raised = error;
        else if (!error.empty())
            qWarning("loading raised %s", error.c_str());
        return dialog;
    }

    std::unique_ptr<TForm1> CreateWith(const std::string& optionIni) {
        Write(OptionIni(), optionIni);
        return Create();
    }

private slots:
    void initTestCase() { previousHandler = qInstallMessageHandler(QuietHandler); }
    void cleanupTestCase() { qInstallMessageHandler(previousHandler); }

    void init() {
        root_ = std::make_unique<QTemporaryDir>();
        QVERIFY(root_->isValid());
        previous_ = QDir::currentPath();
        QVERIFY(QDir::setCurrent(root_->path()));
        main_ = std::make_unique<QWidget>();
        main_->setGeometry(100, 120, 600, 400);
        UseSettings("0");
    }

    void cleanup() {
        main_.reset();
        QDir::setCurrent(previous_);
        if (QFile::exists(OptionIni()))
            QFile(OptionIni()).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        root_.reset();
    }

    // --- loading ---

    void nothingIsSelectedBeforeLoading() {
        TForm1 dialog(main_.get(), settings_);
        for (QComboBox* list :
             {dialog.ComboBox1, dialog.ComboBox2, dialog.ComboBox3, dialog.ComboBox4}) {
            QCOMPARE(list->currentIndex(), -1);
            QCOMPARE(list->currentText(), QString());
        }
        for (QCheckBox* box : {dialog.CheckBox1, dialog.CheckBox2, dialog.CheckBox3})
            QVERIFY(!box->isChecked());
        QVERIFY(!dialog.isVisible());
    }

    void missingOptionFileGivesTheDefaults() {
        UseSettings("1");
        auto dialog = Create();
        QCOMPARE(dialog->ComboBox1->currentIndex(), -1);
        QCOMPARE(dialog->ComboBox2->currentIndex(), -1);
        QCOMPARE(dialog->ComboBox3->currentIndex(), -1);
        QVERIFY(dialog->CheckBox1->isChecked());
        QVERIFY(!dialog->CheckBox2->isChecked());
        QCOMPARE(dialog->ComboBox4->currentIndex(), 0);
        QVERIFY(dialog->CheckBox3->isChecked());
        QVERIFY(!QFile::exists(OptionIni()));
    }

    void resolution_data() {
        QTest::addColumn<QByteArray>("x");
        QTest::addColumn<QByteArray>("y");
        QTest::addColumn<int>("index");
        QTest::newRow("640x480") << QByteArray("640") << QByteArray("480") << 0;
        QTest::newRow("800x600") << QByteArray("800") << QByteArray("600") << 1;
        QTest::newRow("1024x768") << QByteArray("1024") << QByteArray("768") << 2;
        QTest::newRow("1280x1024") << QByteArray("1280") << QByteArray("1024") << 3;
        QTest::newRow("1920x1080") << QByteArray("1920") << QByteArray("1080") << 4;
        QTest::newRow("only the sum counts") << QByteArray("1000") << QByteArray("400") << 1;
        QTest::newRow("hexadecimal") << QByteArray("0x500") << QByteArray("$400") << 3;
        QTest::newRow("blanks and quotes") << QByteArray(" 1920 ") << QByteArray("\"1080\"") << 4;
        QTest::newRow("no such mode") << QByteArray("1600") << QByteArray("900") << -1;
        QTest::newRow("not a number") << QByteArray("wide") << QByteArray("1400") << 1;
        QTest::newRow("missing") << QByteArray() << QByteArray() << -1;
        QTest::newRow("overflowing sum")
            << QByteArray("2147483647") << QByteArray("2147483647") << -1;
    }
    void resolution() {
        QFETCH(QByteArray, x);
        QFETCH(QByteArray, y);
        QFETCH(int, index);
        std::string text = "[Video]\r\n";
        if (!x.isNull())
            text += "GamePlayViewportX=" + x.toStdString() + "\r\n";
        if (!y.isNull())
            text += "GamePlayViewportY=" + y.toStdString() + "\r\n";
        auto dialog = CreateWith(text);
        QCOMPARE(dialog->ComboBox1->currentIndex(), index);
        if (index < 0)
            QCOMPARE(dialog->ComboBox1->currentText(), QString());
    }

    void savedResolutionIsSelectedAgain() {
        CreateWith("[Video]\r\nGamePlayViewportX=800\r\nGamePlayViewportY=600\r\n");
        {
            auto dialog = Create();
            QCOMPARE(dialog->ComboBox1->currentIndex(), 1);
            dialog->Open();
            dialog->ComboBox1->setCurrentIndex(3);
            QCOMPARE(Raised([&] { dialog->SpeedButton1Click(); }), std::string());
        }
        const std::string text = Read(OptionIni());
        QVERIFY(text.find("GamePlayViewportX=1280\r\n") != std::string::npos);
        QVERIFY(text.find("GamePlayViewportY=1024\r\n") != std::string::npos);
        auto again = Create();
        QCOMPARE(again->ComboBox1->currentIndex(), 3);
        QCOMPARE(again->ComboBox1->currentText(), QStringLiteral("1280x1024"));
    }

    void colorBits_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("index");
        QTest::newRow("32") << QByteArray("ColorBits=32") << 0;
        QTest::newRow("16") << QByteArray("ColorBits=16") << 1;
        QTest::newRow("hexadecimal 16") << QByteArray("ColorBits=0x10") << 1;
        QTest::newRow("24") << QByteArray("ColorBits=24") << -1;
        QTest::newRow("empty") << QByteArray("ColorBits=") << -1;
        QTest::newRow("missing") << QByteArray("Gamma=1") << -1;
    }
    void colorBits() {
        QFETCH(QByteArray, line);
        QFETCH(int, index);
        auto dialog = CreateWith("[Video]\r\n" + line.toStdString() + "\r\n");
        QCOMPARE(dialog->ComboBox2->currentIndex(), index);
    }

    void refreshRate_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("index");
        QTest::newRow("60") << QByteArray("60") << 0;
        QTest::newRow("75") << QByteArray("75") << 1;
        QTest::newRow("85") << QByteArray("85") << 2;
        QTest::newRow("100") << QByteArray("100") << 3;
        QTest::newRow("120") << QByteArray("120") << -1;
        QTest::newRow("0") << QByteArray("0") << -1;
        QTest::newRow("fraction") << QByteArray("60.0") << -1;
    }
    void refreshRate() {
        QFETCH(QByteArray, value);
        QFETCH(int, index);
        auto dialog = CreateWith("[Video]\r\nRefreshRate=" + value.toStdString() + "\r\n");
        QCOMPARE(dialog->ComboBox3->currentIndex(), index);
    }

    void switches_data() {
        QTest::addColumn<QByteArray>("keepMin");
        QTest::addColumn<QByteArray>("fullScreen");
        QTest::addColumn<bool>("keepMinChecked");
        QTest::addColumn<bool>("fullScreenChecked");
        QTest::newRow("missing") << QByteArray() << QByteArray() << true << false;
        QTest::newRow("1 and TRUE") << QByteArray("1") << QByteArray("TRUE") << true << true;
        QTest::newRow("TRUE and 1") << QByteArray("TRUE") << QByteArray("1") << true << true;
        QTest::newRow("0 and False") << QByteArray("0") << QByteArray("False") << false << false;
        QTest::newRow("False and 0") << QByteArray("False") << QByteArray("0") << false << false;
        QTest::newRow("true and -1") << QByteArray("true") << QByteArray("-1") << true << true;
        QTest::newRow("0x0 and 2") << QByteArray("0x0") << QByteArray("2") << false << true;
    }
    void switches() {
        QFETCH(QByteArray, keepMin);
        QFETCH(QByteArray, fullScreen);
        QFETCH(bool, keepMinChecked);
        QFETCH(bool, fullScreenChecked);
        std::string text = "[Video]\r\n";
        if (!keepMin.isNull())
            text += "IsKeepMinFrameRate=" + keepMin.toStdString() + "\r\n";
        if (!fullScreen.isNull())
            text += "StartupFullScreen=" + fullScreen.toStdString() + "\r\n";
        auto dialog = CreateWith(text);
        QCOMPARE(dialog->CheckBox1->isChecked(), keepMinChecked);
        QCOMPARE(dialog->CheckBox2->isChecked(), fullScreenChecked);
    }

    void partyLooting_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("index");
        for (int value = 0; value <= 4; ++value)
            QTest::addRow("%d", value) << "PartyLooting=" + QByteArray::number(value) << value;
        QTest::newRow("7") << QByteArray("PartyLooting=7") << -1;
        QTest::newRow("-1") << QByteArray("PartyLooting=-1") << -1;
        QTest::newRow("not a number") << QByteArray("PartyLooting=many") << 0;
        QTest::newRow("missing") << QByteArray("Other=3") << 0;
    }
    void partyLooting() {
        QFETCH(QByteArray, line);
        QFETCH(int, index);
        auto dialog = CreateWith("[Game]\r\n" + line.toStdString() + "\r\n");
        QCOMPARE(dialog->ComboBox4->currentIndex(), index);
    }

    void sectionsAndKeysIgnoreLetterCase() {
        auto dialog = CreateWith("[VIDEO]\r\ngameplayviewportx=1024\r\nGAMEPLAYVIEWPORTY=768\r\n"
                                 "colorbits=16\r\n[game]\r\npartylooting=2\r\n");
        QCOMPARE(dialog->ComboBox1->currentIndex(), 2);
        QCOMPARE(dialog->ComboBox2->currentIndex(), 1);
        QCOMPARE(dialog->ComboBox4->currentIndex(), 2);
    }

    void backupSwitch_data() {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<bool>("checked");
        QTest::newRow("1") << QByteArray("1") << true;
        QTest::newRow("0") << QByteArray("0") << false;
        QTest::newRow("2") << QByteArray("2") << false;
        QTest::newRow("blank in front") << QByteArray(" 1") << false;
        QTest::newRow("true") << QByteArray("true") << false;
        QTest::newRow("empty") << QByteArray("") << false;
    }
    void backupSwitch() {
        QFETCH(QByteArray, entry);
        QFETCH(bool, checked);
        Write(OptionIni(), "[Video]\r\n");
        UseSettings(entry.toStdString());
        auto dialog = Create();
        QCOMPARE(dialog->CheckBox3->isChecked(), checked);
        dialog->Open();
        QCOMPARE(Raised([&] { dialog->SpeedButton1Click(); }), std::string());
        const std::string stored = checked ? "1" : "0";
        QCOMPARE(settings_[5], stored);
        QCOMPARE(Read(SettingsIni()), "[main]\r\nCreateBackup=" + stored + "\r\n");
    }

    void badBooleanStopsLoading_data() {
        QTest::addColumn<QByteArray>("keepMin");
        QTest::addColumn<QByteArray>("fullScreen");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<bool>("keepMinChecked");
        QTest::newRow("IsKeepMinFrameRate")
            << QByteArray("maybe") << QByteArray("true")
            << QByteArray("EConvertError: 'maybe' is not a valid boolean value") << false;
        QTest::newRow("StartupFullScreen")
            << QByteArray("true") << QByteArray("yes")
            << QByteArray("EConvertError: 'yes' is not a valid boolean value") << true;
        QTest::newRow("empty value")
            << QByteArray("true") << QByteArray("")
            << QByteArray("EConvertError: '' is not a valid boolean value") << true;
    }
    void badBooleanStopsLoading() {
        QFETCH(QByteArray, keepMin);
        QFETCH(QByteArray, fullScreen);
        QFETCH(QByteArray, message);
        QFETCH(bool, keepMinChecked);
        Write(OptionIni(), "[Video]\r\nGamePlayViewportX=1024\r\nGamePlayViewportY=768\r\n"
                           "ColorBits=16\r\nRefreshRate=85\r\nIsKeepMinFrameRate=" +
                               keepMin.toStdString() + "\r\nStartupFullScreen=" +
                               fullScreen.toStdString() + "\r\n[Game]\r\nPartyLooting=3\r\n");
        UseSettings("1");
        std::string raised;
        auto dialog = Create(&raised);
        QCOMPARE(raised, message.toStdString());
        // What comes before the bad value is loaded, what comes after is not.
        QCOMPARE(dialog->ComboBox1->currentIndex(), 2);
        QCOMPARE(dialog->ComboBox2->currentIndex(), 1);
        QCOMPARE(dialog->ComboBox3->currentIndex(), 2);
        QCOMPARE(dialog->CheckBox1->isChecked(), keepMinChecked);
        QVERIFY(!dialog->CheckBox2->isChecked());
        QCOMPARE(dialog->ComboBox4->currentIndex(), -1);
        QVERIFY(!dialog->CheckBox3->isChecked());

        // The dialog still works.
        dialog->Open();
        QVERIFY(dialog->isVisible());
        dialog->ComboBox4->setCurrentIndex(1);
        QCOMPARE(Raised([&] { dialog->SpeedButton1Click(); }), std::string());
        QVERIFY(!dialog->isVisible());
        QVERIFY(main_->isEnabled());
        QCOMPARE(Read(OptionIni()),
                 std::string("[Video]\r\nGamePlayViewportX=1024\r\nGamePlayViewportY=768\r\n"
                             "ColorBits=16\r\nRefreshRate=85\r\nIsKeepMinFrameRate=") +
                     (keepMinChecked ? "true" : "false") +
                     "\r\nStartupFullScreen=false\r\n[Game]\r\nPartyLooting=1\r\n");
        QCOMPARE(settings_[5], std::string("0"));
    }

    void loadingHappensOnce() {
        auto dialog = CreateWith("[Video]\r\nColorBits=16\r\n");
        Write(OptionIni(), "[Video]\r\nColorBits=32\r\n");
        dialog->Open();
        QCOMPARE(dialog->ComboBox2->currentIndex(), 1);
        dialog->SpeedButton2Click();
        dialog->Open();
        QCOMPARE(dialog->ComboBox2->currentIndex(), 1);
    }

    // --- Accept ---

    void acceptStoresEveryChoice() {
        const std::string before = "[Video]\r\nGamePlayViewportX=640\r\nGamePlayViewportY=480\r\n"
                                   "ColorBits=16\r\nRefreshRate=60\r\nIsKeepMinFrameRate=true\r\n"
                                   "StartupFullScreen=false\r\n[Game]\r\nPartyLooting=0\r\n";
        auto dialog = CreateWith(before);
        main_->show();
        dialog->Open();
        QVERIFY(!main_->isEnabled());
        dialog->ComboBox1->setCurrentIndex(4);
        dialog->ComboBox2->setCurrentIndex(0);
        dialog->ComboBox3->setCurrentIndex(3);
        dialog->CheckBox1->setChecked(false);
        dialog->CheckBox2->setChecked(true);
        dialog->ComboBox4->setCurrentIndex(4);
        dialog->CheckBox3->setChecked(true);
        QTest::mouseClick(dialog->SpeedButton1, Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        QVERIFY(main_->isEnabled());
        QCOMPARE(Read(OptionIni()),
                 std::string("[Video]\r\nGamePlayViewportX=1920\r\nGamePlayViewportY=1080\r\n"
                             "ColorBits=32\r\nRefreshRate=100\r\nIsKeepMinFrameRate=false\r\n"
                             "StartupFullScreen=true\r\n[Game]\r\nPartyLooting=4\r\n"));
        QCOMPARE(settings_[5], std::string("1"));
        QCOMPARE(Read(SettingsIni()), std::string("[main]\r\nCreateBackup=1\r\n"));
    }

    void acceptAddsMissingKeysAndSections() {
        auto dialog = CreateWith("");
        dialog->Open();
        dialog->ComboBox1->setCurrentIndex(0);
        dialog->ComboBox2->setCurrentIndex(1);
        dialog->ComboBox3->setCurrentIndex(1);
        QCOMPARE(Raised([&] { dialog->SpeedButton1Click(); }), std::string());
        QCOMPARE(Read(OptionIni()),
                 std::string("[Video]\r\nGamePlayViewportX=640\r\nGamePlayViewportY=480\r\n"
                             "ColorBits=16\r\nRefreshRate=75\r\nIsKeepMinFrameRate=true\r\n"
                             "StartupFullScreen=false\r\n[Game]\r\nPartyLooting=0\r\n"));
    }

    void acceptKeepsEveryOtherByte() {
        const std::string before = "; options of the game client\r\n"
                                   "[Video]\r\n"
                                   "GamePlayViewportX=800\r\n"
                                   "GamePlayViewportY=600\r\n"
                                   "Gamma = 1.2 ; brighter\r\n"
                                   "ColorBits=16\r\n"
                                   "RefreshRate=60\r\n"
                                   "IsKeepMinFrameRate=false\r\n"
                                   "StartupFullScreen=true\r\n"
                                   "\r\n"
                                   "[Sound]\r\n"
                                   "Volume=80\r\n"
                                   "PartyLooting=9\r\n"
                                   "\r\n"
                                   "[Game]\r\n"
                                   "ChatFilter=\"on\"\r\n"
                                   "PartyLooting=1\r\n"
                                   "; \xcf\xf0\xe8\xe2\xe5\xf2\r\n" // Windows-1251 text
                                   "\r\n";
        auto dialog = CreateWith(before);
        dialog->Open();
        dialog->ComboBox1->setCurrentIndex(3);
        dialog->ComboBox2->setCurrentIndex(0);
        dialog->ComboBox3->setCurrentIndex(2);
        dialog->CheckBox1->setChecked(true);
        dialog->CheckBox2->setChecked(false);
        dialog->ComboBox4->setCurrentIndex(3);
        QCOMPARE(Raised([&] { dialog->SpeedButton1Click(); }), std::string());
        const std::string after = "; options of the game client\r\n"
                                  "[Video]\r\n"
                                  "GamePlayViewportX=1280\r\n"
                                  "GamePlayViewportY=1024\r\n"
                                  "Gamma = 1.2 ; brighter\r\n"
                                  "ColorBits=32\r\n"
                                  "RefreshRate=85\r\n"
                                  "IsKeepMinFrameRate=true\r\n"
                                  "StartupFullScreen=false\r\n"
                                  "\r\n"
                                  "[Sound]\r\n"
                                  "Volume=80\r\n"
                                  "PartyLooting=9\r\n"
                                  "\r\n"
                                  "[Game]\r\n"
                                  "ChatFilter=\"on\"\r\n"
                                  "PartyLooting=3\r\n"
                                  "; \xcf\xf0\xe8\xe2\xe5\xf2\r\n"
                                  "\r\n";
        QCOMPARE(Read(OptionIni()), after);
    }

    void unselectedListsLeaveTheirKeys() {
        const std::string before = "[Video]\n"
                                   "GamePlayViewportX = 1234\n"
                                   "GamePlayViewportY=567 \n"
                                   "ColorBits = 24\n"
                                   "RefreshRate='120'\n"
                                   "IsKeepMinFrameRate=true\n"
                                   "StartupFullScreen=false\n"
                                   "[Game]\n"
                                   "PartyLooting = 7\n";
        auto dialog = CreateWith(before);
        QCOMPARE(dialog->ComboBox1->currentIndex(), -1);
        QCOMPARE(dialog->ComboBox2->currentIndex(), -1);
        QCOMPARE(dialog->ComboBox3->currentIndex(), -1);
        QCOMPARE(dialog->ComboBox4->currentIndex(), -1);
        dialog->Open();
        QCOMPARE(Raised([&] { dialog->SpeedButton1Click(); }), std::string());
        QCOMPARE(Read(OptionIni()), before);

        // Missing keys stay missing.
        const std::string sparse = "[Video]\nIsKeepMinFrameRate=true\nStartupFullScreen=false\n";
        auto other = CreateWith(sparse);
        other->ComboBox4->setCurrentIndex(-1);
        other->Open();
        QCOMPARE(Raised([&] { other->SpeedButton1Click(); }), std::string());
        QCOMPARE(Read(OptionIni()), sparse);
    }

    void acceptWithoutOptionFileWritesNothing() {
        UseSettings("1");
        auto dialog = Create();
        main_->show();
        dialog->Open();
        dialog->ComboBox1->setCurrentIndex(2);
        dialog->CheckBox3->setChecked(false);
        QCOMPARE(Raised([&] { dialog->SpeedButton1Click(); }), std::string());
        QVERIFY(!dialog->isVisible());
        QVERIFY(main_->isEnabled());
        QVERIFY(!QFile::exists(OptionIni()));
        QVERIFY(!QFileInfo::exists(Base() + "system"));
        QVERIFY(!QFile::exists(SettingsIni()));
        QCOMPARE(settings_[5], std::string("1"));
        QCOMPARE(QDir(Base()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList());
    }

    void optionFileRemovedBeforeAccept() {
        auto dialog = CreateWith("[Video]\r\nColorBits=16\r\n");
        dialog->Open();
        QVERIFY(QFile::remove(OptionIni()));
        dialog->CheckBox3->setChecked(true);
        QCOMPARE(Raised([&] { dialog->SpeedButton1Click(); }), std::string());
        QVERIFY(!QFile::exists(OptionIni()));
        QVERIFY(!QFile::exists(SettingsIni()));
        QCOMPARE(settings_[5], std::string("0"));
    }

    void optionFileInAnotherLetterCase() {
        Write(Base() + "System/Option.INI", "[Video]\r\nColorBits=16\r\n");
        auto dialog = Create();
        QCOMPARE(dialog->ComboBox2->currentIndex(), 1);
        dialog->Open();
        dialog->ComboBox2->setCurrentIndex(0);
        QCOMPARE(Raised([&] { dialog->SpeedButton1Click(); }), std::string());
        QVERIFY(!QFileInfo::exists(Base() + "system"));
        QVERIFY(Read(Base() + "System/Option.INI").find("ColorBits=32\r\n") != std::string::npos);
    }

    void readOnlyOptionFile() {
        const std::string before = "[Video]\r\nColorBits=16\r\n";
        auto dialog = CreateWith(before);
        QCOMPARE(::chmod(OptionIni().toLocal8Bit().constData(), 0444), 0);
        main_->show();
        dialog->Open();
        dialog->ComboBox2->setCurrentIndex(0);
        dialog->CheckBox3->setChecked(true);
        QCOMPARE(Raised([&] { dialog->SpeedButton1Click(); }),
                 "EInOutError: Unable to write to " + OptionIni().toStdString());
        QVERIFY(dialog->isVisible());
        QVERIFY(!main_->isEnabled());
        QCOMPARE(Read(OptionIni()), before);
        QCOMPARE(settings_[5], std::string("0"));
        QVERIFY(!QFile::exists(SettingsIni()));

        // Once the file may be written again, Accept goes through.
        QCOMPARE(::chmod(OptionIni().toLocal8Bit().constData(), 0644), 0);
        QCOMPARE(Raised([&] { dialog->SpeedButton1Click(); }), std::string());
        QVERIFY(!dialog->isVisible());
        QVERIFY(main_->isEnabled());
        QCOMPARE(Read(OptionIni()), std::string("[Video]\r\nColorBits=32\r\n"
                                                "IsKeepMinFrameRate=true\r\n"
                                                "StartupFullScreen=false\r\n"
                                                "[Game]\r\nPartyLooting=0\r\n"));
    }

    // On a full disk Accept is refused as for a read-only file: the options
    // stay as they were, no temporary file is left, and what the system said
    // is there for the log.
    void fullDisk() {
        const std::filesystem::path system = std::filesystem::path(Base().toStdString()) / "system";
        testing_support::SmallDisk disk(system, "256k");
        if (!disk.Mounted())
            QSKIP("a small disk is mounted only when the tests run as root");
        const std::string before = "[Video]\r\nColorBits=16\r\n";
        auto dialog = CreateWith(before);
        disk.Fill();
        main_->show();
        dialog->Open();
        dialog->ComboBox2->setCurrentIndex(0);
        try {
            dialog->SpeedButton1Click();
            QFAIL("accepted on a full disk");
        } catch (const EInOutError& error) {
            QCOMPARE(std::string(error.what()), "Unable to write to " + OptionIni().toStdString());
            QVERIFY2(ErrorForLog(error).find("No space left on device") != std::string::npos,
                     ErrorForLog(error).c_str());
        }
        QCOMPARE(Read(OptionIni()), before);
        for (const auto& entry : std::filesystem::directory_iterator(system))
            QVERIFY2(entry.path().filename() == "option.ini" || entry.path().filename() == "filler",
                     entry.path().c_str());
        dialog->close();
    }

    void readOnlySettingsFileAfterTheGameOptions() {
        const std::string settingsBefore = "[main]\r\nCreateBackup=0\r\n";
        Write(SettingsIni(), settingsBefore);
        QCOMPARE(::chmod(SettingsIni().toLocal8Bit().constData(), 0444), 0);
        auto dialog = CreateWith("[Video]\r\nColorBits=16\r\n");
        dialog->Open();
        dialog->ComboBox2->setCurrentIndex(0);
        dialog->CheckBox3->setChecked(true);
        QCOMPARE(Raised([&] { dialog->SpeedButton1Click(); }),
                 "EInOutError: Unable to write to " + SettingsIni().toStdString());
        // The game's options were written before.
        QVERIFY(Read(OptionIni()).find("ColorBits=32\r\n") != std::string::npos);
        QCOMPARE(settings_[5], std::string("1"));
        QCOMPARE(Read(SettingsIni()), settingsBefore);
        QVERIFY(dialog->isVisible());
        QVERIFY(!main_->isEnabled());
        QFile(SettingsIni()).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }

    void settingsListWithoutBackupEntry() {
        Write(OptionIni(), "[Video]\r\nColorBits=16\r\n");
        settings_ = {Base().toStdString()};
        auto dialog = Create();
        QVERIFY(!dialog->CheckBox3->isChecked());
        dialog->Open();
        dialog->CheckBox3->setChecked(true);
        QCOMPARE(Raised([&] { dialog->SpeedButton1Click(); }), std::string());
        QCOMPARE(settings_.size(), std::size_t{1});
        QVERIFY(!QFile::exists(SettingsIni()));
        QVERIFY(Read(OptionIni()).find("ColorBits=16\r\n") != std::string::npos);
        QVERIFY(!dialog->isVisible());
        QVERIFY(main_->isEnabled());
    }

    // --- Cancel and closing ---

    void cancelWritesNothingAndKeepsTheEdits() {
        const std::string before = "[Video]\r\nGamePlayViewportX=800\r\nGamePlayViewportY=600\r\n"
                                   "StartupFullScreen=false\r\n";
        auto dialog = CreateWith(before);
        main_->show();
        dialog->Open();
        dialog->ComboBox1->setCurrentIndex(4);
        dialog->CheckBox2->setChecked(true);
        dialog->CheckBox3->setChecked(true);
        QTest::mouseClick(dialog->SpeedButton2, Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        QVERIFY(main_->isEnabled());
        QCOMPARE(Read(OptionIni()), before);
        QVERIFY(!QFile::exists(SettingsIni()));
        QCOMPARE(settings_[5], std::string("0"));

        dialog->Open();
        QCOMPARE(dialog->ComboBox1->currentIndex(), 4);
        QVERIFY(dialog->CheckBox2->isChecked());
        QVERIFY(dialog->CheckBox3->isChecked());
        QCOMPARE(Raised([&] { dialog->SpeedButton1Click(); }), std::string());
        const std::string text = Read(OptionIni());
        QVERIFY(text.find("GamePlayViewportX=1920\r\n") != std::string::npos);
        QVERIFY(text.find("StartupFullScreen=true\r\n") != std::string::npos);
        QCOMPARE(settings_[5], std::string("1"));
    }

    void closingActsAsCancel() {
        const std::string before = "[Video]\r\nColorBits=16\r\n";
        auto dialog = CreateWith(before);
        main_->show();
        dialog->Open();
        dialog->ComboBox2->setCurrentIndex(0);
        QVERIFY(dialog->close());
        QVERIFY(!dialog->isVisible());
        QVERIFY(main_->isEnabled());
        QCOMPARE(Read(OptionIni()), before);
        QVERIFY(!QFile::exists(SettingsIni()));
        dialog->Open();
        QCOMPARE(dialog->ComboBox2->currentIndex(), 0);
        QVERIFY(!main_->isEnabled());
    }

    // --- the window ---

    void openDisablesTheMainWindowOnly() {
        auto dialog = CreateWith("");
        main_->show();
        dialog->Open();
        QVERIFY(dialog->isVisible());
        QVERIFY(!dialog->isModal());
        QVERIFY(!main_->isEnabled());
        QVERIFY(dialog->isEnabled());
        for (QWidget* control : std::initializer_list<QWidget*>{
                 dialog->ComboBox1, dialog->ComboBox4, dialog->CheckBox3, dialog->SpeedButton1,
                 dialog->SpeedButton2})
            QVERIFY(control->isEnabled());
        dialog->SpeedButton2Click();
        QVERIFY(main_->isEnabled());
        QVERIFY(!dialog->isVisible());
    }

    void firstOpeningCentresLaterOnesKeepThePlace() {
        auto dialog = CreateWith("");
        main_->show();
        main_->move(100, 120);
        QTRY_COMPARE(main_->frameGeometry().topLeft(), QPoint(100, 120));
        const QRect main = main_->frameGeometry();
        dialog->Open();
        const QPoint centred(main.left() + (main.width() - 220) / 2,
                             main.top() + (main.height() - 300) / 2);
        QCOMPARE(dialog->pos(), centred);
        dialog->SpeedButton2Click();
        main_->move(300, 200);
        dialog->Open();
        QCOMPARE(dialog->pos(), centred);

        // Dragged by its surface: a press on a label reaches the window.
        const QPoint grip = dialog->Label5->geometry().center();
        QTest::mousePress(dialog->Label5, Qt::LeftButton, Qt::NoModifier,
                          dialog->Label5->mapFrom(dialog.get(), grip));
        QMouseEvent move(QEvent::MouseMove, QPointF(grip + QPoint(30, -10)),
                         dialog->mapToGlobal(QPointF(grip + QPoint(30, -10))), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(dialog.get(), &move);
        QTest::mouseRelease(dialog.get(), Qt::LeftButton, Qt::NoModifier, grip + QPoint(30, -10));
        const QPoint dragged = centred + QPoint(30, -10);
        QCOMPARE(dialog->pos(), dragged);
        dialog->SpeedButton1Click();
        dialog->Open();
        QCOMPARE(dialog->pos(), dragged);
    }

    void windowAndControls() {
        auto dialog = CreateWith("");
        QVERIFY(dialog->isWindow());
        QVERIFY(dialog->windowFlags().testFlag(Qt::FramelessWindowHint));
        QCOMPARE(dialog->size(), QSize(220, 300));
        QCOMPARE(dialog->minimumSize(), QSize(220, 300));
        QCOMPARE(dialog->maximumSize(), QSize(220, 300));
        // The skin comes from the program's artwork and cuts the window's outline.
        QVERIFY(!dialog->Image1.isNull());
        QVERIFY(!dialog->mask().isEmpty());
        QVERIFY(dialog->mask().boundingRect().width() <= 220);

        struct Expected {
            QWidget* control;
            QRect geometry;
            QString text;
            bool bold;
        };
        const std::vector<Expected> expected{
            {dialog->Label6, {39, 42, 143, 13}, QStringLiteral("Настройки обновления "), true},
            {dialog->CheckBox3,
             {30, 58, 160, 17},
             QStringLiteral("Создание резервной копии"),
             false},
            {dialog->Label5, {49, 88, 123, 13}, QStringLiteral("Игровые настройки "), true},
            {dialog->Label1, {20, 111, 69, 13}, QStringLiteral("Разрешение :"), false},
            {dialog->ComboBox1, {100, 108, 100, 21}, {}, false},
            {dialog->Label2, {20, 135, 79, 13}, QStringLiteral("Глубина цвета :"), false},
            {dialog->ComboBox2, {100, 132, 100, 21}, {}, false},
            {dialog->Label3, {20, 159, 48, 13}, QStringLiteral("Частота :"), false},
            {dialog->ComboBox3, {100, 156, 100, 21}, {}, false},
            {dialog->CheckBox1, {35, 182, 150, 17}, QStringLiteral("Минимальные настройки"), false},
            {dialog->CheckBox2, {62, 200, 97, 17}, QStringLiteral("Полный экран"), false},
            {dialog->Label4, {32, 224, 24, 13}, QStringLiteral("Лут :"), false},
            {dialog->ComboBox4, {66, 221, 127, 21}, {}, false},
            {dialog->SpeedButton1, {48, 256, 59, 25}, QStringLiteral("Принять"), false},
            {dialog->SpeedButton2, {114, 256, 59, 25}, QStringLiteral("Отмена"), false},
        };
        for (const Expected& item : expected) {
            QCOMPARE(item.control->parentWidget(), dialog.get());
            QCOMPARE(item.control->geometry(), item.geometry);
            QCOMPARE(item.control->font().family(), SansFont(11).family());
            QCOMPARE(item.control->font().pixelSize(), 11);
            QCOMPARE(item.control->font().bold(), item.bold);
            if (auto* label = qobject_cast<QLabel*>(item.control))
                QCOMPARE(label->text(), item.text);
            if (auto* button = qobject_cast<QAbstractButton*>(item.control))
                QCOMPARE(button->text(), item.text);
        }

        const auto items = [](QComboBox* list) {
            QStringList texts;
            for (int i = 0; i < list->count(); ++i)
                texts << list->itemText(i);
            return texts;
        };
        QCOMPARE(items(dialog->ComboBox1),
                 QStringList({"640x480", "800x600", "1024x768", "1280x1024", "1920x1080"}));
        QCOMPARE(items(dialog->ComboBox2),
                 QStringList({QStringLiteral("32 Бит"), QStringLiteral("16 Бит")}));
        QCOMPARE(items(dialog->ComboBox3),
                 QStringList({QStringLiteral("60 Гц"), QStringLiteral("75 Гц"),
                              QStringLiteral("85 Гц"), QStringLiteral("100 Гц")}));
        QCOMPARE(items(dialog->ComboBox4),
                 QStringList({QStringLiteral("Нашедшему"), QStringLiteral("Случайно"),
                              QStringLiteral("Случайно (вкл. споил)"), QStringLiteral("По очереди"),
                              QStringLiteral("По очереди (вкл. споил)")}));
        for (QComboBox* list :
             {dialog->ComboBox1, dialog->ComboBox2, dialog->ComboBox3, dialog->ComboBox4})
            QVERIFY(!list->isEditable());

        for (QPushButton* button : {dialog->SpeedButton1, dialog->SpeedButton2}) {
            QCOMPARE(button->focusPolicy(), Qt::NoFocus);
            QVERIFY(!button->isDefault());
            QVERIFY(!button->autoDefault());
        }

        // Tab order: the three lists, the two switches, the loot list, the backup switch.
        const std::vector<QWidget*> order{dialog->ComboBox1, dialog->ComboBox2, dialog->ComboBox3,
                                          dialog->CheckBox1, dialog->CheckBox2, dialog->ComboBox4,
                                          dialog->CheckBox3};
        const auto nextTabStop = [](QWidget* widget) {
            do
                widget = widget->nextInFocusChain();
            while ((widget->focusPolicy() & Qt::TabFocus) == 0);
            return widget;
        };
        for (std::size_t i = 0; i + 1 < order.size(); ++i)
            QCOMPARE(nextTabStop(order[i]), order[i + 1]);
        QCOMPARE(nextTabStop(order.back()), order.front());
    }

    void keysDoNotCloseTheDialog() {
        auto dialog = CreateWith("[Video]\r\nColorBits=16\r\n");
        main_->show();
        dialog->Open();
        QTest::keyClick(dialog.get(), Qt::Key_Escape);
        QTest::keyClick(dialog.get(), Qt::Key_Return);
        QVERIFY(dialog->isVisible());
        QVERIFY(!main_->isEnabled());
        QCOMPARE(Read(OptionIni()), std::string("[Video]\r\nColorBits=16\r\n"));
    }
};

QTEST_MAIN(OptionsTest)
#include "OptionsTest.moc"
