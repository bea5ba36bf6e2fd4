// Clean-up that must happen however a scope is left: run once, at the end of
// the scope or earlier through Run, unless dismissed.
#pragma once

#include <functional>
#include <utility>

class ScopeGuard {
public:
    explicit ScopeGuard(std::function<void()> cleanUp) : cleanUp_(std::move(cleanUp)) {}
    ~ScopeGuard() {
        // A clean-up that raises while the scope is left by an exception
        // would end the program; what it could not do is left as it is.
        try {
            Run();
        } catch (...) {
        }
    }
    ScopeGuard(const ScopeGuard&) = delete;
    ScopeGuard& operator=(const ScopeGuard&) = delete;

    void Run() {
        if (auto cleanUp = std::exchange(cleanUp_, nullptr))
            cleanUp();
    }
    void Dismiss() { cleanUp_ = nullptr; }

private:
    std::function<void()> cleanUp_;
};
