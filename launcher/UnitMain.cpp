#include "UnitMain.h"

#include "Application.h"
#include "Clock.h"
#include "Desktop.h"
#include "Dispatcher.h"
#include "Errors.h"
#include "Files.h"
#include "Fonts.h"
#include "Frm2.h"
#include "Gauge.h"
#include "ImgBtn.h"
#include "InstallLock.h"
#include "Misc.h"
#include "NewsPage.h"
#include "Process.h"
#include "Profile.h"
#include "RevisionFloor.h"
#include "Signature.h"
#include "Text.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTimer>
#include <QWebEngineView>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {

// The keys of section "main" with their defaults, in the order of the entries.
struct Key {
    const char* name;
    const char* fallback;
};
const Key kKeys[] = {
    {"NewsUrl", ""},
    {"UpdatesUrl", ""},
    {"LinkName", "Quenmor"},
    {"Installed", "0"},
    {"CreateBackup", "0"},
    {"AtRevision", "0"},
    {"RunCustom", "system\\zentyr.exe"},
    {"UpdateKey", ""},
};

// The icon file for the shortcut, written from the program's own picture.
std::string ShortcutIcon() {
    const std::string folder = platform::IconsFolder() + "/hicolor/256x256/apps";
    const std::string path = folder + "/quenmor-launcher.png";
    const QImage icon(QStringLiteral(":/icon.png"));
    if (icon.isNull() || !QDir().mkpath(QString::fromStdString(folder)))
        return {};
    if (!QFile::exists(QString::fromStdString(path)))
        icon.save(QString::fromStdString(path), "PNG");
    return path;
}

// Colours as the layout stores them: 0x00BBGGRR.
QColor LayoutColour(unsigned value) {
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

QLabel* MakeLabel(QWidget* parent, const QString& text, QRect geometry, const QColor& colour,
                  const QFont& font) {
    auto* label = new QLabel(text, parent);
    // Texts come from the update server too: never read as markup.
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setAttribute(Qt::WA_TransparentForMouseEvents); // drags the window
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    label->setGeometry(geometry);
    return label;
}

// A label that takes the size of its text, from its top left corner.
void SetAutoSizeText(QLabel* label, const QString& text) {
    label->setText(text);
    label->adjustSize();
}

TImgBtn* MakeButton(QWidget* parent, const QString& name, const QString& kind, QRect geometry) {
    auto* button = new TImgBtn(parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    button->SetPic(QPixmap(QStringLiteral(":/") + kind));
    const QString stem = kind.section(QLatin1Char('.'), 0, 0);
    const QString type = kind.section(QLatin1Char('.'), 1);
    button->SetPicUp(QPixmap(QStringLiteral(":/%1_up.%2").arg(stem, type)));
    button->SetPicDown(QPixmap(QStringLiteral(":/%1_down.%2").arg(stem, type)));
    return button;
}

QFrame* MakePanel(QWidget* parent, QRect geometry) {
    auto* panel = new QFrame(parent);
    panel->setFrameShape(QFrame::NoFrame);
    panel->setGeometry(geometry);
    panel->hide();
    return panel;
}

// With QUENMOR_TRACE set, the window reports its first paint and every
// notification of a run on standard error, one line each, stamped with the
// wall clock in microseconds: "quenmor-trace <us> <event> [<value>]". The
// end-to-end tests and the benchmarks read it. Lines of the run's status and
// gauges are written in batches, at most 50 ms late, so that tracing does
// not slow the run it reports; the others at once.
bool Tracing() {
    static const bool on = qEnvironmentVariableIsSet("QUENMOR_TRACE");
    return on;
}

void Trace(const char* event, const std::string& value = {}) {
    if (!Tracing())
        return;
    static std::string pending;
    static auto written = std::chrono::steady_clock::now();
    const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    pending += "quenmor-trace " + std::to_string(now) + " " + event;
    if (!value.empty())
        pending += " " + value;
    pending += "\n";
    const bool frequent = std::strncmp(event, "gauge", 5) == 0 || std::strcmp(event, "status") == 0;
    const auto steady = std::chrono::steady_clock::now();
    if (frequent && steady - written < std::chrono::milliseconds(50) && pending.size() < 65536)
        return;
    std::fwrite(pending.data(), 1, pending.size(), stderr);
    std::fflush(stderr);
    pending.clear();
    written = steady;
}

void ShowMessageBox(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), text,
                    QMessageBox::Ok);
    box.exec();
}

} // namespace

void CreateDesktopShortcut(const std::string& LinkName, const std::string& WorkingFolder,
                           const std::string& Description) {
    if (LinkName.empty())
        return;
    platform::CreateDesktopShortcut(
        {LinkName, Description, platform::ExecutablePath(), WorkingFolder, ShortcutIcon()});
}

TFMain::TFMain(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint) {
    setObjectName(QStringLiteral("FMain"));
    setWindowTitle(QStringLiteral("FormMain"));
    setFixedSize(800, 599);
    setFont(SansFont(11));
    Image1 = QImage(QStringLiteral(":/main_skin.bmp"));
    ShowMessage = &ShowMessageBox;
    Now = [] { return QDateTime::currentDateTime(); };
    HostsFolder = platform::DefaultHostsFolder();
    dispatcher_ = std::make_unique<TWindowDispatcher>(this);
    CreateControls();
}

TFMain::~TFMain() {
    pending_.reset();
    if (run_ && !run_->Finished()) {
        // Still going after the window closed: it ends on its next
        // notification, which the closed dispatcher refuses. Waiting here
        // could take as long as a stalled transfer, so it is left to end on
        // its own (the program is ending).
        dispatcher_->Close();
        run_->Abort();
        (void)run_.release();
    }
    run_.reset();
}

void TFMain::CreateControls() {
    const QColor black(0, 0, 0);
    Gauge1 = new TGauge(this);
    Gauge1->setGeometry(127, 531, 430, 5);
    Gauge1->SetBackColor(black);
    Gauge1->SetForeColor(LayoutColour(9853758));
    Gauge2 = new TGauge(this);
    Gauge2->setGeometry(127, 546, 430, 5);
    Gauge2->SetBackColor(black);
    Gauge2->SetForeColor(LayoutColour(4800910));

    const QColor caption = LayoutColour(11771269);
    Label1 = MakeLabel(this, QStringLiteral("Загрузка  файла"), {35, 525, 85, 13}, caption, font());
    Label1->adjustSize();
    Label2 = MakeLabel(this, QStringLiteral("Общий прогресс"), {35, 540, 85, 13}, caption, font());
    Label2->adjustSize();
    Label3 = MakeLabel(this, QStringLiteral("... Загрузка ..."), {128, 512, 429, 13},
                       LayoutColour(9404254), font());
    Label3->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    ImgBtn1 =
        MakeButton(this, QStringLiteral("ImgBtn1"), QStringLiteral("play.bmp"), {686, 485, 96, 99});
    ImgBtn2 = MakeButton(this, QStringLiteral("ImgBtn2"), QStringLiteral("check.bmp"),
                         {575, 506, 101, 27});
    ImgBtn3 = MakeButton(this, QStringLiteral("ImgBtn3"), QStringLiteral("cancel.bmp"),
                         {575, 535, 101, 27});
    ImgBtn4 =
        MakeButton(this, QStringLiteral("ImgBtn4"), QStringLiteral("close.png"), {768, 17, 16, 16});

    Label4 = MakeLabel(this, NoticeText(QDate::currentDate()), {329, 574, 142, 15},
                       QColor(128, 128, 128), NarrowFont(11));
    ImgBtn5 = MakeButton(this, QStringLiteral("ImgBtn5"), QStringLiteral("options.png"),
                         {685, 17, 63, 20});
    ImgBtn6 = MakeButton(this, QStringLiteral("ImgBtn6"), QStringLiteral("minimize.png"),
                         {752, 17, 16, 16});

    Panel1 = MakePanel(this, {7, 97, 786, 380});
    // WebBrowser1 is made once the window has been painted (CreateBrowser):
    // starting the browser's engine takes longer than everything else the
    // window does before it appears.

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);

    Panel2 = MakePanel(this, {7, 37, 786, 60});
    Image2 = new QLabel(Panel2);
    Image2->setPixmap(QPixmap(QStringLiteral(":/strip.bmp")));
    Image2->setGeometry(0, 0, 786, 440);
    Image2->setAttribute(Qt::WA_TransparentForMouseEvents);
    Image3 = new QLabel(Panel2);
    Image3->setPixmap(QPixmap(QStringLiteral(":/strip_plate.png")));
    Image3->setGeometry(13, 5, 760, 50);
    Image3->setAttribute(Qt::WA_TransparentForMouseEvents);
    ImgBtn7 =
        MakeButton(Panel2, QStringLiteral("ImgBtn7"), QStringLiteral("site.png"), {30, 21, 91, 18});
    // The face has nothing smaller than its 8-point size: the tiny height of
    // the layout shows at that size.
    const QColor clock = LayoutColour(116222);
    Label6 =
        MakeLabel(Panel2, QStringLiteral("Label6"), {650, 32, 39, 13}, clock, SansFont(11, true));
    Label6->adjustSize();
    Label5 =
        MakeLabel(Panel2, QStringLiteral("Label5"), {650, 15, 39, 13}, clock, SansFont(11, true));
    Label5->adjustSize();

    Timer2 = new QTimer(this);
    Timer2->setInterval(1000);

    // What a handler raises is shown here, before it could unwind through
    // the toolkit's event delivery.
    const auto guarded = [this](void (TFMain::*handler)()) {
        return [this, handler] { Guarded([this, handler] { (this->*handler)(); }); };
    };
    connect(ImgBtn1, &TImgBtn::clicked, this, guarded(&TFMain::ImgBtn1Click));
    connect(ImgBtn2, &TImgBtn::clicked, this, guarded(&TFMain::ImgBtn2Click));
    connect(ImgBtn3, &TImgBtn::clicked, this, guarded(&TFMain::ImgBtn3Click));
    connect(ImgBtn4, &TImgBtn::clicked, this, guarded(&TFMain::ImgBtn4Click));
    connect(ImgBtn5, &TImgBtn::clicked, this, guarded(&TFMain::ImgBtn5Click));
    connect(ImgBtn6, &TImgBtn::clicked, this, guarded(&TFMain::ImgBtn6Click));
    connect(ImgBtn7, &TImgBtn::clicked, this, guarded(&TFMain::ImgBtn7Click));
    connect(Timer1, &QTimer::timeout, this, guarded(&TFMain::Timer1Timer));
    connect(Timer2, &QTimer::timeout, this, guarded(&TFMain::Timer2Timer));

    frame_ = new QTimer(this);
    frame_->setSingleShot(true);
    frame_->setInterval(FrameInterval);
    connect(frame_, &QTimer::timeout, this, &TFMain::EndFrame);

    poll_ = new QTimer(this);
    poll_->setInterval(50);
    connect(poll_, &QTimer::timeout, this, &TFMain::PollRun);

    Timer1->start();
    Timer2->start();
}

std::string TFMain::SettingsFile() const {
    return baseFolder_ + kSettingsFileName;
}

bool TFMain::LoadSettings() {
    LauncherSettings.clear();
    baseFolder_ = platform::CurrentFolder();
    LauncherSettings.push_back(baseFolder_);
    std::error_code error;
    if (!std::filesystem::is_regular_file(SettingsFile(), error))
        return false;
    for (const Key& key : kKeys)
        LauncherSettings.push_back(platform::SettingsTextToUtf8(
            platform::GetProfileString(SettingsFile(), "main", key.name, key.fallback)));
    return true;
}

void TFMain::FormCreate() {
    const bool found = LoadSettings();
    if (found && LauncherSettings[Installed] == "0") {
        // The flag goes first, so the shortcut is tried once per installation.
        platform::WriteProfileString(SettingsFile(), "main", "Installed", "1");
        CreateDesktopShortcut(LauncherSettings[LinkName], LauncherSettings[BaseFolder], "Quenmor");
    }
    if (!found) {
        Terminating = true;
        Timer1->stop(); // no news and no run
        ShowMessage(QString::fromUtf8(kMissingSettings));
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }
    ApplySkin(*this, Image1);
}

void TFMain::UpdateRevision(const std::string& Revision) {
    platform::WriteProfileString(SettingsFile(), "main", "AtRevision", Revision);
    try {
        recordedRevision_ = std::max(recordedRevision_, StrToInt(Revision));
    } catch (const EConvertError&) {
        // Not a revision a run stores; nothing to remember.
    }
}

void TFMain::FormClose() {
    LauncherSettings.clear();
}

// ---------------------------------------------------------------------------
// Timers and the news.

void TFMain::Timer1Timer() {
    Timer1->stop();
    if (LauncherSettings.size() <= RunCustom)
        return;
    // An address without a scheme is a web address ("www...") or a file of
    // the installation; an empty one shows an empty page.
    const QString address = QString::fromStdString(LauncherSettings[NewsUrl]);
    CreateBrowser();
    WebBrowser1->load(address.isEmpty()
                          ? QUrl(QStringLiteral("about:blank"))
                          : QUrl::fromUserInput(address, QString::fromStdString(baseFolder_)));
    StartRun(false);
}

void TFMain::CreateBrowser() {
    if (WebBrowser1 != nullptr)
        return;
    WebBrowser1 = new QWebEngineView(Panel1);
    WebBrowser1->setPage(new TNewsPage(WebBrowser1));
    WebBrowser1->setGeometry(-2, -2, 790, 384);
    WebBrowser1->setFocusPolicy(Qt::NoFocus);
    WebBrowser1->show(); // with its panel
    // Success or not: the page is whatever the browser shows now.
    connect(WebBrowser1, &QWebEngineView::loadFinished, this,
            [this] { Guarded([this] { WebBrowser1NavigateComplete2(); }); });
}

void TFMain::WebBrowser1NavigateComplete2() {
    Trace("news");
    Panel1->show();
    Panel2->show();
}

void TFMain::Timer2Timer() {
    const QDateTime now = Now();
    const QLocale locale = QLocale::system();
    SetAutoSizeText(Label5, DateText(now, locale));
    SetAutoSizeText(Label6, TimeText(now, locale));
    Label4->setText(NoticeText(now.date()));
}

// ---------------------------------------------------------------------------
// Update runs.

bool TFMain::RunActive() const {
    return pending_ || (run_ && !run_->Finished());
}

void TFMain::StartRun(bool fullCheck) {
    // One run at a time: a check clicked before the automatic run began
    // makes the automatic one unnecessary, and the buttons of a run are
    // hidden as soon as its first notification arrives.
    if (closing_ || RunActive() || LauncherSettings.size() <= UpdateKey)
        return;
    // A malformed key reaches the error box, and no run starts.
    std::vector<signing::PublicKey> keys = signing::TrustedKeys(LauncherSettings[UpdateKey]);
    // The floor as another launcher or quenmor-update may have raised it.
    const std::int32_t trustedRevision = ReadTrustedRevision(SettingsFile());
    Label3->setText(QString());
    auto run = std::make_unique<GFilesThread>(*this, dispatcher_->Dispatcher());
    run->UpdateUrl = LauncherSettings[UpdatesUrl];
    run->FullCheck = fullCheck;
    run->CreateBackup = StrToInt(LauncherSettings[CreateBackup]);
    run->AtRevision = StrToInt(LauncherSettings[AtRevision]);
    run->RecordedRevision = recordedRevision_;
    run->TrustedRevision = trustedRevision;
    run->TrustedKeys = std::move(keys);
    run->HostsFolder = HostsFolder;
    run->LauncherFile = platform::ExecutablePath();
    run->LauncherProcessId = platform::ProcessId();
    run->CoalesceProgress = true;
    run->BatchNotifications = true;
    pending_ = std::move(run);
    TryStartPending();
}

void TFMain::TryStartPending() {
    if (!pending_)
        return;
    if (!lock_) {
        try {
            lock_ = platform::InstallLock::TryAcquire(baseFolder_);
        } catch (...) {
            pending_.reset();
            throw;
        }
    }
    if (!lock_) {
        // Another launcher works on this installation: wait for it, with the
        // game and the check out of reach meanwhile.
        if (Label3->text() != QString::fromUtf8(kInstallationBusy)) {
            LockCommands();
            Label3->setText(QString::fromUtf8(kInstallationBusy));
        }
        poll_->start();
        return;
    }
    if (run_) {
        run_->WaitFor(); // an earlier run that has ended
        run_.reset();
    }
    run_ = std::move(pending_);
    runStatus_.clear();
    LauncherLog().RunStarted(run_->SettingsText());
    run_->Start();
    poll_->start();
}

void TFMain::PollRun() {
    if (pending_) {
        Guarded([this] { TryStartPending(); });
        return;
    }
    if (run_ && run_->Finished()) {
        run_->WaitFor();
        run_.reset();
    }
    if (!run_) {
        lock_.reset();
        poll_->stop();
    }
}

bool TFMain::WaitForRun(std::chrono::milliseconds limit) {
    if (run_->WaitFor(std::chrono::milliseconds(0)))
        return true;
    // The run's notifications keep arriving while it finishes (a revision
    // it reaches is still recorded); the player's input does not.
    QEventLoop loop;
    QTimer check;
    check.setInterval(10);
    connect(&check, &QTimer::timeout, &loop, [&] {
        if (run_->Finished())
            loop.quit();
    });
    QTimer::singleShot(limit, &loop, &QEventLoop::quit);
    check.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return run_->Finished();
}

void TFMain::StopRun() {
    pending_.reset();
    poll_->stop();
    if (run_) {
        run_->Terminate();
        if (!WaitForRun(CloseWait)) {
            run_->Abort();
            WaitForRun(AbortWait);
        }
        if (run_->Finished()) {
            run_->WaitFor();
            run_.reset();
        } else {
            dispatcher_->Close();
            abandoned_ = true;
        }
    }
    if (!run_)
        lock_.reset();
}

void TFMain::BeginFrame() {
    if (frame_->isActive())
        return;
    SetRunControlUpdates(false);
    frame_->start();
}

void TFMain::EndFrame() {
    SetRunControlUpdates(true); // repaints what changed in the frame
}

void TFMain::SetRunControlUpdates(bool enabled) {
    for (QWidget* control : std::initializer_list<QWidget*>{Label3, Gauge1, Gauge2})
        control->setUpdatesEnabled(enabled);
}

void TFMain::LockCommands() {
    Trace("lock");
    ImgBtn1->hide();
    ImgBtn2->hide();
    ImgBtn5->setEnabled(false);
}

void TFMain::ShowStatus(const std::string& text) {
    Trace("status", text);
    runStatus_ = text;
    BeginFrame();
    Label3->setText(QString::fromStdString(text));
}

void TFMain::ShowRetry(const std::string& note) {
    Trace("retry", note);
    LauncherLog().Retry(note);
}

void TFMain::ShowCause(const std::string& cause) {
    Trace("failure", cause);
    LauncherLog().Failure(cause);
}

void TFMain::ShowNote(const std::string& note) {
    Trace("note", note);
    LauncherLog().Note(note);
}

void TFMain::StoreTrustedRevision(const std::string& revision) {
    Trace("trusted-revision", revision);
    RaiseTrustedRevision(SettingsFile(), StrToInt(revision));
}

void TFMain::SetFileGaugeMax(std::int32_t value) {
    Trace("gauge1-max", std::to_string(value));
    BeginFrame();
    Gauge1->SetMaxValue(value);
}

void TFMain::SetTotalGaugeMax(std::int32_t value) {
    Trace("gauge2-max", std::to_string(value));
    BeginFrame();
    Gauge2->SetMaxValue(value);
}

void TFMain::SetFileProgress(std::int32_t value) {
    Trace("gauge1", std::to_string(value));
    BeginFrame();
    Gauge1->SetProgress(value);
}

void TFMain::SetTotalProgress(std::int32_t value) {
    Trace("gauge2", std::to_string(value));
    BeginFrame();
    Gauge2->SetProgress(value);
}

void TFMain::StoreRevision(const std::string& revision) {
    Trace("revision", revision);
    UpdateRevision(revision);
}

void TFMain::UnlockCommands() {
    Trace("unlock");
    LauncherLog().RunEnded(runStatus_);
    ImgBtn1->show();
    ImgBtn2->show();
    ImgBtn5->setEnabled(true);
}

// ---------------------------------------------------------------------------
// Commands.

void TFMain::StartRenameBatch() const {
    const std::string batch = platform::ResolveCaseInsensitive(baseFolder_, "Rename.bat");
    std::error_code error;
    if (!std::filesystem::is_regular_file(batch, error))
        return;
    try {
        platform::StartProgram(batch, {}, baseFolder_);
    } catch (const std::exception&) {
        // Optional, and nothing the player needs to hear about.
    }
}

void TFMain::ImgBtn1Click() {
    if (LauncherSettings.size() <= RunCustom)
        return;
    StartRenameBatch();
    RunInOwnFolder(LauncherSettings[BaseFolder] +
                   platform::CommandLineToLocal(LauncherSettings[RunCustom]));
    close();
}

void TFMain::ImgBtn2Click() {
    StartRun(true);
}

void TFMain::ImgBtn3Click() {
    close();
    StartRenameBatch();
}

void TFMain::ImgBtn4Click() {
    ImgBtn3Click(); // the same command
}

void TFMain::ImgBtn5Click() {
    if (Form1 == nullptr)
        return;
    Form1->Open(); // disables this window until it closes
}

void TFMain::ImgBtn6Click() {
    showMinimized();
}

void TFMain::ImgBtn7Click() {
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(kProjectSite)));
}

// ---------------------------------------------------------------------------
// Window events.

void TFMain::closeEvent(QCloseEvent* event) {
    if (!closing_) {
        closing_ = true;
        Timer1->stop();
        FormClose();
        hide();
        StopRun();
        Trace("closed");
    }
    event->accept();
}

void TFMain::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (!painted_) {
        painted_ = true;
        const QPoint origin = mapToGlobal(QPoint(0, 0));
        Trace("paint", std::to_string(origin.x()) + "," + std::to_string(origin.y()));
        QTimer::singleShot(0, this, [this] { CreateBrowser(); });
    }
}

void TFMain::mousePressEvent(QMouseEvent* event) {
    drag_.MouseDown(event->position().toPoint().x(), event->position().toPoint().y());
}

void TFMain::mouseMoveEvent(QMouseEvent* event) {
    drag_.MouseMove(*this, event->position().toPoint().x(), event->position().toPoint().y());
}

void TFMain::mouseReleaseEvent(QMouseEvent*) {
    drag_.MouseUp();
}
