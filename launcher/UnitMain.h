// The launcher's main window: the news, the progress of the update run, the
// date and time, and the commands (play, check, cancel, close, options,
// minimise, the project's site). Also start-up, settings, the first-run
// shortcut and the record of the reached revision.
#pragma once

#include "GetFilesThr.h"
#include "Messages.h"
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
namespace platform {
class InstallLock;
}

// The launcher settings in memory: entry 0 the base folder (ending with the
// separator), then the keys of section "main" of "Quenmor.ini" in this order.
using TLauncherSettings = std::vector<std::string>;
enum TSetting : std::size_t {
    BaseFolder = 0,
    NewsUrl = 1,
    UpdatesUrl = 2,
    LinkName = 3,
    Installed = 4,
    CreateBackup = 5,
    AtRevision = 6,
    RunCustom = 7,
    // The public keys of signed update trees that this installation trusts.
    UpdateKey = 8,
};

// Writes the shortcut that starts this launcher in `WorkingFolder`: a desktop
// entry named `LinkName` on the desktop and in the applications menu. An
// empty name makes none.
void CreateDesktopShortcut(const std::string& LinkName, const std::string& WorkingFolder,
                           const std::string& Description);

class TFMain : public QWidget, public TUpdateTarget {
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
    bool RunAbandoned() const { return abandoned_; }

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

private:
    std::string SettingsFile() const;
    void CreateControls();
    // Makes the news browser, once.
    void CreateBrowser();
    // Starts an update run (the automatic one or a full check).
    void StartRun(bool fullCheck);
    // Starts the prepared run once the installation is free.
    void TryStartPending();
    void PollRun();
    // Ends the run on close: asks it to stop, waits a bounded time.
    void StopRun();
    bool WaitForRun(std::chrono::milliseconds limit);
    // Starts the installation's "Rename.bat", if it has one.
    void StartRenameBatch() const;
    // Holds back redraws of the run's controls until the frame ends.
    void BeginFrame();
    void EndFrame();
    // The status line and the gauges, which a run redraws.
    void SetRunControlUpdates(bool enabled);

    TSkinDrag drag_;
    std::string baseFolder_; // kept for revisions recorded after FormClose
    std::unique_ptr<TWindowDispatcher> dispatcher_;
    std::unique_ptr<GFilesThread> pending_; // prepared, waiting for the lock
    std::unique_ptr<GFilesThread> run_;     // started, not yet cleaned up
    std::unique_ptr<platform::InstallLock> lock_;
    QTimer* poll_ = nullptr;  // watches the run and the lock
    QTimer* frame_ = nullptr; // ends the current frame of redraws
    bool closing_ = false;
    bool abandoned_ = false;
    bool painted_ = false;
    // The highest revision recorded in this process: the revision read at
    // start-up stays what runs are given, but no signed manifest below this
    // one is taken.
    std::int32_t recordedRevision_ = 0;
    std::string runStatus_; // the run's last status text, for the log
};
