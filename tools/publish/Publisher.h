// quenmor-publish: turns a client folder into the tree that the update server
// serves (the compressed manifest "files.lst.bz2" and one ".bz2" copy per
// file), replacing the previous tree in one step.
#pragma once

#include "Errors.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace publish {

// The command line, or an input it names (SOURCE, OUT, the --self file, the
// hosts file, the revision against the published one), is wrong. Exit code 2.
class EUsageError : public Exception {
public:
    using Exception::Exception;
};

// Publishing failed: a file of the tree cannot be published, or reading,
// compressing or writing failed. Exit code 1.
class EPublishError : public Exception {
public:
    using Exception::Exception;
};

// A pattern of --critical, matched against a path relative to SOURCE with "/"
// between folders (UTF-8, case-sensitive, always against the whole path):
//   *      any run of characters within one folder or file name (not "/")
//   ?      one character, not "/"
//   [...]  one character of the set: ranges "a-z", "!" or "^" first negates,
//          "]" first is taken literally; never "/"
//   **     as a whole component: "**/" matches any number of folders (none
//          too), a final "/**" matches everything below the folder
// A leading "." is no special case. There is no escape character ("\" is
// refused): write "[*]" for a literal "*".
class GlobPattern {
public:
    // Raises EUsageError naming the pattern when it is malformed.
    explicit GlobPattern(std::string_view pattern);

    bool Matches(std::string_view relativePath) const;
    const std::string& Text() const { return text_; }

private:
    struct Element {
        enum class Kind { Literal, Any, Star, Set } kind;
        char32_t ch = 0;
        bool negated = false;
        std::vector<std::pair<char32_t, char32_t>> ranges;
    };
    struct Component {
        bool globstar = false;
        std::vector<Element> elements;
    };

    bool MatchFrom(std::size_t patternIndex, const std::vector<std::u32string>& parts,
                   std::size_t partIndex) const;
    static bool MatchComponent(const std::vector<Element>& elements, const std::u32string& name);

    std::string text_;
    std::vector<Component> components_;
};

struct HostEntry {
    std::string address;  // an IPv4 or IPv6 literal
    std::string hostname; // a plain DNS name
};

// Reads a hosts list: lines "address hostname"; blank lines and "#" comments
// (to the end of a line) are skipped. Raises EUsageError naming the file and
// line of the first bad line.
std::vector<HostEntry> ReadHostsFile(const std::filesystem::path& file);

// Checks of single values, as the command line and the hosts list need them.
bool IsAddressLiteral(std::string_view text);
bool IsPlainHostName(std::string_view text);

// The revision as the command line gives it: decimal, signed 32-bit. Raises
// EUsageError.
std::int32_t ParseRevision(std::string_view text);

struct Options {
    std::filesystem::path source;
    std::filesystem::path out;
    std::int32_t revision = 0;
    bool modHosts = false;
    std::optional<std::filesystem::path> hostsFile;
    std::vector<std::string> criticalPatterns;
    std::string selfName; // the launcher build, a file directly in SOURCE; empty: none
    unsigned jobs = 0;    // compression threads; 0: one per processor
    const std::atomic<bool>* cancel = nullptr; // set to stop early (nothing is published)
};

// One file done. Called from the worker threads, one call at a time.
struct Progress {
    std::size_t done = 0;
    std::size_t total = 0;
    std::string path; // relative, UTF-8, "/" separators
    bool reused = false;
};

struct Summary {
    std::int32_t revision = 0;
    std::optional<std::int32_t> previousRevision; // of the manifest that was replaced
    std::size_t criticalFiles = 0;
    std::size_t normalFiles = 0;
    bool selfPublished = false;
    std::uint64_t contentBytes = 0;    // uncompressed, all published files
    std::uint64_t compressedBytes = 0; // the copies, without the manifest
    std::size_t reusedCopies = 0;      // taken over from the previous tree
    std::size_t compressedCopies = 0;  // compressed in this run
    std::vector<std::string> warnings;
};

// Publishes SOURCE into OUT. Everything is built in a staging folder beside
// OUT and swapped in at the end; on any failure OUT is left as it was and the
// staging folder is removed.
Summary Publish(const Options& options,
                const std::function<void(const Progress&)>& onProgress = {});

// The program: parses the arguments (without the program name), publishes,
// prints the summary to `out` and errors and warnings to `err`. Returns the
// exit code: 0 done, 1 publishing failed, 2 bad command line or input.
int RunCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                   const std::atomic<bool>* cancel = nullptr, bool showProgress = false);

// The text of --help.
std::string UsageText();

} // namespace publish
