#include "NewsPage.h"

#include <QDesktopServices>
#include <QTimer>

bool IsExternalAddress(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
                             scheme == QLatin1String("mailto"));
}

namespace {

// Stands in for the new window a link asked for: its first navigation is the
// link's address, which goes to the player's browser; then it goes away.
class TExternalPage : public QWebEnginePage {
public:
    explicit TExternalPage(QObject* parent) : QWebEnginePage(parent) {
        // A window that never navigates (a script's empty window) goes too.
        QTimer::singleShot(10000, this, &QObject::deleteLater);
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override {
        if (!handled_) {
            handled_ = true;
            if (IsExternalAddress(url))
                QDesktopServices::openUrl(url);
            deleteLater();
        }
        return false;
    }

private:
    bool handled_ = false;
};

} // namespace

TNewsPage::TNewsPage(QObject* parent) : QWebEnginePage(parent) {}

QWebEnginePage* TNewsPage::createWindow(WebWindowType) {
    return new TExternalPage(this);
}

bool TNewsPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool) {
    static const QStringList shown = {QStringLiteral("http"), QStringLiteral("https"),
                                      QStringLiteral("file"), QStringLiteral("about"),
                                      QStringLiteral("data"), QStringLiteral("blob")};
    if (shown.contains(url.scheme().toLower()))
        return true;
    if (type == NavigationTypeLinkClicked && IsExternalAddress(url))
        QDesktopServices::openUrl(url);
    return false;
}
