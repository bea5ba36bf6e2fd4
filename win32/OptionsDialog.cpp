#include "OptionsDialog.h"

#include "CommonControls.h"
#include "Desktop.h"
#include "Errors.h"
#include "Files.h"
#include "GuardedCall.h"
#include "LauncherLog.h"
#include "Messages.h"
#include "WideText.h"

#include <commctrl.h>

#include <array>
#include <initializer_list>

namespace {

constexpr const wchar_t* kClassName = L"TForm1";
constexpr int kWidth = 220;
constexpr int kHeight = 300;

// The controls' identifiers.
enum : int {
    kComboBox1 = 101,
    kComboBox2,
    kComboBox3,
    kComboBox4,
    kCheckBox1,
    kCheckBox2,
    kCheckBox3,
    kSpeedButton1,
    kSpeedButton2,
    kSpeedButton3,
};

// The colours of the dialog's controls over the dark skin.
constexpr COLORREF kTextColor = RGB(202, 202, 202);
constexpr COLORREF kButtonTextColor = RGB(232, 232, 232);
constexpr COLORREF kCheckBoxColor = RGB(34, 53, 83);
constexpr COLORREF kListColor = RGB(47, 60, 83);
constexpr COLORREF kBorderColor = RGB(88, 108, 140);
constexpr COLORREF kLinkColor = RGB(140, 162, 196);

// The link to the log's folder, under the backup switch.
constexpr RECT kLinkBounds{35, 75, 35 + 150, 75 + 13};

// The labels, drawn over the skin.
struct TDialogLabel {
    int left, top, width, height;
    const char* text;
    bool bold;
};
constexpr std::array<TDialogLabel, 6> kLabels{{
    {39, 42, 143, 13, game_options_text::UpdateSettings, true},
    {49, 88, 123, 13, game_options_text::GameSettings, true},
    {20, 111, 69, 13, game_options_text::Resolution, false},
    {20, 135, 79, 13, game_options_text::ColourDepth, false},
    {20, 159, 48, 13, game_options_text::RefreshRate, false},
    {32, 224, 24, 13, game_options_text::PartyLooting, false},
}};

HFONT MakeFont(bool bold, bool underline = false) {
    return CreateFontW(-11, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, underline, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
}

int Selection(HWND list) {
    return static_cast<int>(SendMessageW(list, CB_GETCURSEL, 0, 0));
}

void Select(HWND list, int index) {
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

bool Checked(HWND box) {
    return SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Check(HWND box, bool checked) {
    SendMessageW(box, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

} // namespace

TForm1::TForm1(HWND mainWindow, TLauncherSettings& launcherSettings)
    : mainWindow_(mainWindow), launcherSettings_(launcherSettings) {}

TForm1::~TForm1() {
    if (hwnd_ != nullptr) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
    for (HGDIOBJ object :
         std::initializer_list<HGDIOBJ>{font_, boldFont_, linkFont_, listBrush_, checkBrush_})
        if (object != nullptr)
            DeleteObject(object);
}

void TForm1::Create(HINSTANCE instance) {
    LoadCommonControls();
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &TForm1::WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kClassName;
    RegisterClassExW(&windowClass);
    // Owned by the main window: above it, and minimised with it.
    hwnd_ = CreateWindowExW(
        WS_EX_CONTROLPARENT, kClassName, platform::Wide(game_options_text::Title).c_str(),
        WS_POPUP | WS_CLIPCHILDREN, 0, 0, kWidth, kHeight, mainWindow_, nullptr, instance, this);
    if (hwnd_ == nullptr)
        throw Exception("The options window could not be made: " +
                        platform::SystemErrorText(GetLastError()));
}

LRESULT CALLBACK TForm1::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* dialog =
            static_cast<TForm1*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        dialog->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(dialog));
    }
    auto* dialog = reinterpret_cast<TForm1*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (dialog == nullptr)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    LRESULT result = 0;
    if (!GuardedCall([&] { result = dialog->Handle(msg, wParam, lParam); }))
        return 0;
    return result;
}

LRESULT TForm1::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE:
        CreateControls();
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd_, &paint);
        Paint(dc);
        EndPaint(hwnd_, &paint);
        return 0;
    }
    case WM_CTLCOLORSTATIC: // the check boxes
    case WM_CTLCOLORBTN: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, kTextColor);
        SetBkColor(dc, kCheckBoxColor);
        return reinterpret_cast<LRESULT>(checkBrush_);
    }
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLOREDIT: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, kTextColor);
        SetBkColor(dc, kListColor);
        return reinterpret_cast<LRESULT>(listBrush_);
    }
    case WM_SETCURSOR:
        // The link takes the hand, as links do.
        if (reinterpret_cast<HWND>(wParam) == speedButton3_ && speedButton3_ != nullptr) {
            SetCursor(LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        }
        return DefWindowProcW(hwnd_, msg, wParam, lParam);
    case WM_DRAWITEM:
        DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == kSpeedButton1)
            SpeedButton1Click();
        else if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == kSpeedButton2)
            SpeedButton2Click();
        else if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == kSpeedButton3)
            SpeedButton3Click();
        return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
    case WM_MOUSEMOVE:
    case WM_CAPTURECHANGED:
        drag_.HandleMessage(hwnd_, msg, wParam, lParam);
        return 0;
    case WM_CLOSE:
        CloseDialog();
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        hwnd_ = nullptr;
        return 0;
    default:
        return DefWindowProcW(hwnd_, msg, wParam, lParam);
    }
}

void TForm1::CreateControls() {
    font_ = MakeFont(false);
    boldFont_ = MakeFont(true);
    linkFont_ = MakeFont(false, true);
    listBrush_ = CreateSolidBrush(kListColor);
    checkBrush_ = CreateSolidBrush(kCheckBoxColor);
    const HINSTANCE instance =
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd_, GWLP_HINSTANCE));
    const auto control = [&](const wchar_t* kind, const std::string& text, DWORD style, int left,
                             int top, int width, int height, int id) {
        HWND made = CreateWindowExW(
            0, kind, platform::Wide(text).c_str(), WS_CHILD | WS_VISIBLE | style, left, top, width,
            height, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
        SendMessageW(made, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        return made;
    };
    const auto list = [&](int left, int top, int width, int id, const auto& items) {
        // The height includes the drop-down part.
        HWND made = control(WC_COMBOBOXW, "", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, left, top,
                            width, 21 + 20 * static_cast<int>(items.size()), id);
        for (const auto& item : items)
            SendMessageW(made, CB_ADDSTRING, 0,
                         reinterpret_cast<LPARAM>(platform::Wide(item).c_str()));
        SendMessageW(made, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        // Drawn in the dialog's own colours, not the theme's.
        DrawWithoutTheme(made);
        return made;
    };
    const auto checkBox = [&](int left, int top, int width, int height, const char* text, int id) {
        HWND made =
            control(WC_BUTTONW, text, BS_AUTOCHECKBOX | WS_TABSTOP, left, top, width, height, id);
        DrawWithoutTheme(made); // the theme would ignore the text colour
        return made;
    };
    namespace text = game_options_text;
    std::array<const char*, kResolutions.size()> resolutions{};
    for (std::size_t i = 0; i < kResolutions.size(); ++i)
        resolutions[i] = kResolutions[i].Text;

    // Made in their tab order: the lists and switches from top to bottom, the
    // backup switch last.
    comboBox1_ = list(100, 108, 100, kComboBox1, resolutions);
    comboBox2_ = list(100, 132, 100, kComboBox2, kColourBitsTexts);
    comboBox3_ = list(100, 156, 100, kComboBox3, kRefreshRateTexts);
    checkBox1_ = checkBox(35, 182, 150, 17, text::KeepMinFrameRate, kCheckBox1);
    checkBox2_ = checkBox(62, 200, 97, 17, text::FullScreen, kCheckBox2);
    comboBox4_ = list(66, 221, 127, kComboBox4, kLootTexts);
    checkBox3_ = checkBox(30, 58, 160, 17, text::CreateBackup, kCheckBox3);
    // Flat buttons that take no focus.
    speedButton1_ = control(WC_BUTTONW, text::Accept, BS_OWNERDRAW, 48, 256, 59, 25, kSpeedButton1);
    speedButton2_ =
        control(WC_BUTTONW, text::Cancel, BS_OWNERDRAW, 114, 256, 59, 25, kSpeedButton2);
    speedButton3_ = control(WC_BUTTONW, kLogFolderLink, BS_OWNERDRAW, kLinkBounds.left,
                            kLinkBounds.top, kLinkBounds.right - kLinkBounds.left,
                            kLinkBounds.bottom - kLinkBounds.top, kSpeedButton3);
}

void TForm1::Paint(HDC dc) {
    skin_.Draw(dc, 0, 0);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kTextColor);
    for (const TDialogLabel& label : kLabels) {
        HGDIOBJ old = SelectObject(dc, label.bold ? boldFont_ : font_);
        RECT bounds{label.left, label.top, label.left + label.width, label.top + label.height};
        const std::wstring text = platform::Wide(label.text);
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &bounds,
                  DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
        SelectObject(dc, old);
    }
}

void TForm1::DrawButton(const DRAWITEMSTRUCT& item) {
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    if (item.CtlID == kSpeedButton3) {
        // Underlined text over the skin, lighter while pressed.
        skin_.DrawPart(item.hDC, 0, 0, kLinkBounds.left, kLinkBounds.top,
                       kLinkBounds.right - kLinkBounds.left, kLinkBounds.bottom - kLinkBounds.top);
        const std::wstring text = platform::Wide(kLogFolderLink);
        RECT bounds = item.rcItem;
        SetBkMode(item.hDC, TRANSPARENT);
        SetTextColor(item.hDC, pressed ? kButtonTextColor : kLinkColor);
        HGDIOBJ old = SelectObject(item.hDC, linkFont_);
        DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &bounds,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(item.hDC, old);
        return;
    }
    RECT bounds = item.rcItem;
    SetDCBrushColor(item.hDC, pressed ? RGB(20, 28, 42) : kListColor);
    FillRect(item.hDC, &bounds, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
    SetDCBrushColor(item.hDC, kBorderColor);
    FrameRect(item.hDC, &bounds, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
    wchar_t text[64] = {};
    GetWindowTextW(item.hwndItem, text, 64);
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC,
                 (item.itemState & ODS_DISABLED) != 0 ? RGB(120, 128, 140) : kButtonTextColor);
    HGDIOBJ old = SelectObject(item.hDC, font_);
    DrawTextW(item.hDC, text, -1, &bounds, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(item.hDC, old);
}

std::string TForm1::OptionFile() {
    return OptionFileOf(platform::CurrentFolder());
}

void TForm1::FormCreate() {
    skin_ = TPicture::FromResource(L"dialog_skin.bmp");
    if (!skin_.Empty())
        ApplySkin(hwnd_, skin_);
    // What was read before a switch that holds no Boolean is shown all the same.
    TGameOptions options = Choices();
    try {
        LoadGameOptions(OptionFile(), launcherSettings_, options);
    } catch (...) {
        ShowChoices(options);
        throw;
    }
    ShowChoices(options);
}

TGameOptions TForm1::Choices() const {
    TGameOptions options;
    options.Resolution = Selection(comboBox1_);
    options.ColourBits = Selection(comboBox2_);
    options.RefreshRate = Selection(comboBox3_);
    options.KeepMinFrameRate = Checked(checkBox1_);
    options.FullScreen = Checked(checkBox2_);
    options.PartyLooting = Selection(comboBox4_);
    options.CreateBackup = Checked(checkBox3_);
    return options;
}

void TForm1::ShowChoices(const TGameOptions& options) {
    Select(comboBox1_, options.Resolution);
    Select(comboBox2_, options.ColourBits);
    Select(comboBox3_, options.RefreshRate);
    Check(checkBox1_, options.KeepMinFrameRate);
    Check(checkBox2_, options.FullScreen);
    Select(comboBox4_, options.PartyLooting);
    Check(checkBox3_, options.CreateBackup);
}

void TForm1::Open() {
    EnableWindow(mainWindow_, FALSE);
    if (!placed_) {
        RECT main{}, own{};
        GetWindowRect(mainWindow_, &main);
        GetWindowRect(hwnd_, &own);
        SetWindowPos(hwnd_, nullptr,
                     main.left + ((main.right - main.left) - (own.right - own.left)) / 2,
                     main.top + ((main.bottom - main.top) - (own.bottom - own.top)) / 2, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        placed_ = true;
        SetFocus(comboBox1_);
    }
    ShowWindow(hwnd_, SW_SHOW);
    SetForegroundWindow(hwnd_);
}

void TForm1::SpeedButton1Click() {
    SaveGameOptions(OptionFile(), Choices(), launcherSettings_);
    CloseDialog();
}

void TForm1::SpeedButton2Click() {
    CloseDialog();
}

void TForm1::SpeedButton3Click() {
    platform::OpenFolder(LauncherLogFolder());
}

void TForm1::CloseDialog() {
    // The main window first, so that the system activates it and not another
    // program's window when this one goes.
    EnableWindow(mainWindow_, TRUE);
    ShowWindow(hwnd_, SW_HIDE);
    SetForegroundWindow(mainWindow_);
}

bool TForm1::PreTranslate(MSG& message) {
    return hwnd_ != nullptr && IsWindowVisible(hwnd_) && IsDialogMessageW(hwnd_, &message);
}
