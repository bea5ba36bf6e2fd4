// The launcher's main window in Win32: a borderless popup shaped by its skin
// with the news, the progress of the update run, the date and time, and the
// commands (play, check, cancel, close, options, minimise, the project's
// site). It draws and forwards its events; the settings, the first start and
// the runs are the launcher core's (LauncherSettings, LauncherRuns, Commands).
#pragma once

#include "GaugeValue.h"
#include "GetFilesThr.h"
#include "ImgBtn.h"
#include "LauncherRuns.h"
#include "LauncherSettings.h"
#include "NewsPanel.h"
#include "Pictures.h"
#include "Skin.h"

#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

class TNewsBrowser;
class TWin32Dispatcher;

// A gauge as the window draws it: a bar filled from the left in its fore
// colour over its back colour.
struct TGaugeBar {
    RECT Bounds{};
    COLORREF BackColor = RGB(0, 0, 0);
    COLORREF ForeColor = RGB(0, 0, 0);
    TGaugeValue Value;

    void Paint(HDC dc) const;
};

// A text of the window: drawn over the skin in its face and colour.
struct TLabel {
    RECT Bounds{};
    std::wstring Text;
    COLORREF Color = RGB(0, 0, 0);
    HFONT Font = nullptr;
    UINT Format = DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX;
    bool AutoSize = false; // the bounds follow the text from the top left corner
};

class TFMain : public TUpdateTarget, private TRunWindow {
public:
    TFMain();
    ~TFMain() override;
    TFMain(const TFMain&) = delete;
    TFMain& operator=(const TFMain&) = delete;

    // Makes the window (hidden), 800 x 599.
    void Create(HINSTANCE instance);
    HWND Handle() const { return hwnd_; }

    // The creation handler: loads the settings, makes the shortcut on the
    // first start, shapes the window. Raises what a refused write raises.
    void FormCreate();
    bool LoadSettings();
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
    void ShowRetry(const std::string& note) override;
    void ShowCause(const std::string& cause) override;
    void ShowNote(const std::string& note) override;
    void StoreTrustedRevision(const std::string& revision) override;

    bool RunActive() const;
    bool RunAbandoned() const;
    // What the news panel shows.
    TNewsView NewsView() const { return news_.View(); }
    // The status line's tool tip, made with the first hover text (null before).
    HWND StatusTooltip() const { return tooltip_; }

    TLauncherSettings LauncherSettings;
    // Opens the options dialog, which disables this window until it closes
    // (until it is there, the command does nothing).
    std::function<void()> OpenOptions;
    // Runs once, as soon as the window has been painted for the first time.
    std::function<void()> AfterFirstPaint;
    // The settings file was missing: the program ends once start-up is over.
    bool Terminating = false;
    // The status line and the gauges are redrawn at most this often during a
    // run (see the Qt window).
    static constexpr UINT FrameInterval = 100;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    void CreateBrowser();
    // The news panel as `view` says: the browser's page, or the placeholder
    // the window paints in its place; the strip with it when no page was
    // asked for.
    void ShowNews(TNewsView view);
    void PaintPlaceholder(HDC dc) const;
    void Paint(HDC dc);
    void OnMouse(UINT msg, WPARAM wParam, LPARAM lParam);
    void OnClose();
    void StartRun(bool fullCheck);
    void StopRun();
    // Marks the run's controls for a redraw at the end of the current frame.
    void BeginFrame();
    void InvalidateRunControls();
    void SetLabelText(TLabel& label, const std::string& utf8);
    void InvalidateLabel(const TLabel& label);

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

    HWND hwnd_ = nullptr;
    TPicture skin_, strip_, plate_;
    TGaugeBar gauge1_, gauge2_;
    TLabel label1_, label2_, label3_, label4_, label5_, label6_;
    TImgBtns buttons_;
    TImgBtn *imgBtn1_ = nullptr, *imgBtn2_ = nullptr, *imgBtn3_ = nullptr, *imgBtn4_ = nullptr,
            *imgBtn5_ = nullptr, *imgBtn6_ = nullptr, *imgBtn7_ = nullptr;
    std::unique_ptr<TNewsBrowser> browser_;
    bool panelsShown_ = false; // the news and the top strip, after the first page
    TNewsPanel news_;
    TNewsView newsShown_ = TNewsView::Waiting; // what the panel shows now
    TPlaceholderColours placeholder_;
    HWND tooltip_ = nullptr; // the status line's hover text
    HFONT sansFont_ = nullptr, boldFont_ = nullptr, narrowFont_ = nullptr;
    TSkinDrag drag_;
    std::unique_ptr<TWin32Dispatcher> dispatcher_;
    std::unique_ptr<TLauncherRuns> runs_;
    bool closing_ = false;
    bool painted_ = false;
    bool frameActive_ = false;
};
