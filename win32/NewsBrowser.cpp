#include "NewsBrowser.h"

#include "WideText.h"

#include <exdisp.h>
#include <exdispid.h>
#include <ocidl.h>
#include <ole2.h>
#include <oleauto.h>

#include <atomic>
#include <cwchar>

namespace {

constexpr const wchar_t* kPanelClass = L"QuenmorNewsPanel";

// The panel's window: a plain child that the control's own window fills.
LRESULT CALLBACK PanelProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ERASEBKGND)
        return 1; // the control paints all of it; a blank panel keeps the parent's look
    return ::DefWindowProcW(window, message, wParam, lParam);
}

HWND MakePanel(HWND parent, const RECT& bounds) {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSW panelClass{};
    panelClass.lpfnWndProc = PanelProcedure;
    panelClass.hInstance = instance;
    panelClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    panelClass.lpszClassName = kPanelClass;
    ::RegisterClassW(&panelClass); // fails harmlessly for the second panel
    return ::CreateWindowExW(0, kPanelClass, L"", WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                             bounds.left, bounds.top, bounds.right - bounds.left,
                             bounds.bottom - bounds.top, parent, nullptr, instance, nullptr);
}

// Whether two interface pointers are of the same object (COM's identity).
bool SameObject(IUnknown* one, IUnknown* other) {
    if (!one || !other)
        return false;
    IUnknown* first = nullptr;
    IUnknown* second = nullptr;
    const bool same =
        SUCCEEDED(one->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&first))) &&
        SUCCEEDED(other->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&second))) &&
        first == second;
    if (first)
        first->Release();
    if (second)
        second->Release();
    return same;
}

// Whether the address of a page the control shows is its own page of a
// failed navigation.
bool IsFailurePage(const VARIANT& address) {
    const VARIANT* value = &address;
    if (value->vt == (VT_BYREF | VT_VARIANT) && value->pvarVal)
        value = value->pvarVal;
    if (value->vt != VT_BSTR || !value->bstrVal)
        return false;
    return ::_wcsnicmp(value->bstrVal, L"res://", 6) == 0;
}

template <typename T> void Release(T*& pointer) {
    if (pointer)
        pointer->Release();
    pointer = nullptr;
}

} // namespace

// COM objects go by their own Release, never by a delete through an
// interface, which has no virtual destructor to ask for.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// The container's side of the control in place: its client site, its site
// in place and the frame around it, with no menus, toolbars or documents of
// its own. The control holds references to it; the panel's window and area
// are what it hands out.
class TNewsBrowser::TSite final : public IOleClientSite,
                                  public IOleInPlaceSite,
                                  public IOleInPlaceFrame {
public:
    explicit TSite(HWND panel) : panel_(panel) {}
    TSite(const TSite&) = delete;
    TSite& operator=(const TSite&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IOleClientSite)
            *object = static_cast<IOleClientSite*>(this);
        else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite)
            *object = static_cast<IOleInPlaceSite*>(this);
        else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame)
            *object = static_cast<IOleInPlaceFrame*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }

    // IOleClientSite
    HRESULT STDMETHODCALLTYPE SaveObject() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        if (moniker)
            *moniker = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override {
        if (container)
            *container = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow, of the site and of the frame alike
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
        if (!window)
            return E_POINTER;
        *window = panel_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame,
                                               IOleInPlaceUIWindow** document, LPRECT position,
                                               LPRECT clip,
                                               LPOLEINPLACEFRAMEINFO frameInfo) override {
        if (frame) {
            *frame = this;
            AddRef();
        }
        if (document)
            *document = nullptr;
        RECT area{};
        ::GetClientRect(panel_, &area);
        if (position)
            *position = area;
        if (clip)
            *clip = area;
        if (frameInfo) {
            frameInfo->fMDIApp = FALSE;
            frameInfo->hwndFrame = ::GetAncestor(panel_, GA_ROOT);
            frameInfo->haccel = nullptr;
            frameInfo->cAccelEntries = 0;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return E_NOTIMPL; }
    // The panel's area is the window's to say: the control keeps it.
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }

    // IOleInPlaceUIWindow: no room for the control's toolbars.
    HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override {
        return INPLACE_E_NOTOOLSPACE;
    }
    HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override {
        return S_OK;
    }

    // IOleInPlaceFrame: no menus and no status line of the control's.
    HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

private:
    ~TSite() = default;

    const HWND panel_;
    std::atomic<ULONG> references_{1};
};

// The sink of the control's DWebBrowserEvents2: a page shown in the top frame
// goes to the browser's OnNavigateComplete while the browser is there.
class TNewsBrowser::TEvents final : public IDispatch {
public:
    explicit TEvents(TNewsBrowser* owner) : owner_(owner) {}
    TEvents(const TEvents&) = delete;
    TEvents& operator=(const TEvents&) = delete;

    // The browser is going; an event that still comes finds nobody.
    void Detach() { owner_ = nullptr; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID_DWebBrowserEvents2) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }

    // IDispatch: the control calls Invoke by number; nothing else is asked.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count)
            *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info)
            *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* parameters,
                                     VARIANT*, EXCEPINFO*, UINT*) override {
        if ((member != DISPID_NAVIGATECOMPLETE2 && member != DISPID_NAVIGATEERROR) || !owner_)
            return S_OK;
        // NavigateComplete2(IDispatch* frame, VARIANT* address) and
        // NavigateError(IDispatch* frame, VARIANT* address, VARIANT* target,
        // VARIANT* status, VARIANT_BOOL* cancel): the arguments come last
        // first. A frame's page is part of the page.
        if (!parameters || parameters->cArgs < 2)
            return S_OK;
        const VARIANT& frame = parameters->rgvarg[parameters->cArgs - 1];
        if (frame.vt == VT_DISPATCH && !SameObject(frame.pdispVal, owner_->browser_))
            return S_OK;
        const VARIANT& address = parameters->rgvarg[parameters->cArgs - 2];
        const bool failed = member == DISPID_NAVIGATEERROR || IsFailurePage(address);
        try {
            if (owner_->OnLoadingFinished)
                owner_->OnLoadingFinished(!failed);
            if (member == DISPID_NAVIGATECOMPLETE2 && owner_ && owner_->OnNavigateComplete)
                owner_->OnNavigateComplete();
        } catch (...) {
        }
        return S_OK;
    }

private:
    ~TEvents() = default;

    TNewsBrowser* owner_;
    std::atomic<ULONG> references_{1};
};

#pragma GCC diagnostic pop

TNewsBrowser::TNewsBrowser(HWND parent, RECT bounds) {
    panel_ = MakePanel(parent, bounds);
    if (!panel_)
        return;
    RECT area{0, 0, bounds.right - bounds.left, bounds.bottom - bounds.top};
    if (!Embed(area))
        TearDown();
}

TNewsBrowser::~TNewsBrowser() {
    TearDown();
    if (panel_)
        ::DestroyWindow(panel_);
}

bool TNewsBrowser::Embed(RECT area) {
    if (FAILED(::CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                  reinterpret_cast<void**>(&object_))))
        return false;
    site_ = new TSite(panel_);
    if (FAILED(object_->SetClientSite(site_)))
        return false;
    ::OleSetContainedObject(object_, TRUE);
    if (FAILED(object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_, 0, panel_, &area)))
        return false;
    if (FAILED(object_->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&browser_))) ||
        FAILED(object_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace_))))
        return false;
    inPlace_->SetObjectRects(&area, &area);
    // Script errors of the news page are the page's business, not the
    // player's: no message boxes of the control's.
    browser_->put_Silent(VARIANT_TRUE);

    IConnectionPointContainer* points = nullptr;
    if (FAILED(object_->QueryInterface(IID_IConnectionPointContainer,
                                       reinterpret_cast<void**>(&points))))
        return false;
    const HRESULT found = points->FindConnectionPoint(DIID_DWebBrowserEvents2, &connection_);
    points->Release();
    if (FAILED(found))
        return false;
    events_ = new TEvents(this);
    if (FAILED(connection_->Advise(events_, &cookie_))) {
        cookie_ = 0;
        return false;
    }
    return true;
}

void TNewsBrowser::TearDown() {
    if (events_)
        events_->Detach();
    if (connection_ && cookie_)
        connection_->Unadvise(cookie_);
    cookie_ = 0;
    Release(connection_);
    if (browser_)
        browser_->Stop();
    Release(browser_);
    if (inPlace_)
        inPlace_->InPlaceDeactivate();
    Release(inPlace_);
    if (object_) {
        object_->Close(OLECLOSE_NOSAVE);
        object_->SetClientSite(nullptr);
    }
    Release(object_);
    Release(events_);
    Release(site_);
}

bool TNewsBrowser::Created() const {
    return browser_ != nullptr;
}

void TNewsBrowser::Navigate(const std::string& utf8Url) {
    if (!browser_)
        return;
    BSTR address =
        ::SysAllocString(platform::Wide(utf8Url.empty() ? "about:blank" : utf8Url).c_str());
    if (!address)
        return;
    VARIANT empty;
    ::VariantInit(&empty);
    browser_->Navigate(address, &empty, &empty, &empty, &empty);
    ::SysFreeString(address);
}

void TNewsBrowser::Show(bool visible) {
    if (panel_)
        ::ShowWindow(panel_, visible ? SW_SHOW : SW_HIDE);
}
