// The faces of the launcher's windows. The artwork was laid out for Windows
// faces that do not exist here; these are the closest ones with Cyrillic
// letters (Liberation is metric-compatible with Arial).
#pragma once

#include <QFont>

// For "MS Sans Serif": every label, list and button of both windows.
inline QFont SansFont(int pixelSize, bool bold = false) {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

// For "Arial Narrow": the notice line of the main window.
inline QFont NarrowFont(int pixelSize) {
    QFont font(QStringLiteral("Liberation Sans Narrow"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    return font;
}
