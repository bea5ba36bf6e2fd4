#include "Skin.h"
#include "SkinOutline.h"

#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

HRGN SkinRegion(const TPicture& skin) {
    const std::vector<TOutlineRect> outline =
        skin.Empty() ? std::vector<TOutlineRect>{}
                     : SkinOutline(skin.Pixels(), skin.Width(), skin.Height(), skin.Width());
    if (outline.empty())
        return CreateRectRgn(0, 0, 0, 0);

    // Region data: a header, then the rectangles, already in the y-x banded
    // order regions keep.
    const std::size_t rectsSize = outline.size() * sizeof(RECT);
    std::vector<unsigned char> data(sizeof(RGNDATAHEADER) + rectsSize);
    RGNDATAHEADER header{};
    header.dwSize = sizeof(RGNDATAHEADER);
    header.iType = RDH_RECTANGLES;
    header.nCount = static_cast<DWORD>(outline.size());
    header.nRgnSize = static_cast<DWORD>(rectsSize);
    header.rcBound = {outline.front().Left, outline.front().Top, outline.front().Right,
                      outline.back().Bottom};
    std::vector<RECT> rects;
    rects.reserve(outline.size());
    for (const TOutlineRect& r : outline) {
        rects.push_back({r.Left, r.Top, r.Right, r.Bottom});
        header.rcBound.left = std::min<LONG>(header.rcBound.left, r.Left);
        header.rcBound.right = std::max<LONG>(header.rcBound.right, r.Right);
    }
    std::memcpy(data.data(), &header, sizeof(header));
    std::memcpy(data.data() + sizeof(header), rects.data(), rectsSize);
    HRGN region = ExtCreateRegion(nullptr, static_cast<DWORD>(data.size()),
                                  reinterpret_cast<const RGNDATA*>(data.data()));
    return region ? region : CreateRectRgn(0, 0, 0, 0);
}

void ApplySkin(HWND window, const TPicture& skin) {
    HRGN region = SkinRegion(skin);
    // The window owns the region once it is set.
    if (region && !SetWindowRgn(window, region, TRUE))
        DeleteObject(region);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
}

namespace {

// The message's pointer position on the screen.
POINT ScreenPoint(HWND window, LPARAM lParam) {
    POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ClientToScreen(window, &point);
    return point;
}

// The window's top-left corner where SetWindowPos places it: on the screen
// for a top-level window, in its parent's client area for a child.
POINT WindowCorner(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    POINT corner{rect.left, rect.top};
    if (GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD)
        ScreenToClient(GetParent(window), &corner);
    return corner;
}

void MoveTo(HWND window, int left, int top) {
    SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

constexpr WPARAM AnyButton = MK_LBUTTON | MK_RBUTTON | MK_MBUTTON;

} // namespace

bool TSkinDrag::HandleMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    // A double click's second press is a press (as Qt's window takes it),
    // for windows whose class asks for double clicks.
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDBLCLK: {
        // The press point in the window's coordinates, from the screen.
        const POINT point = ScreenPoint(window, lParam);
        RECT rect{};
        GetWindowRect(window, &rect);
        drag_.MouseDown(point.x - rect.left, point.y - rect.top);
        captured_ = true;
        SetCapture(window);
        return true;
    }
    case WM_MOUSEMOVE: {
        if (!drag_.Dragging)
            return false;
        const POINT point = ScreenPoint(window, lParam);
        RECT rect{};
        GetWindowRect(window, &rect);
        const POINT corner = WindowCorner(window);
        const std::optional<TWindowPos> to =
            drag_.MouseMove(point.x - rect.left, point.y - rect.top, corner.x, corner.y);
        if (!to)
            return false;
        // Two moves, the left edge first, each from where the window is by
        // then.
        MoveTo(window, to->Left, corner.y);
        const POINT now = WindowCorner(window);
        MoveTo(window, now.x, now.y + to->Top - corner.y);
        return true;
    }
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: {
        const bool took = drag_.Dragging || captured_;
        drag_.MouseUp();
        // wParam holds the buttons still down.
        if (captured_ && !(wParam & AnyButton)) {
            captured_ = false;
            if (GetCapture() == window)
                ReleaseCapture();
        }
        return took;
    }
    case WM_CAPTURECHANGED: {
        if (reinterpret_cast<HWND>(lParam) == window || !captured_)
            return false;
        captured_ = false;
        drag_.MouseUp();
        return true;
    }
    default:
        return false;
    }
}
