#include "UnitMain.h"

#include "Application.h"
#include "Clock.h"
#include "Commands.h"
#include "Desktop.h"
#include "Dispatcher.h"
#include "Errors.h"
#include "Files.h"
#include "Fonts.h"
#include "Frm2.h"
#include "Gauge.h"
#include "ImgBtn.h"
#include "LauncherLog.h"
#include "NewsPage.h"
#include "Process.h"
#include "Trace.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFrame>
#include <QHelpEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTimer>
#include <QToolTip>
#include <QWebEngineLoadingInfo>
#include <QWebEngineView>

namespace {

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

void ShowMessageBox(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), text,
                    QMessageBox::Ok);
    box.exec();
}

} // namespace

TFMain::TFMain(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint) {
    setObjectName(QStringLiteral("FMain"));
    setWindowTitle(QStringLiteral("FormMain"));
    setFixedSize(800, 599);
    setFont(SansFont(11));
    // The status line's hover text tells why a run failed, also while
    // another program has the focus (the player's browser, say).
    setAttribute(Qt::WA_AlwaysShowToolTips);
    Image1 = QImage(QStringLiteral(":/main_skin.bmp"));
    ShowMessage = &ShowMessageBox;
    Now = [] { return QDateTime::currentDateTime(); };
    HostsFolder = platform::DefaultHostsFolder();
    dispatcher_ = std::make_unique<TWindowDispatcher>(this);
    runs_ = std::make_unique<TLauncherRuns>(*this, static_cast<TRunWindow&>(*this));
    runs_->LauncherFile = platform::ExecutablePath();
    runs_->LauncherProcessId = platform::ProcessId();
    CreateControls();
}

TFMain::~TFMain() {
    runs_.reset(); // abandons a run that still goes, before its dispatcher is gone
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
    // Where the news cannot be shown: a quiet panel in the colours of the
    // skin it covers, rather than the browser's white.
    const QImage skin = Image1.convertToFormat(QImage::Format_RGB32);
    const TPlaceholderColours colours = PlaceholderColours(
        reinterpret_cast<const std::uint32_t*>(skin.constBits()), skin.width(), skin.height(),
        static_cast<int>(skin.bytesPerLine() / 4), 7, 97, 7 + 786, 97 + 380);
    Label7 = new QLabel(QString::fromUtf8(kNewsUnavailable), Panel1);
    Label7->setTextFormat(Qt::PlainText);
    Label7->setGeometry(0, 0, 786, 380);
    Label7->setAlignment(Qt::AlignCenter);
    Label7->setAttribute(Qt::WA_TransparentForMouseEvents); // drags the window
    QPalette placeholder = Label7->palette();
    placeholder.setColor(QPalette::Window, QColor(colours.Back));
    placeholder.setColor(QPalette::WindowText, QColor(colours.Text));
    Label7->setPalette(placeholder);
    Label7->setAutoFillBackground(true);
    Label7->hide();
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

    newsWait_ = new QTimer(this);
    newsWait_->setSingleShot(true);
    connect(newsWait_, &QTimer::timeout, this,
            [this] { Guarded([this] { ShowNews(news_.AnswerWaitPassed()); }); });

    poll_ = new QTimer(this);
    poll_->setInterval(50);
    connect(poll_, &QTimer::timeout, this, [this] { Guarded([this] { runs_->Poll(); }); });

    Timer1->start();
    Timer2->start();
}

bool TFMain::LoadSettings() {
    runs_->BaseFolder = platform::CurrentFolder();
    return ::LoadSettings(runs_->BaseFolder, LauncherSettings);
}

void TFMain::FormCreate() {
    const bool found = LoadSettings();
    if (found)
        DoFirstStart(LauncherSettings, platform::ExecutablePath(), ShortcutIcon);
    if (!found) {
        Terminating = true;
        Timer1->stop(); // no news and no run
        ShowMessage(QString::fromUtf8(kMissingSettings));
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }
    ApplySkin(*this, Image1);
}

void TFMain::UpdateRevision(const std::string& Revision) {
    runs_->RecordRevision(Revision);
}

void TFMain::FormClose() {
    LauncherSettings.clear();
}

// ---------------------------------------------------------------------------
// Timers and the news.

void TFMain::Timer1Timer() {
    Timer1->stop();
    if (!SettingsComplete(LauncherSettings))
        return;
    // An address without a scheme is a web address ("www...") or a file of
    // the installation; without one there are no news to ask for.
    const QString address = QString::fromStdString(LauncherSettings[NewsUrl]);
    CreateBrowser();
    const TNewsView view = news_.Requested(LauncherSettings[NewsUrl]);
    if (news_.Navigates()) {
        WebBrowser1->load(QUrl::fromUserInput(address, QString::fromStdString(runs_->BaseFolder)));
        newsWait_->start(NewsWait);
    }
    ShowNews(view);
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
    // Whether that is the news or the browser's page of a failure, or a
    // server's error page, which the engine itself counts as shown.
    connect(WebBrowser1->page(), &QWebEnginePage::loadingChanged, this,
            [this](const QWebEngineLoadingInfo& info) {
                const auto status = info.status();
                if (status != QWebEngineLoadingInfo::LoadSucceededStatus &&
                    status != QWebEngineLoadingInfo::LoadFailedStatus)
                    return;
                const bool errorAnswer =
                    info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain &&
                    info.errorCode() >= 400;
                const bool shown = status == QWebEngineLoadingInfo::LoadSucceededStatus &&
                                   !info.isErrorPage() && !errorAnswer;
                Guarded([this, shown] { WebBrowser1LoadingFinished(shown); });
            });
    connect(WebBrowser1->page(), &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status) {
                if (status != QWebEnginePage::NormalTerminationStatus)
                    Guarded([this] { WebBrowser1LoadingFinished(false); });
            });
}

void TFMain::WebBrowser1LoadingFinished(bool shown) {
    ShowNews(news_.Finished(shown));
}

void TFMain::ShowNews(TNewsView view) {
    if (view == TNewsView::Waiting)
        return;
    if (view == TNewsView::Placeholder) {
        if (Label7->isHidden())
            Trace("news-placeholder");
        Label7->show();
        Label7->raise();
    } else {
        Label7->hide();
    }
    Panel1->show();
    // The strip waits for the browser's report of a page, as ever; where no
    // page is asked for, none will come.
    if (!news_.Navigates())
        Panel2->show();
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
    return runs_->Active();
}

void TFMain::StartRun(bool fullCheck) {
    runs_->HostsFolder = HostsFolder;
    runs_->Start(LauncherSettings, fullCheck);
}

void TFMain::StopRun() {
    runs_->CloseWait = CloseWait;
    runs_->AbortWait = AbortWait;
    runs_->Stop();
}

TDispatcher TFMain::RunDispatcher() {
    return dispatcher_->Dispatcher();
}

void TFMain::CloseRunDispatcher() {
    dispatcher_->Close();
}

void TFMain::SetStatusLine(const std::string& text) {
    Label3->setText(QString::fromStdString(text));
}

void TFMain::SetStatusHint(const std::string& text) {
    Label3->setToolTip(QString::fromStdString(text));
    if (text.empty())
        QToolTip::hideText();
}

void TFMain::SetCommands(const TCommandStates& states) {
    ImgBtn1->setVisible(states.play);
    ImgBtn2->setVisible(states.check);
    ImgBtn5->setEnabled(states.options);
}

void TFMain::StartPolling() {
    poll_->start();
}

void TFMain::StopPolling() {
    poll_->stop();
}

void TFMain::WaitWithEvents(std::chrono::milliseconds limit, const std::function<bool()>& done) {
    if (done())
        return;
    QEventLoop loop;
    QTimer check;
    check.setInterval(10);
    connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(limit, &loop, &QEventLoop::quit);
    check.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
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
    runs_->Locked();
}

void TFMain::ShowStatus(const std::string& text) {
    runs_->Status(text);
    BeginFrame();
    Label3->setText(QString::fromStdString(text));
}

void TFMain::ShowRetry(const std::string& note) {
    runs_->Retry(note);
}

void TFMain::ShowCause(const std::string& cause) {
    runs_->Cause(cause);
}

void TFMain::ShowNote(const std::string& note) {
    runs_->Note(note);
}

void TFMain::StoreTrustedRevision(const std::string& revision) {
    runs_->TrustedRevision(revision);
}

void TFMain::SetFileGaugeMax(std::int32_t value) {
    runs_->Gauge("gauge1-max", value);
    BeginFrame();
    Gauge1->SetMaxValue(value);
}

void TFMain::SetTotalGaugeMax(std::int32_t value) {
    runs_->Gauge("gauge2-max", value);
    BeginFrame();
    Gauge2->SetMaxValue(value);
}

void TFMain::SetFileProgress(std::int32_t value) {
    runs_->Gauge("gauge1", value);
    BeginFrame();
    Gauge1->SetProgress(value);
}

void TFMain::SetTotalProgress(std::int32_t value) {
    runs_->Gauge("gauge2", value);
    BeginFrame();
    Gauge2->SetProgress(value);
}

void TFMain::StoreRevision(const std::string& revision) {
    runs_->Revision(revision);
}

void TFMain::UnlockCommands() {
    runs_->Unlocked();
}

// ---------------------------------------------------------------------------
// Commands.

void TFMain::ImgBtn1Click() {
    if (!SettingsComplete(LauncherSettings))
        return;
    StartGame(LauncherSettings);
    close();
}

void TFMain::ImgBtn2Click() {
    StartRun(true);
}

void TFMain::ImgBtn3Click() {
    close();
    StartRenameBatch(runs_->BaseFolder);
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

bool TFMain::event(QEvent* event) {
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    // The status line lets the pointer through to the window's drag, so its
    // hover text is shown from here, as text: a cause may quote a server.
    const auto* help = static_cast<QHelpEvent*>(event);
    const QString tip = Label3->toolTip();
    if (tip.isEmpty() || !Label3->geometry().contains(help->pos())) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    QString shown = tip.toHtmlEscaped();
    shown.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    // As wide as the status line: a long cause wraps there, a short one
    // stays on its line.
    QToolTip::showText(help->globalPos(),
                       QStringLiteral("<table cellspacing=0 cellpadding=0><tr><td width=%1>%2"
                                      "</td></tr></table>")
                           .arg(Label3->width())
                           .arg(shown),
                       this, Label3->geometry());
    return true;
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
