// Whole-file reads and writes for the window tests.
#pragma once

#include <QDir>
#include <QFileInfo>
#include <QString>

#include <fstream>
#include <sstream>
#include <string>

inline std::string Read(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void Write(const QString& path, const std::string& text) {
    QDir().mkpath(QFileInfo(path).path());
    std::ofstream(path.toStdString(), std::ios::binary) << text;
}
