#include "MainWindow.h"

#include "ClockTexts.h"
#include "Commands.h"
#include "CommonControls.h"
#include "Desktop.h"
#include "Dispatcher.h"
#include "Errors.h"
#include "Files.h"
#include "GuardedCall.h"
#include "Messages.h"
#include "NewsBrowser.h"
#include "Process.h"
#include "Trace.h"
#include "WideText.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <filesystem>
#include <system_error>
#include <utility>

namespace {

constexpr const wchar_t* kClassName = L"TFMain";
constexpr int kWidth = 800;
constexpr int kHeight = 599;

// The window's timers.
enum : UINT_PTR {
    kStartTimer = 1, // Timer1: the news and the automatic run, once
    kClockTimer = 2, // Timer2
    kPollTimer = 3,  // watches the run and the lock
    kFrameTimer = 4, // ends the current frame of redraws
    kNewsTimer = 5,  // the news' time to answer
};
// Made once the window has been painted: the browser takes longer to start
// than everything else the window does before it appears.
constexpr UINT kCreateBrowserMessage = WM_APP + 0x40;

// The panels of the layout, in window coordinates.
constexpr RECT kNewsPanel{7, 97, 7 + 786, 97 + 380};
constexpr RECT kStripPanel{7, 37, 7 + 786, 37 + 60};

RECT Bounds(int left, int top, int width, int height) {
    return RECT{left, top, left + width, top + height};
}

// In the strip, whose origin is the strip panel's top left corner.
RECT InStrip(int left, int top, int width, int height) {
    return Bounds(kStripPanel.left + left, kStripPanel.top + top, width, height);
}

HFONT MakeFont(const wchar_t* face, int pixelHeight, bool bold) {
    return CreateFontW(-pixelHeight, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, face);
}

// The face of the notice line, "Arial Narrow", which not every system has:
// else the first narrow face there is, else the system's sans serif face
// drawn narrower, so that the line keeps to its plate.
HFONT MakeNarrowFont(HWND window) {
    HDC dc = GetDC(window);
    HFONT chosen = nullptr;
    for (const wchar_t* face : {L"Arial Narrow", L"Liberation Sans Narrow"}) {
        HFONT font = MakeFont(face, 11, false);
        HGDIOBJ old = SelectObject(dc, font);
        wchar_t got[LF_FACESIZE] = {};
        GetTextFaceW(dc, LF_FACESIZE, got);
        SelectObject(dc, old);
        if (_wcsicmp(got, face) == 0) {
            chosen = font;
            break;
        }
        DeleteObject(font);
    }
    if (chosen == nullptr) {
        HFONT font = MakeFont(L"Arial", 11, false);
        HGDIOBJ old = SelectObject(dc, font);
        TEXTMETRICW metrics{};
        GetTextMetricsW(dc, &metrics);
        SelectObject(dc, old);
        DeleteObject(font);
        chosen =
            CreateFontW(-11, std::max<LONG>(1, metrics.tmAveCharWidth * 4 / 5), 0, 0, FW_NORMAL,
                        FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Arial");
    }
    ReleaseDC(window, dc);
    return chosen;
}

TImgBtn* MakeButton(TImgBtns& buttons, HWND owner, const std::wstring& stem, const wchar_t* type,
                    RECT bounds) {
    return &buttons.Add(owner, bounds, TPicture::FromResource((stem + type).c_str()),
                        TPicture::FromResource((stem + L"_up" + type).c_str()),
                        TPicture::FromResource((stem + L"_down" + type).c_str()));
}

// What the news browser is given for the address in the settings: an address
// with a scheme as it is, a file of the installation by its path, anything
// else (as "www...") as a web address.
std::string NewsAddress(const std::string& address, const std::string& baseFolder) {
    if (address.find("://") != std::string::npos || address.rfind("about:", 0) == 0)
        return address;
    const std::string file = baseFolder + address;
    std::error_code error;
    if (std::filesystem::is_regular_file(platform::FsPath(file), error))
        return file;
    return "http://" + address;
}

// The date's picture with a four-digit year, and the two lines in the user's
// locale.
std::wstring LocaleText(LCTYPE type) {
    wchar_t text[128] = {};
    if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, text, 128) == 0)
        return {};
    return text;
}

std::string DateOf(const SYSTEMTIME& moment) {
    const std::wstring picture =
        platform::Wide(FourDigitYear(platform::Utf8(LocaleText(LOCALE_SSHORTDATE))));
    wchar_t text[128] = {};
    if (GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &moment,
                        picture.empty() ? nullptr : picture.c_str(), text, 128, nullptr) == 0)
        return {};
    return platform::Utf8(text);
}

std::string TimeOf(const SYSTEMTIME& moment) {
    wchar_t text[128] = {};
    if (GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &moment, nullptr, text, 128) == 0)
        return {};
    return platform::Utf8(text);
}

} // namespace

// ---------------------------------------------------------------------------
// Gauges.

void TGaugeBar::Paint(HDC dc) const {
    const int width = Bounds.right - Bounds.left;
    const int fill = Value.FillWidth(width);
    const RECT back{Bounds.left + fill, Bounds.top, Bounds.right, Bounds.bottom};
    SetDCBrushColor(dc, BackColor);
    FillRect(dc, &back, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
    if (fill > 0) {
        const RECT fore{Bounds.left, Bounds.top, Bounds.left + fill, Bounds.bottom};
        SetDCBrushColor(dc, ForeColor);
        FillRect(dc, &fore, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
    }
}

// ---------------------------------------------------------------------------
// The window.

TFMain::TFMain() = default;

TFMain::~TFMain() {
    runs_.reset(); // abandons a run that still goes, before its dispatcher is gone
    dispatcher_.reset();
    browser_.reset();
    if (hwnd_ != nullptr) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
    for (HFONT font : {sansFont_, boldFont_, narrowFont_})
        if (font != nullptr)
            DeleteObject(font);
}

void TFMain::Create(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = &TFMain::WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hIcon = LoadIconW(instance, L"MAINICON");
    windowClass.lpszClassName = kClassName;
    RegisterClassExW(&windowClass);
    // A popup with a minimise box: the taskbar's button minimises and restores it.
    hwnd_ = CreateWindowExW(WS_EX_APPWINDOW, kClassName, L"FormMain",
                            WS_POPUP | WS_MINIMIZEBOX | WS_SYSMENU | WS_CLIPCHILDREN, 0, 0, kWidth,
                            kHeight, nullptr, nullptr, instance, this);
    if (hwnd_ == nullptr)
        throw Exception("The launcher's window could not be made: " +
                        platform::SystemErrorText(GetLastError()));
    SetWindowTextW(hwnd_, platform::Wide(kApplicationTitle).c_str());
}

LRESULT CALLBACK TFMain::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* window =
            static_cast<TFMain*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        window->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
    }
    if (TWin32Dispatcher::Handle(hwnd, msg, wParam, lParam))
        return 0;
    auto* window = reinterpret_cast<TFMain*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (window == nullptr)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    LRESULT result = 0;
    // What a handler raises is shown here, before it could unwind through
    // the system's message dispatch.
    if (!GuardedCall([&] { result = window->Handle(msg, wParam, lParam); }))
        return 0;
    return result;
}

LRESULT TFMain::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE:
        dispatcher_ = std::make_unique<TWin32Dispatcher>(hwnd_);
        runs_ = std::make_unique<TLauncherRuns>(*this, static_cast<TRunWindow&>(*this));
        runs_->LauncherFile = platform::ExecutablePath();
        runs_->LauncherProcessId = platform::ProcessId();
        runs_->HostsFolder = platform::DefaultHostsFolder();
        CreateControls();
        return 0;
    case WM_ERASEBKGND:
        return 1; // painted whole in WM_PAINT
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd_, &paint);
        Paint(dc);
        EndPaint(hwnd_, &paint);
        if (!painted_) {
            painted_ = true;
            POINT origin{0, 0};
            ClientToScreen(hwnd_, &origin);
            Trace("paint", std::to_string(origin.x) + "," + std::to_string(origin.y));
            PostMessageW(hwnd_, kCreateBrowserMessage, 0, 0);
        }
        return 0;
    }
    case kCreateBrowserMessage:
        if (AfterFirstPaint)
            std::exchange(AfterFirstPaint, nullptr)();
        CreateBrowser();
        return 0;
    case WM_TIMER:
        switch (wParam) {
        case kStartTimer:
            Timer1Timer();
            break;
        case kClockTimer:
            Timer2Timer();
            break;
        case kPollTimer:
            runs_->Poll();
            break;
        case kNewsTimer:
            KillTimer(hwnd_, kNewsTimer);
            ShowNews(news_.AnswerWaitPassed());
            break;
        case kFrameTimer:
            KillTimer(hwnd_, kFrameTimer);
            frameActive_ = false;
            InvalidateRunControls();
            break;
        }
        return 0;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MBUTTONDBLCLK:
    case WM_MOUSELEAVE:
    case WM_CAPTURECHANGED:
        OnMouse(msg, wParam, lParam);
        return 0;
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_DESTROY:
        tooltip_ = nullptr; // goes with its owner
        if (dispatcher_)
            dispatcher_->Close();
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        hwnd_ = nullptr;
        return 0;
    default:
        return DefWindowProcW(hwnd_, msg, wParam, lParam);
    }
}

void TFMain::CreateControls() {
    const TPictureBatch batch;
    sansFont_ = MakeFont(L"MS Sans Serif", 11, false);
    boldFont_ = MakeFont(L"MS Sans Serif", 11, true);
    narrowFont_ = MakeNarrowFont(hwnd_);
    skin_ = TPicture::FromResource(L"main_skin.bmp");
    strip_ = TPicture::FromResource(L"strip.bmp");
    plate_ = TPicture::FromResource(L"strip_plate.png");
    // The placeholder of the news, in the colours of the skin it covers.
    placeholder_ =
        PlaceholderColours(skin_.Pixels(), skin_.Width(), skin_.Height(), skin_.Width(),
                           kNewsPanel.left, kNewsPanel.top, kNewsPanel.right, kNewsPanel.bottom);

    // Colours as the layout stores them, which is how the system does: 0x00BBGGRR.
    gauge1_ = {Bounds(127, 531, 430, 5), RGB(0, 0, 0), 9853758, {}};
    gauge2_ = {Bounds(127, 546, 430, 5), RGB(0, 0, 0), 4800910, {}};
    constexpr COLORREF caption = 11771269;
    label1_ = {Bounds(35, 525, 85, 13), L"Загрузка  файла", caption, sansFont_};
    label1_.AutoSize = true;
    label2_ = {Bounds(35, 540, 85, 13), L"Общий прогресс", caption, sansFont_};
    label2_.AutoSize = true;
    label3_ = {Bounds(128, 512, 429, 13), L"... Загрузка ...", 9404254, sansFont_,
               DT_CENTER | DT_TOP | DT_SINGLELINE | DT_NOPREFIX};
    label4_ = {Bounds(329, 574, 142, 15), {}, RGB(128, 128, 128), narrowFont_};
    constexpr COLORREF clock = 116222;
    label6_ = {InStrip(650, 32, 39, 13), L"Label6", clock, boldFont_};
    label6_.AutoSize = true;
    label5_ = {InStrip(650, 15, 39, 13), L"Label5", clock, boldFont_};
    label5_.AutoSize = true;
    for (TLabel* label : {&label1_, &label2_, &label6_, &label5_})
        SetLabelText(*label, platform::Utf8(label->Text));
    SYSTEMTIME now;
    GetLocalTime(&now);
    label4_.Text = platform::Wide(NoticeText(now.wYear));

    imgBtn1_ = MakeButton(buttons_, hwnd_, L"play", L".bmp", Bounds(686, 485, 96, 99));
    imgBtn2_ = MakeButton(buttons_, hwnd_, L"check", L".bmp", Bounds(575, 506, 101, 27));
    imgBtn3_ = MakeButton(buttons_, hwnd_, L"cancel", L".bmp", Bounds(575, 535, 101, 27));
    imgBtn4_ = MakeButton(buttons_, hwnd_, L"close", L".png", Bounds(768, 17, 16, 16));
    imgBtn5_ = MakeButton(buttons_, hwnd_, L"options", L".png", Bounds(685, 17, 63, 20));
    imgBtn6_ = MakeButton(buttons_, hwnd_, L"minimize", L".png", Bounds(752, 17, 16, 16));
    imgBtn7_ = MakeButton(buttons_, hwnd_, L"site", L".png", InStrip(30, 21, 91, 18));
    imgBtn7_->SetVisible(false); // with its strip
    imgBtn1_->OnClick = [this] { ImgBtn1Click(); };
    imgBtn2_->OnClick = [this] { ImgBtn2Click(); };
    imgBtn3_->OnClick = [this] { ImgBtn3Click(); };
    imgBtn4_->OnClick = [this] { ImgBtn4Click(); };
    imgBtn5_->OnClick = [this] { ImgBtn5Click(); };
    imgBtn6_->OnClick = [this] { ImgBtn6Click(); };
    imgBtn7_->OnClick = [this] { ImgBtn7Click(); };

    SetTimer(hwnd_, kStartTimer, 1000, nullptr);
    SetTimer(hwnd_, kClockTimer, 1000, nullptr);
}

bool TFMain::LoadSettings() {
    runs_->BaseFolder = platform::CurrentFolder();
    return ::LoadSettings(runs_->BaseFolder, LauncherSettings);
}

void TFMain::FormCreate() {
    const bool found = LoadSettings();
    if (found)
        DoFirstStart(LauncherSettings, platform::ExecutablePath()); // the program's own icon
    if (!found) {
        Terminating = true;
        KillTimer(hwnd_, kStartTimer); // no news and no run
        MessageBoxW(nullptr, platform::Wide(kMissingSettings).c_str(),
                    platform::Wide(kApplicationTitle).c_str(), MB_OK);
        PostQuitMessage(0);
    }
    ApplySkin(hwnd_, skin_);
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
    KillTimer(hwnd_, kStartTimer);
    if (!SettingsComplete(LauncherSettings))
        return;
    CreateBrowser();
    TNewsView view = news_.Requested(LauncherSettings[NewsUrl]);
    if (!browser_ || !browser_->Created()) {
        view = news_.NoBrowser();
    } else if (news_.Navigates()) {
        browser_->Navigate(NewsAddress(LauncherSettings[NewsUrl], runs_->BaseFolder));
        SetTimer(hwnd_, kNewsTimer, static_cast<UINT>(TNewsPanel::kAnswerWait.count()), nullptr);
    }
    ShowNews(view);
    StartRun(false);
}

void TFMain::CreateBrowser() {
    if (browser_ || closing_)
        return;
    // Before the control is made, so that it shows the pages in its newest
    // document mode and not in that of its oldest version.
    platform::PreferCurrentBrowserMode(
        platform::PathText(platform::FsPath(platform::ExecutablePath()).filename()));
    browser_ = std::make_unique<TNewsBrowser>(hwnd_, kNewsPanel);
    // Success or not: the page is whatever the browser shows now.
    browser_->OnNavigateComplete = [this] {
        GuardedCall([this] { WebBrowser1NavigateComplete2(); });
    };
    browser_->OnLoadingFinished = [this](bool shown) {
        GuardedCall([this, shown] { ShowNews(news_.Finished(shown)); });
    };
}

void TFMain::WebBrowser1NavigateComplete2() {
    Trace("news");
    if (panelsShown_)
        return;
    panelsShown_ = true;
    if (browser_ && news_.View() != TNewsView::Placeholder)
        browser_->Show(true);
    imgBtn7_->SetVisible(true);
    InvalidateRect(hwnd_, &kStripPanel, FALSE);
}

void TFMain::ShowNews(TNewsView view) {
    if (view == TNewsView::Waiting || view == newsShown_)
        return;
    newsShown_ = view;
    const bool placeholder = view == TNewsView::Placeholder;
    if (placeholder)
        Trace("news-placeholder");
    // The placeholder is the window's own painting where the panel's window
    // would lie: hidden, it lets that show.
    if (browser_)
        browser_->Show(!placeholder);
    InvalidateRect(hwnd_, &kNewsPanel, FALSE);
    // The strip waits for the browser's report of a page, as ever; where no
    // page is asked for, none will come.
    if (!news_.Navigates() && !panelsShown_) {
        panelsShown_ = true;
        imgBtn7_->SetVisible(true);
        InvalidateRect(hwnd_, &kStripPanel, FALSE);
    }
}

void TFMain::PaintPlaceholder(HDC dc) const {
    SetDCBrushColor(dc, RGB((placeholder_.Back >> 16) & 0xFF, (placeholder_.Back >> 8) & 0xFF,
                            placeholder_.Back & 0xFF));
    FillRect(dc, &kNewsPanel, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
    HGDIOBJ old = SelectObject(dc, sansFont_);
    SetTextColor(dc, RGB((placeholder_.Text >> 16) & 0xFF, (placeholder_.Text >> 8) & 0xFF,
                         placeholder_.Text & 0xFF));
    const std::wstring text = platform::Wide(kNewsUnavailable);
    RECT bounds = kNewsPanel;
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &bounds,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
}

void TFMain::Timer2Timer() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    SetLabelText(label5_, DateLine(DateOf(now)));
    SetLabelText(label6_, TimeLine(TimeOf(now)));
    SetLabelText(label4_, NoticeText(now.wYear));
}

void TFMain::SetLabelText(TLabel& label, const std::string& utf8) {
    std::wstring text = platform::Wide(utf8);
    if (text == label.Text && !label.AutoSize)
        return;
    InvalidateLabel(label);
    label.Text = std::move(text);
    if (label.AutoSize && hwnd_ != nullptr) {
        HDC dc = GetDC(hwnd_);
        HGDIOBJ old = SelectObject(dc, label.Font);
        RECT size{0, 0, 0, 0};
        DrawTextW(dc, label.Text.c_str(), static_cast<int>(label.Text.size()), &size,
                  label.Format | DT_CALCRECT);
        SelectObject(dc, old);
        ReleaseDC(hwnd_, dc);
        label.Bounds.right = label.Bounds.left + (size.right - size.left);
        label.Bounds.bottom = label.Bounds.top + (size.bottom - size.top);
    }
    InvalidateLabel(label);
}

void TFMain::InvalidateLabel(const TLabel& label) {
    if (hwnd_ != nullptr)
        InvalidateRect(hwnd_, &label.Bounds, FALSE);
}

// ---------------------------------------------------------------------------
// Drawing.

void TFMain::Paint(HDC target) {
    // Drawn off the screen first, so that nothing flickers.
    HDC dc = CreateCompatibleDC(target);
    HBITMAP frame = CreateCompatibleBitmap(target, kWidth, kHeight);
    HGDIOBJ oldFrame = SelectObject(dc, frame);
    skin_.Draw(dc, 0, 0);
    if (panelsShown_) {
        const int width = kStripPanel.right - kStripPanel.left;
        const int height = kStripPanel.bottom - kStripPanel.top;
        strip_.DrawPart(dc, kStripPanel.left, kStripPanel.top, 0, 0,
                        std::min(width, strip_.Width()), std::min(height, strip_.Height()));
        plate_.Draw(dc, kStripPanel.left + 13, kStripPanel.top + 5);
    }
    gauge1_.Paint(dc);
    gauge2_.Paint(dc);
    SetBkMode(dc, TRANSPARENT);
    if (newsShown_ == TNewsView::Placeholder)
        PaintPlaceholder(dc);
    const auto drawLabel = [dc](const TLabel& label) {
        HGDIOBJ old = SelectObject(dc, label.Font);
        SetTextColor(dc, label.Color);
        RECT bounds = label.Bounds;
        DrawTextW(dc, label.Text.c_str(), static_cast<int>(label.Text.size()), &bounds,
                  label.Format);
        SelectObject(dc, old);
    };
    for (const TLabel* label : {&label1_, &label2_, &label3_, &label4_})
        drawLabel(*label);
    if (panelsShown_) {
        drawLabel(label6_);
        drawLabel(label5_);
    }
    buttons_.Paint(dc);
    BitBlt(target, 0, 0, kWidth, kHeight, dc, 0, 0, SRCCOPY);
    SelectObject(dc, oldFrame);
    DeleteObject(frame);
    DeleteDC(dc);
}

void TFMain::BeginFrame() {
    if (frameActive_)
        return;
    frameActive_ = true;
    SetTimer(hwnd_, kFrameTimer, FrameInterval, nullptr);
}

void TFMain::InvalidateRunControls() {
    for (const RECT* bounds : {&label3_.Bounds, &gauge1_.Bounds, &gauge2_.Bounds})
        InvalidateRect(hwnd_, bounds, FALSE);
}

// ---------------------------------------------------------------------------
// The mouse: the buttons first, the window's drag for the rest.

void TFMain::OnMouse(UINT msg, WPARAM wParam, LPARAM lParam) {
    const POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    bool taken = false;
    switch (msg) {
    case WM_MOUSEMOVE: {
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd_, 0};
        TrackMouseEvent(&track);
        taken = buttons_.MouseMove(point);
        break;
    }
    case WM_MOUSELEAVE:
        buttons_.MouseLeave();
        return;
    case WM_LBUTTONDOWN:
        taken = buttons_.LeftDown(point);
        break;
    case WM_LBUTTONDBLCLK:
        taken = buttons_.LeftDoubleClick(point);
        msg = WM_LBUTTONDOWN; // for the drag, a press like any other
        break;
    case WM_LBUTTONUP:
        taken = buttons_.LeftUp(point);
        if (hwnd_ == nullptr || closing_)
            return; // its click closed the window
        break;
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDBLCLK:
        taken = buttons_.OtherDown(point);
        msg = msg == WM_RBUTTONDBLCLK   ? WM_RBUTTONDOWN
              : msg == WM_MBUTTONDBLCLK ? WM_MBUTTONDOWN
                                        : msg;
        break;
    case WM_CAPTURECHANGED:
        // Taken away: a button's press ends without a click (a button that
        // takes the capture from the window's drag is not losing it).
        if (reinterpret_cast<HWND>(lParam) != hwnd_)
            buttons_.CaptureLost();
        break;
    default:
        break;
    }
    if (!taken && hwnd_ != nullptr)
        drag_.HandleMessage(hwnd_, msg, wParam, lParam);
}

// ---------------------------------------------------------------------------
// Update runs.

bool TFMain::RunActive() const {
    return runs_ && runs_->Active();
}

bool TFMain::RunAbandoned() const {
    return runs_ && runs_->Abandoned();
}

void TFMain::StartRun(bool fullCheck) {
    runs_->Start(LauncherSettings, fullCheck);
}

void TFMain::StopRun() {
    runs_->Stop();
}

TDispatcher TFMain::RunDispatcher() {
    return dispatcher_->Dispatcher();
}

void TFMain::CloseRunDispatcher() {
    dispatcher_->Close();
}

void TFMain::SetStatusLine(const std::string& text) {
    SetLabelText(label3_, text);
}

void TFMain::SetStatusHint(const std::string& text) {
    if (hwnd_ == nullptr)
        return;
    if (tooltip_ == nullptr) {
        if (text.empty())
            return;
        // Made with the first hover text: the common controls come with it.
        LoadCommonControls();
        tooltip_ = CreateWindowExW(
            WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
            reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd_, GWLP_HINSTANCE)), nullptr);
        if (tooltip_ == nullptr)
            return;
        TOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_SUBCLASS; // sees the window's mouse on its own
        tool.hwnd = hwnd_;
        tool.uId = 1;
        tool.rect = label3_.Bounds;
        tool.lpszText = const_cast<wchar_t*>(L"");
        SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        // Lines broken where the text breaks them, a long cause at this width.
        SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, 480);
        // Long enough to read a cause.
        SendMessageW(tooltip_, TTM_SETDELAYTIME, TTDT_AUTOPOP, 30000);
    }
    std::wstring wide = platform::Wide(text);
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = hwnd_;
    tool.uId = 1;
    tool.lpszText = wide.data();
    SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(tooltip_, TTM_ACTIVATE, text.empty() ? FALSE : TRUE, 0);
}

void TFMain::SetCommands(const TCommandStates& states) {
    imgBtn1_->SetVisible(states.play);
    imgBtn2_->SetVisible(states.check);
    imgBtn5_->SetEnabled(states.options);
}

void TFMain::StartPolling() {
    SetTimer(hwnd_, kPollTimer, 50, nullptr);
}

void TFMain::StopPolling() {
    if (hwnd_ != nullptr)
        KillTimer(hwnd_, kPollTimer);
}

void TFMain::WaitWithEvents(std::chrono::milliseconds limit, const std::function<bool()>& done) {
    // Everything but the player's input: the run's notifications keep
    // arriving while it finishes.
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE,
                                  static_cast<DWORD>(std::min<long long>(left.count(), 10)),
                                  QS_POSTMESSAGE | QS_SENDMESSAGE | QS_TIMER | QS_PAINT);
        MSG message;
        for (const auto& [first, last] : {std::pair<UINT, UINT>{0, WM_KEYFIRST - 1},
                                          std::pair<UINT, UINT>{WM_KEYLAST + 1, WM_MOUSEFIRST - 1},
                                          std::pair<UINT, UINT>{WM_MOUSELAST + 1, 0xFFFF}}) {
            while (!done() && PeekMessageW(&message, nullptr, first, last, PM_REMOVE)) {
                if (message.message == WM_QUIT) {
                    PostQuitMessage(static_cast<int>(message.wParam));
                    return;
                }
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
    }
}

// ---------------------------------------------------------------------------
// The run's notifications.

void TFMain::LockCommands() {
    runs_->Locked();
}

void TFMain::ShowStatus(const std::string& text) {
    runs_->Status(text);
    BeginFrame();
    label3_.Text = platform::Wide(text);
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
    gauge1_.Value.SetMaxValue(value);
}

void TFMain::SetTotalGaugeMax(std::int32_t value) {
    runs_->Gauge("gauge2-max", value);
    BeginFrame();
    gauge2_.Value.SetMaxValue(value);
}

void TFMain::SetFileProgress(std::int32_t value) {
    runs_->Gauge("gauge1", value);
    BeginFrame();
    gauge1_.Value.SetProgress(value);
}

void TFMain::SetTotalProgress(std::int32_t value) {
    runs_->Gauge("gauge2", value);
    BeginFrame();
    gauge2_.Value.SetProgress(value);
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
    OnClose();
}

void TFMain::ImgBtn2Click() {
    StartRun(true);
}

void TFMain::ImgBtn3Click() {
    const std::string base = runs_->BaseFolder;
    OnClose();
    StartRenameBatch(base);
}

void TFMain::ImgBtn4Click() {
    ImgBtn3Click(); // the same command
}

void TFMain::ImgBtn5Click() {
    if (OpenOptions)
        OpenOptions(); // disables this window until it closes
}

void TFMain::ImgBtn6Click() {
    ShowWindow(hwnd_, SW_MINIMIZE);
}

void TFMain::ImgBtn7Click() {
    platform::OpenInBrowser(kProjectSite);
}

void TFMain::OnClose() {
    if (closing_)
        return;
    closing_ = true;
    KillTimer(hwnd_, kStartTimer);
    FormClose();
    ShowWindow(hwnd_, SW_HIDE);
    StopRun();
    Trace("closed");
    DestroyWindow(hwnd_);
}
