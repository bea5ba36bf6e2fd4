#include "LstFile.h"

#include "Files.h"

#include "Errors.h"
#include "Misc.h"

#include <fstream>
#include <iterator>
#include <string_view>

TListFile::TListFile(std::string path) : path_(std::move(path)) {}

// The stripped lines of the file. Lines end with LF (a CR before it, or
// anywhere else, is dropped with the other blanks at the ends; a CR inside a
// line goes too); Ctrl-Z ends the file.
std::vector<std::string> TListFile::ReadLines() const {
    std::ifstream in(platform::FsPath(path_), std::ios::binary);
    if (!in)
        throw EInOutError("Cannot open file \"" + path_ + "\"");
    const std::string content((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    if (in.bad())
        throw EInOutError("Cannot read file \"" + path_ + "\"");
    std::string_view text(content);
    if (const std::size_t eof = text.find('\x1A'); eof != std::string_view::npos)
        text = text.substr(0, eof);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view raw = text.substr(start, end - start);
        std::string line;
        if (raw.find('\r') == std::string_view::npos) {
            line = TrimControl(raw);
        } else {
            for (char c : raw)
                if (c != '\r')
                    line += c;
            line = std::string(TrimControl(line));
        }
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> TListFile::GetSection(const std::string& name) const {
    const std::vector<std::string> lines = ReadLines();
    const std::string opening = "[" + name + "]";
    const std::string closing = "[/" + name + "]";
    std::vector<std::string> result;
    std::size_t i = 0;
    while (i < lines.size() && lines[i] != opening)
        ++i;
    if (i < lines.size()) {
        // A section left open at the end of the file gives the lines it has.
        for (++i; i < lines.size() && lines[i] != closing; ++i)
            if (!lines[i].empty())
                result.push_back(lines[i]);
    }
    if (result.empty())
        result.emplace_back(kEmptySection);
    return result;
}

std::string TListFile::GetValue(const std::string& section, const std::string& key) const {
    const std::vector<std::string> lines = ReadLines();
    const std::string opening = "[" + section + "]";
    const std::string closing = "[/" + section + "]";
    std::size_t i = 0;
    while (i < lines.size() && lines[i] != opening)
        ++i;
    for (++i; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (!line.empty()) {
            const std::vector<std::string> fields = SplitFromEnd(line, "|");
            if (!fields.empty() && fields.back() == key)
                return fields.front();
        }
        if (line == closing)
            break;
    }
    return {};
}
