// The launcher's main window in Qt: the news, the progress of the update run,
// the date and time, and the commands (play, check, cancel, close, options,
// minimise, the project's site). It draws and forwards its events; the
// settings, the first start and the runs are the launcher core's
// (LauncherSettings, LauncherRuns, Commands).
#pragma once

#include "GetFilesThr.h"
#include "LauncherRuns.h"
#include "LauncherSettings.h"
#include "Messages.h"
#include "NewsPanel.h"
#include "Skin.h"

#include <QDateTime>
#include <QImage>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QFrame;
class QLabel;
class QTimer;
class QWebEngineView;
class TForm1;
class TGauge;
class TImgBtn;
class TWindowDispatcher;

class TFMain : public QWidget, public TUpdateTarget, private TRunWindow {
    Q_OBJECT

public:
    explicit TFMain(QWidget* parent = nullptr);
    ~TFMain() override;

    // The controls, in the order they are made (later ones lie over earlier
    // ones).
    TGauge* Gauge1 = nullptr;              // the current download or unpacking
    TGauge* Gauge2 = nullptr;              // the whole checking or installing pass
    QImage Image1;                         // the skin
    QLabel* Label1 = nullptr;              // caption of Gauge1
    QLabel* Label2 = nullptr;              // caption of Gauge2
    QLabel* Label3 = nullptr;              // the status line
    TImgBtn* ImgBtn1 = nullptr;            // play
    TImgBtn* ImgBtn2 = nullptr;            // check
    TImgBtn* ImgBtn3 = nullptr;            // cancel
    TImgBtn* ImgBtn4 = nullptr;            // close
    QFrame* Panel1 = nullptr;              // frame of the news page
    QWebEngineView* WebBrowser1 = nullptr; // made after the first paint
    QLabel* Label4 = nullptr;              // the notice line
    TImgBtn* ImgBtn5 = nullptr;            // options
    TImgBtn* ImgBtn6 = nullptr;            // minimise
    QTimer* Timer1 = nullptr;              // start: fires once
    QFrame* Panel2 = nullptr;              // the top strip
    QLabel* Image2 = nullptr;              // background of the strip
    TImgBtn* ImgBtn7 = nullptr;            // the project's site
    QLabel* Label6 = nullptr;              // time
    QLabel* Label5 = nullptr;              // date
    QTimer* Timer2 = nullptr;              // the clock
    QLabel* Image3 = nullptr;              // plate behind the strip's contents
    QLabel* Label7 = nullptr;              // the news panel's placeholder, over the browser

    // The creation handler: loads the settings, makes the shortcut on the
    // first start, shapes the window. Raises what a refused write raises.
    void FormCreate();
    bool LoadSettings();
    // Records the revision an update run reached (also after FormClose).
    void UpdateRevision(const std::string& Revision);
    void FormClose();

    void ImgBtn1Click(); // play
    void ImgBtn2Click(); // check
    void ImgBtn3Click(); // cancel
    void ImgBtn4Click(); // close
    void ImgBtn5Click(); // options
    void ImgBtn6Click(); // minimise
    void ImgBtn7Click(); // the project's site
    void WebBrowser1NavigateComplete2();
    // The browser's end of a navigation of the news: whether it shows a page
    // (not its own page of a failure, nor a server's error page).
    void WebBrowser1LoadingFinished(bool shown);
    void Timer1Timer();
    void Timer2Timer();

    // The run's notifications, on this window's thread.
    void LockCommands() override;
    void ShowStatus(const std::string& text) override;
    void SetFileGaugeMax(std::int32_t value) override;
    void SetTotalGaugeMax(std::int32_t value) override;
    void SetFileProgress(std::int32_t value) override;
    void SetTotalProgress(std::int32_t value) override;
    void StoreRevision(const std::string& revision) override;
    void UnlockCommands() override;
    void ShowRetry(const std::string& note) override;  // in the trace and the log
    void ShowCause(const std::string& cause) override; // in the trace and the log
    void ShowNote(const std::string& note) override;   // in the trace and the log
    void StoreTrustedRevision(const std::string& revision) override;

    // Whether an update run of this window is going on or waiting for the
    // installation to be free.
    bool RunActive() const;
    // The run could not be brought to an end when the window closed: the
    // program must end without waiting for it.
    bool RunAbandoned() const { return runs_->Abandoned(); }

    TLauncherSettings LauncherSettings;
    TForm1* Form1 = nullptr; // the options dialog

    // The settings file was missing: the program ends once start-up is over.
    bool Terminating = false;
    // How the missing-file message is shown (a modal box; tests replace it).
    std::function<void(const QString& text)> ShowMessage;
    // The clock of the date, time and notice lines (tests replace it).
    std::function<QDateTime()> Now;
    // The folder of the system's hosts file that runs maintain.
    std::string HostsFolder;
    // On close, how long a run gets to finish its current file, and then how
    // long to stop once its transfer is cut.
    std::chrono::milliseconds CloseWait{3000};
    std::chrono::milliseconds AbortWait{2000};
    // How long the news may take to answer before the placeholder shows.
    std::chrono::milliseconds NewsWait = TNewsPanel::kAnswerWait;
    // What the news panel shows.
    TNewsView NewsView() const { return news_.View(); }
    // The status line and the gauges are redrawn at most this often during a
    // run: a window that holds the news browser is composited whole at every
    // redraw, which costs far more than a notification (most of a core at 20
    // redraws a second where the system renders in software).
    static constexpr std::chrono::milliseconds FrameInterval{100};

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    void CreateControls();
    // Makes the news browser, once.
    void CreateBrowser();
    // The news panel as `view` says: the page, or the placeholder over it;
    // the strip with it when no page was asked for.
    void ShowNews(TNewsView view);
    // Starts an update run (the automatic one or a full check).
    void StartRun(bool fullCheck);
    // Ends the run on close: asks it to stop, waits a bounded time.
    void StopRun();
    // Holds back redraws of the run's controls until the frame ends.
    void BeginFrame();
    void EndFrame();
    // The status line and the gauges, which a run redraws.
    void SetRunControlUpdates(bool enabled);

    // What the runs ask of the window.
    TDispatcher RunDispatcher() override;
    void CloseRunDispatcher() override;
    void SetStatusLine(const std::string& text) override;
    void SetStatusHint(const std::string& text) override;
    void SetCommands(const TCommandStates& states) override;
    void StartPolling() override;
    void StopPolling() override;
    void WaitWithEvents(std::chrono::milliseconds limit,
                        const std::function<bool()>& done) override;

    TSkinDrag drag_;
    std::unique_ptr<TWindowDispatcher> dispatcher_;
    std::unique_ptr<TLauncherRuns> runs_; // the base folder kept after FormClose
    QTimer* poll_ = nullptr;              // watches the run and the lock
    QTimer* frame_ = nullptr;             // ends the current frame of redraws
    QTimer* newsWait_ = nullptr;          // the news' time to answer
    TNewsPanel news_;
    bool closing_ = false;
    bool painted_ = false;
};
