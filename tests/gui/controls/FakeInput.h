// Real pointer input for the on-screen tests: the X server's XTEST extension
// moves the pointer and presses its buttons as a user would, so the server
// itself decides which window gets them (window shapes included).
#pragma once

#include <QPoint>

struct xcb_connection_t;

class FakeInput {
public:
    // Opens a connection of its own to the display in $DISPLAY.
    FakeInput();
    ~FakeInput();
    FakeInput(const FakeInput&) = delete;
    FakeInput& operator=(const FakeInput&) = delete;

    // Whether there is an X server with XTEST to talk to.
    bool Available() const { return available_; }

    // Screen coordinates; buttons as X numbers them (1 left, 2 middle, 3 right).
    void MoveTo(QPoint global);
    void Press(int button);
    void Release(int button);
    // Lets go of every button still held (after a test that failed midway).
    void ReleaseAll();
    // Returns once the server has carried out everything sent so far.
    void Sync();

private:
    void Send(int type, int detail, QPoint global);

    xcb_connection_t* connection_ = nullptr;
    unsigned root_ = 0;
    unsigned held_ = 0; // bit n: button n is down
    bool available_ = false;
};
