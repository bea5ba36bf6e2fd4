#include "TreeScanner.h"

#include "PublishErrors.h"
#include "PublishFiles.h"
#include "PublishText.h"

#include "Files.h"
#include "Misc.h"
#include "Text.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace publish {

namespace fs = std::filesystem;

TreeScanner::TreeScanner(fs::path root) : root_(std::move(root)) {}

void TreeScanner::Scan() {
    std::error_code error;
    (void)fs::status(root_, error);
    if (error)
        throw EPublishError(SystemError("Cannot read", root_, error));
    std::vector<fs::path> chain{root_};
    ScanFolder(root_, "", chain);
}

void TreeScanner::ScanFolder(const fs::path& folder, const std::string& relative,
                             std::vector<fs::path>& chain) {
    std::error_code error;
    fs::directory_iterator it(folder, error);
    const fs::directory_iterator end;
    for (; !error && it != end; it.increment(error)) {
        const fs::path path = it->path();
        const std::string name = platform::PathText(path.filename());
        const std::string rel = relative.empty() ? name : relative + "/" + name;
        std::error_code statError;
        fs::file_status status = it->symlink_status(statError);
        if (statError)
            throw EPublishError(SystemError("Cannot read", path, statError));
        if (leaveOut) {
            // What a link leads to decides whether it is a folder; a broken
            // one is taken as a file.
            std::error_code ignored;
            const bool isFolder = fs::is_directory(fs::status(path, ignored));
            if (leaveOut(rel, isFolder)) {
                leftOut.push_back(isFolder ? rel + "/" : rel);
                continue;
            }
        }
        if (fs::is_symlink(status)) {
            const fs::path target = fs::canonical(path, statError);
            if (statError) {
                problems.push_back(Quoted(rel) + ": a broken symbolic link");
                continue;
            }
            if (!IsWithin(target, root_)) {
                problems.push_back(Quoted(rel) + ": a symbolic link to " + QuotedPath(target) +
                                   ", outside SOURCE");
                continue;
            }
            status = fs::status(path, statError);
            if (statError)
                throw EPublishError(SystemError("Cannot read", path, statError));
        }
        if (fs::is_directory(status)) {
            // The folders from SOURCE down to here, told apart by the
            // system's file identity, not by name.
            const bool loop = std::any_of(chain.begin(), chain.end(), [&](const fs::path& above) {
                std::error_code sameError;
                return fs::equivalent(path, above, sameError);
            });
            if (loop) {
                problems.push_back(Quoted(rel) +
                                   ": a symbolic link to a folder that contains it (a loop)");
                continue;
            }
            chain.push_back(path);
            ScanFolder(path, rel, chain);
            chain.pop_back();
        } else if (fs::is_regular_file(status)) {
            files.push_back({rel, path});
        } else {
            problems.push_back(Quoted(rel) +
                               ": not a regular file or folder (special files are not "
                               "published)");
        }
    }
    if (error)
        throw EPublishError(SystemError("Cannot read the folder", folder, error));
}

std::string NameProblem(std::string_view name) {
    if (!platform::IsValidUtf8(name))
        return "the name is not valid UTF-8";
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F)
            return "the name contains a control character";
        if (c == '|')
            return "the name contains \"|\", which separates the fields of the manifest";
        if (c == ':')
            return "the name contains \":\"";
        if (c == '\\')
            return "the name contains \"\\\", the folder separator of the manifest";
    }
    if (name.front() == ' ' || name.back() == ' ')
        return "the name begins or ends with a blank";
    if (name.back() == '.')
        return "the name ends with a dot, which Windows drops (\"a.\" is \"a\" there)";
    if (IsWindowsDeviceName(name))
        return "the name is that of a Windows device (CON, PRN, AUX, NUL, CONIN$, CONOUT$, "
               "COM1 to COM9, LPT1 to LPT9), with or without an extension";
    if (!platform::Utf8ToAnsi(name))
        return "the name cannot be written in Windows-1251";
    if (platform::IsOwnTempFileName(name))
        return "the name is that of the launcher's temporary files, which it deletes";
    return {};
}

} // namespace publish
