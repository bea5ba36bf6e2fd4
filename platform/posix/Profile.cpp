#include "Profile.h"

#include "Errors.h"
#include "Files.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kCrLf = "\r\n";
// Symbolic links followed before giving up, as the kernel does.
constexpr int kMaxLinkHops = 40;

// Ctrl-Z, the end-of-file byte of DOS editors, is a blank as well.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\x1A';
}

std::string_view TrimLeft(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    return text;
}

std::string_view Trim(std::string_view text) {
    text = TrimLeft(text);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}

enum class LineKind { Other, Section, Key };

// One line of the file, as offsets into its content.
struct Line {
    std::size_t begin = 0;      // first byte
    std::size_t contentEnd = 0; // end of the text, before the line ending
    std::size_t end = 0;        // after the line ending
    LineKind kind = LineKind::Other;
    std::string_view name;  // section or key name, without blanks
    std::string_view value; // key value, without blanks
};

void Classify(std::string_view text, Line& line) {
    text = TrimLeft(text);
    if (text.empty())
        return;
    if (text.front() == '[') {
        // The name runs to the last "]"; a "[" line without one is read like
        // any other line.
        const std::size_t close = text.rfind(']');
        if (close != std::string_view::npos) {
            line.kind = LineKind::Section;
            line.name = Trim(text.substr(1, close - 1));
            return;
        }
    }
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos)
        return;
    line.kind = LineKind::Key;
    line.name = Trim(text.substr(0, equals));
    line.value = Trim(text.substr(equals + 1));
}

std::vector<Line> SplitLines(std::string_view content) {
    std::vector<Line> lines;
    std::size_t at = content.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
    while (at < content.size()) {
        Line line;
        line.begin = at;
        // A line ends with LF, CR LF or a CR alone.
        const std::size_t ending = content.find_first_of("\r\n", at);
        if (ending == std::string_view::npos) {
            line.contentEnd = line.end = content.size();
        } else {
            line.contentEnd = ending;
            line.end = content.substr(ending, 2) == kCrLf ? ending + 2 : ending + 1;
        }
        Classify(content.substr(line.begin, line.contentEnd - line.begin), line);
        lines.push_back(line);
        at = line.end;
    }
    return lines;
}

// Where a key stands: whether its section is there, the section's line (none
// for the nameless section at the top), the line after the section's last
// line, and the first line of the key in it.
struct Place {
    bool section = false;
    std::size_t header = kNone;
    std::size_t sectionEnd = kNone;
    std::size_t key = kNone;
};

// The section with the empty name is the lines before the first section
// line, always there; a "[]" line starts a section that no name finds.
Place Locate(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    Place place;
    if (section.empty()) {
        place.section = true;
    } else {
        for (std::size_t i = 0; i < lines.size() && !place.section; ++i) {
            if (lines[i].kind == LineKind::Section && SameName(lines[i].name, section)) {
                place.section = true;
                place.header = i;
            }
        }
        if (!place.section)
            return place;
    }
    std::size_t i = place.header == kNone ? 0 : place.header + 1;
    for (; i < lines.size() && lines[i].kind != LineKind::Section; ++i)
        if (place.key == kNone && lines[i].kind == LineKind::Key && SameName(lines[i].name, key))
            place.key = i;
    place.sectionEnd = i;
    return place;
}

enum class ReadResult { Read, Missing, Failed };

ReadResult ReadWholeFile(const std::string& path, std::string& content) {
    content.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ReadResult::Failed;
    }
    content.reserve(static_cast<std::size_t>(st.st_size));
    std::array<char, 16384> buffer{};
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return ReadResult::Failed;
        }
        if (n == 0)
            break;
        content.append(buffer.data(), static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ReadResult::Read;
}

// The value as the Windows call hands it out: matching quotes removed, cut to
// the length of its buffer.
std::string_view ReadableValue(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value.substr(0, std::min(value.size(), kMaxProfileValueLength));
}

// The line ending the file already uses (that of its first line).
std::string_view LineEndingOf(std::string_view content) {
    const std::size_t ending = content.find_first_of("\r\n");
    if (ending == std::string_view::npos || content.substr(ending, 2) == kCrLf)
        return kCrLf;
    return content.substr(ending, 1);
}

// Whether the names and the value can be written as a "key=value" line that
// reads back as the same key.
bool CanCarry(std::string_view section, std::string_view key, std::string_view value) {
    for (const std::string_view text : {section, key, value})
        if (text.find_first_of("\r\n") != std::string_view::npos)
            return false;
    const std::string_view name = Trim(key);
    return !name.empty() && name.find('=') == std::string_view::npos && name.front() != '[';
}

std::string Updated(std::string_view content, std::string_view section, std::string_view key,
                    std::string_view value) {
    const std::vector<Line> lines = SplitLines(content);
    const Place place = Locate(lines, section, key);
    const std::string_view eol = LineEndingOf(content);
    std::string result(content);

    if (place.key != kNone) {
        // The key keeps the spelling it has in the file.
        const Line& line = lines[place.key];
        std::string entry(line.name);
        entry += '=';
        entry += value;
        result.replace(line.begin, line.contentEnd - line.begin, entry);
        return result;
    }

    std::string entry(key);
    entry += '=';
    entry += value;
    if (place.section) {
        // After the section's last line with text, so that blank lines before
        // the next section stay where they are.
        std::size_t last = place.header;
        for (std::size_t i = place.header == kNone ? 0 : place.header + 1; i < place.sectionEnd;
             ++i)
            if (!Trim(content.substr(lines[i].begin, lines[i].contentEnd - lines[i].begin)).empty())
                last = i;
        if (last == kNone) {
            // The nameless section without a line yet: at the file's start.
            // A key that begins with the byte order mark goes below a blank
            // line there, where it is not taken for the file's own mark.
            const bool marked = content.starts_with(kByteOrderMark);
            const std::string blank =
                !marked && entry.starts_with(kByteOrderMark) ? std::string(eol) : std::string();
            result.insert(marked ? kByteOrderMark.size() : 0, blank + entry + std::string(eol));
            return result;
        }
        const Line& line = lines[last];
        if (line.end == line.contentEnd) // the file's last line, without a line ending
            result.insert(line.end, std::string(eol) + entry);
        else
            result.insert(line.end, entry + std::string(eol));
        return result;
    }

    if (!lines.empty() && lines.back().end == lines.back().contentEnd)
        result += eol;
    result += '[';
    result += section;
    result += ']';
    result += eol;
    result += entry;
    result += eol;
    return result;
}

// The file a path finally names, following symbolic links (a dangling link
// names the file it would point to). A loop is left unresolved and then fails
// the access check.
std::string FollowLinks(const std::string& path) {
    namespace fs = std::filesystem;
    fs::path current(path);
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(current, error)))
            break;
        const fs::path next = fs::read_symlink(current, error);
        if (error)
            break;
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    return current.string();
}

// Whether we may replace the file: a regular file (or none yet) that is not
// read-only, in a folder that exists and takes new files. The superuser passes
// every permission check, so a file without any write permission counts as
// read-only on its own, as the read-only attribute does on Windows.
bool MayWrite(const std::string& target) {
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode) || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
            ::access(target.c_str(), W_OK) != 0)
            return false;
    } else if (errno != ENOENT) {
        return false;
    }
    const std::filesystem::path folder = std::filesystem::path(target).parent_path();
    return ::access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) == 0;
}

// Writes of this process go one after the other, so that two of them on the
// same file do not lose one another's change.
std::mutex writeLock;

} // namespace

std::string GetProfileString(const std::string& file, std::string_view section,
                             std::string_view key, std::string_view defaultValue) {
    std::string content;
    if (ReadWholeFile(file, content) != ReadResult::Read)
        return std::string(defaultValue);
    const std::vector<Line> lines = SplitLines(content);
    const Place place = Locate(lines, Trim(section), Trim(key));
    if (place.key == kNone)
        return std::string(defaultValue);
    return std::string(ReadableValue(lines[place.key].value));
}

void WriteProfileString(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view value) {
    const std::string refused = FormatText("Unable to write to %s", file);
    if (!CanCarry(section, key, value))
        throw EInOutError(refused);

    const std::lock_guard lock(writeLock);
    const std::string target = FollowLinks(file);
    if (!MayWrite(target))
        throw EInOutError(refused);
    std::string content;
    if (ReadWholeFile(target, content) == ReadResult::Failed)
        throw EInOutError(refused);
    const std::string updated = Updated(content, Trim(section), Trim(key), Trim(value));
    if (updated == content)
        return;
    try {
        AtomicFile out(target);
        out.Write(updated.data(), updated.size());
        out.Commit();
    } catch (const EInOutError& e) {
        throw EInOutError(refused, e.what());
    }
}

} // namespace platform
