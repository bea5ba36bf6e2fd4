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
};
