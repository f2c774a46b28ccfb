#pragma once
// A browser window sent to an address: the desktop's own browser, through its URL opener.
#include <QString>
#include <functional>

namespace platform {

class BrowserAutomation {
public:
    // The desktop's browser shows its own window; nothing to do until an address is given.
    void SetVisible(bool visible) { visible_ = visible; }
    // Opens the address in the desktop's browser. False when no browser could be started.
    bool Navigate(const QString& url);

private:
    bool visible_ = false;
};

// Tests see the addresses instead of a browser starting; nullptr restores the real opener.
void SetUrlOpenerHook(std::function<bool(const QString& url)> hook);

}  // namespace platform
