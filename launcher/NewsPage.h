// The page of the news browser: links that the news open in a new window go
// to the player's own web browser instead of a window of ours.
#pragma once

#include <QWebEnginePage>

// Whether an address may be handed to the player's web browser: web and mail
// addresses only, never local files or other programs' schemes.
bool IsExternalAddress(const QUrl& url);

class TNewsPage : public QWebEnginePage {
    Q_OBJECT

public:
    explicit TNewsPage(QObject* parent = nullptr);

protected:
    QWebEnginePage* createWindow(WebWindowType type) override;
    // The page itself shows web pages (and local ones); other schemes, which
    // the engine would hand to whatever program claims them, are refused,
    // except a clicked mail address, which goes to the player's mail program.
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
};
