#include "FakeInput.h"

#ifdef QUENMOR_HAVE_XCB

#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <sys/uio.h>

#include <cstdint>
#include <cstdlib>

namespace {

// XTEST's FakeInput request, as the X protocol lays it out.
xcb_extension_t xtestExtension = {"XTEST", 0};
constexpr std::uint8_t FakeInputOpcode = 2;

struct FakeInputRequest {
    std::uint8_t majorOpcode = 0;
    std::uint8_t minorOpcode = 0;
    std::uint16_t length = 0;
    std::uint8_t type = 0;
    std::uint8_t detail = 0;
    std::uint8_t pad0[2] = {};
    std::uint32_t time = 0; // CurrentTime
    std::uint32_t root = 0;
    std::uint8_t pad1[8] = {};
    std::int16_t rootX = 0;
    std::int16_t rootY = 0;
    std::uint8_t pad2[7] = {};
    std::uint8_t deviceId = 0;
};
static_assert(sizeof(FakeInputRequest) == 36);

} // namespace

FakeInput::FakeInput() {
    int screen = 0;
    connection_ = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(connection_) != 0)
        return;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (; it.rem > 0 && screen > 0; --screen)
        xcb_screen_next(&it);
    if (it.rem == 0)
        return;
    root_ = it.data->root;
    const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(connection_, &xtestExtension);
    available_ = xtest != nullptr && xtest->present != 0;
}

FakeInput::~FakeInput() {
    if (connection_ != nullptr)
        xcb_disconnect(connection_);
}

void FakeInput::Send(int type, int detail, QPoint global) {
    if (!available_)
        return;
    FakeInputRequest request;
    request.type = static_cast<std::uint8_t>(type);
    request.detail = static_cast<std::uint8_t>(detail);
    request.root = root_;
    request.rootX = static_cast<std::int16_t>(global.x());
    request.rootY = static_cast<std::int16_t>(global.y());
    iovec vec[4] = {};
    vec[2].iov_base = &request;
    vec[2].iov_len = sizeof request;
    const xcb_protocol_request_t protocol = {2, &xtestExtension, FakeInputOpcode, 1};
    xcb_send_request(connection_, 0, vec + 2, &protocol);
    xcb_flush(connection_);
}

void FakeInput::MoveTo(QPoint global) {
    Send(XCB_MOTION_NOTIFY, 0, global);
}

void FakeInput::Press(int button) {
    Send(XCB_BUTTON_PRESS, button, {});
    held_ |= 1u << button;
}

void FakeInput::Release(int button) {
    Send(XCB_BUTTON_RELEASE, button, {});
    held_ &= ~(1u << button);
}

void FakeInput::ReleaseAll() {
    for (int button = 1; button <= 5; ++button)
        if ((held_ & (1u << button)) != 0)
            Release(button);
    Sync();
}

void FakeInput::Sync() {
    if (!available_)
        return;
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

#else // no libxcb to build against: every on-screen pointer test skips

FakeInput::FakeInput() = default;
FakeInput::~FakeInput() = default;
void FakeInput::Send(int, int, QPoint) {}
void FakeInput::MoveTo(QPoint) {}
void FakeInput::Press(int) {}
void FakeInput::Release(int) {}
void FakeInput::ReleaseAll() {}
void FakeInput::Sync() {}

#endif
