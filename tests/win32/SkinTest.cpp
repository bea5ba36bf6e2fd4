#include "Skin.h"
#include "SkinOutline.h"
#include "Win32TestSupport.h"

#include <ostream>
#include <vector>

// For gtest's messages.
void PrintTo(const TWindowPos& pos, std::ostream* out) {
    *out << "(" << pos.Left << ", " << pos.Top << ")";
}

namespace {

using TSkinTest = TComTest;

std::vector<TOutlineRect> RegionRects(HRGN region) {
    const DWORD size = GetRegionData(region, 0, nullptr);
    std::vector<unsigned char> data(size);
    auto* rgn = reinterpret_cast<RGNDATA*>(data.data());
    if (size == 0 || GetRegionData(region, size, rgn) != size)
        return {};
    const auto* rects = reinterpret_cast<const RECT*>(rgn->Buffer);
    std::vector<TOutlineRect> out;
    for (DWORD i = 0; i < rgn->rdh.nCount; ++i)
        out.push_back({rects[i].left, rects[i].top, rects[i].right, rects[i].bottom});
    return out;
}

TWindowPos Corner(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return {rect.left, rect.top};
}

LPARAM At(int x, int y) {
    return MAKELPARAM(x, y);
}

} // namespace

TEST_F(TSkinTest, MainSkinRegionIsItsOutline) {
    const TPicture skin = TPicture::FromResource(L"main_skin.bmp");
    ASSERT_FALSE(skin.Empty());
    HRGN region = SkinRegion(skin);
    const std::vector<TOutlineRect> outline =
        SkinOutline(skin.Pixels(), skin.Width(), skin.Height(), skin.Width());
    ASSERT_GT(outline.size(), 1u);
    EXPECT_EQ(RegionRects(region), outline);

    // Key-coloured pixels are outside, all others inside.
    const std::uint32_t key = skin.Pixels()[0] & 0xFFFFFF;
    int outside = 0;
    for (int y = 0; y < skin.Height(); y += 3) {
        for (int x = 0; x < skin.Width(); x += 3) {
            const bool keyed = (skin.Pixels()[y * skin.Width() + x] & 0xFFFFFF) == key;
            ASSERT_EQ(PtInRegion(region, x, y) != FALSE, !keyed) << x << "," << y;
            outside += keyed;
        }
    }
    EXPECT_GT(outside, 0);
    EXPECT_FALSE(PtInRegion(region, skin.Width(), 100));
    DeleteObject(region);
}

TEST_F(TSkinTest, ApplySkinCutsTheWindow) {
    TTestWindow window(10, 10, 40, 30);
    ASSERT_NE(window.Handle(), nullptr);
    // Key colour in the corners of a 4 by 3 skin.
    const TPicture skin =
        BmpPicture(4, 3, {0xFF00FF, 1, 2, 0xFF00FF, 3, 4, 5, 6, 0xFF00FF, 7, 8, 9});
    ApplySkin(window.Handle(), skin);
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    ASSERT_EQ(GetWindowRgn(window.Handle(), region), COMPLEXREGION);
    EXPECT_EQ(RegionRects(region),
              (std::vector<TOutlineRect>{{1, 0, 3, 1}, {0, 1, 4, 2}, {1, 2, 4, 3}}));
    // An empty or an all-key skin leaves nothing of the window.
    ApplySkin(window.Handle(), TPicture{});
    EXPECT_EQ(GetWindowRgn(window.Handle(), region), NULLREGION);
    ApplySkin(window.Handle(), BmpPicture(3, 2, std::vector<std::uint32_t>(6, 0xFF00FF)));
    EXPECT_EQ(GetWindowRgn(window.Handle(), region), NULLREGION);
    DeleteObject(region);
}

TEST(TSkinDragTest, WindowFollowsThePointer) {
    TTestWindow window(100, 120, 300, 200);
    HWND w = window.Handle();
    ASSERT_NE(w, nullptr);
    TSkinDrag drag;
    EXPECT_FALSE(drag.HandleMessage(w, WM_MOUSEMOVE, 0, At(80, 75)));
    EXPECT_EQ(Corner(w).Left, 100);

    ASSERT_TRUE(drag.HandleMessage(w, WM_LBUTTONDOWN, MK_LBUTTON, At(60, 70)));
    EXPECT_TRUE(drag.Dragging());
    EXPECT_EQ(GetCapture(), w);
    EXPECT_TRUE(drag.HandleMessage(w, WM_MOUSEMOVE, MK_LBUTTON, At(80, 75)));
    EXPECT_EQ(Corner(w), (TWindowPos{120, 125}));
    // Off the window's top-left, with negative coordinates.
    EXPECT_TRUE(drag.HandleMessage(w, WM_MOUSEMOVE, MK_LBUTTON, At(-10, -5)));
    EXPECT_EQ(Corner(w), (TWindowPos{50, 50}));

    // A second button held: the first one's release ends the drag, the
    // capture stays until the last goes up.
    EXPECT_TRUE(drag.HandleMessage(w, WM_RBUTTONDOWN, MK_LBUTTON | MK_RBUTTON, At(5, 5)));
    EXPECT_TRUE(drag.HandleMessage(w, WM_LBUTTONUP, MK_RBUTTON, At(5, 5)));
    EXPECT_FALSE(drag.Dragging());
    EXPECT_EQ(GetCapture(), w);
    EXPECT_FALSE(drag.HandleMessage(w, WM_MOUSEMOVE, MK_RBUTTON, At(30, 30)));
    EXPECT_EQ(Corner(w).Left, 50);
    EXPECT_TRUE(drag.HandleMessage(w, WM_RBUTTONUP, 0, At(30, 30)));
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_FALSE(drag.HandleMessage(w, WM_MBUTTONUP, 0, At(30, 30)));

    // A double click's second press drags as well; losing the capture ends
    // the drag.
    TTestWindow other(0, 0, 10, 10);
    ASSERT_TRUE(drag.HandleMessage(w, WM_LBUTTONDBLCLK, MK_LBUTTON, At(10, 10)));
    EXPECT_TRUE(drag.HandleMessage(w, WM_MOUSEMOVE, MK_LBUTTON, At(20, 10)));
    EXPECT_EQ(Corner(w).Left, 60);
    // The window's own capture, taken again, changes nothing.
    EXPECT_FALSE(drag.HandleMessage(w, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(w)));
    EXPECT_TRUE(drag.Dragging());
    SetCapture(other.Handle());
    EXPECT_TRUE(
        drag.HandleMessage(w, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(other.Handle())));
    EXPECT_FALSE(drag.Dragging());
    EXPECT_FALSE(drag.HandleMessage(w, WM_MOUSEMOVE, MK_LBUTTON, At(40, 40)));
    EXPECT_FALSE(drag.HandleMessage(w, WM_LBUTTONUP, 0, At(40, 40)));
    EXPECT_EQ(GetCapture(), other.Handle()); // not this drag's to release
    ReleaseCapture();
}

namespace {

TSkinDrag* theDrag = nullptr;

LRESULT CALLBACK DragWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (theDrag && theDrag->HandleMessage(window, msg, wParam, lParam))
        return 0;
    return DefWindowProcW(window, msg, wParam, lParam);
}

// The pointer's action at (x, y) on the screen, through the input queue,
// then its messages handled for a fifth of a second.
POINT Pointer(DWORD action, int x, int y) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = (x * 65536 + 32768) / GetSystemMetrics(SM_CXSCREEN);
    input.mi.dy = (y * 65536 + 32768) / GetSystemMetrics(SM_CYSCREEN);
    input.mi.dwFlags = action | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &input, sizeof input);
    const ULONGLONG end = GetTickCount64() + 200;
    MSG msg;
    while (GetTickCount64() < end) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        Sleep(10);
    }
    POINT at{};
    GetCursorPos(&at);
    return at;
}

} // namespace

// The window system's own messages: the press point stays under the pointer.
TEST(TSkinDragTest, DraggedByThePointer) {
    TTestWindow window(100, 120, 300, 200);
    HWND w = window.Handle();
    SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DragWindowProc));
    ShowWindow(w, SW_SHOW);
    TSkinDrag drag;
    theDrag = &drag;
    const POINT press = Pointer(0, 160, 190);
    Pointer(MOUSEEVENTF_LEFTDOWN, 160, 190);
    EXPECT_TRUE(drag.Dragging());
    for (const POINT to : {POINT{200, 210}, POINT{320, 260}, POINT{90, 80}}) {
        const POINT at = Pointer(0, to.x, to.y);
        EXPECT_EQ(Corner(w), (TWindowPos{100 + at.x - press.x, 120 + at.y - press.y}));
    }
    Pointer(MOUSEEVENTF_LEFTUP, 90, 80);
    EXPECT_FALSE(drag.Dragging());
    EXPECT_EQ(GetCapture(), nullptr);
    theDrag = nullptr;
}
