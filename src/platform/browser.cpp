#include "platform/browser.h"

#include <QDesktopServices>
#include <QUrl>

namespace platform {

namespace {
std::function<bool(const QString&)> g_opener;
}

void SetUrlOpenerHook(std::function<bool(const QString&)> hook) { g_opener = std::move(hook); }

bool BrowserAutomation::Navigate(const QString& url) {
    if (!visible_) return false;  // an invisible browser would be no use to anyone
    if (g_opener) return g_opener(url);
    return QDesktopServices::openUrl(QUrl(url));
}

}  // namespace platform
