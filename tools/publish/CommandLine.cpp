#include "CommandLine.h"

#include "Mirrors.h"

#include "GlobPattern.h"
#include "PublishErrors.h"
#include "PublishText.h"
#include "Publisher.h"
#include "Resign.h"
#include "Signing.h"
#include "TreeCheck.h"

#include "Files.h"
#include "ProgressText.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <iterator>
#include <limits>
#include <optional>
#include <ostream>
#include <sstream>

namespace publish {
namespace {

// The longest --expires: a hundred years.
constexpr std::uint64_t kMaxExpiryDays = 36500;

std::string HumanBytes(std::uint64_t bytes) {
    return progress::BinaryBytes(bytes);
}

// "N thing" or "N things".
std::string Count(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// What a publishing run did, or a dry run would do.
void PrintSummary(const Options& options, const std::string& outGiven, const Summary& summary,
                  std::ostream& out) {
    const bool dry = summary.dryRun;
    const std::size_t files = summary.criticalFiles + summary.normalFiles;
    out << (dry ? "Dry run, nothing was written: publishing would make revision "
                : "Published revision ")
        << summary.revision << (dry ? " of " : " to ") << Printable(outGiven) << ": "
        << Count(files, "file", "files") << " (" << summary.criticalFiles << " critical, "
        << summary.normalFiles << " normal)";
    if (summary.selfPublished)
        out << " and the launcher build " << Quoted(options.selfName);
    out << ".\n";
    if (dry)
        out << "Content " << HumanBytes(summary.contentBytes) << "; "
            << Count(summary.reusedCopies, "copy", "copies") << " would be reused, "
            << summary.compressedCopies << " compressed.\n";
    else
        out << "Content " << HumanBytes(summary.contentBytes) << ", compressed copies "
            << HumanBytes(summary.compressedBytes) << "; "
            << Count(summary.reusedCopies, "copy", "copies") << " reused, "
            << summary.compressedCopies << " compressed.\n";
    for (const std::string& name : summary.settingsLeftOut)
        out << "Left out " << Printable(name)
            << ": every installation keeps its own settings file.\n";
    if (!summary.excluded.empty()) {
        std::vector<std::string> quoted;
        for (const std::string& entry : summary.excluded)
            quoted.push_back(Quoted(entry));
        out << "Left out by --exclude: " << Count(quoted.size(), "entry", "entries") << ":"
            << ListLines(quoted) << "\n";
    }
    if (summary.previousRevision)
        out << (dry ? "Would replace revision " : "Replaced revision ") << *summary.previousRevision
            << ".\n";
    const std::string since = summary.previousRevision
                                  ? "revision " + std::to_string(*summary.previousRevision)
                                  : std::string("the published tree");
    if (!summary.changes) {
        out << "Changes: no readable tree was published before; every file is new.\n";
    } else if (summary.changes->Count() == 0) {
        out << "Changes from " << since << ": none.\n";
    } else {
        const TreeChanges& changes = *summary.changes;
        out << "Changes from " << since << ": " << changes.added.size() << " added, "
            << changes.changed.size() << " changed, " << changes.removed.size() << " removed, "
            << changes.moved.size() << " moved, " << changes.sections.size()
            << " in another section.\n";
        for (const std::string& line : ChangeLines(changes))
            out << "  " << line << "\n";
    }
    if (!summary.foreignRemoved.empty()) {
        out << (dry ? "Would remove from OUT" : "Removed from OUT")
            << ", as no part of the published tree: ";
        for (std::size_t k = 0; k < summary.foreignRemoved.size(); ++k)
            out << (k > 0 ? ", " : "") << Quoted(summary.foreignRemoved[k]);
        out << ".\n";
    }
    if (summary.chunked)
        out << "Chunk store: " << summary.chunksWritten << " chunks compressed ("
            << summary.chunkBytesWritten << " bytes), " << summary.chunksTakenOver
            << " taken over; " << summary.chunkStoreBytes << " bytes in all.\n";
    if (!summary.signingKey.empty()) {
        out << (dry ? "Would sign with the key " : "Signed with the key ") << summary.signingKey;
        if (!summary.expires.empty())
            out << (dry ? "; it would expire at " : "; it expires at ") << summary.expires;
        out << ".\n";
    }
}

// The time DAYS days from now, as --expires gives it.
std::int64_t ParseExpiry(const std::string& text) {
    const std::optional<std::uint64_t> days = ParseUnsigned(text);
    if (!days || *days < 1 || *days > kMaxExpiryDays)
        throw EUsageError("--expires takes a number of days from 1 to " +
                          std::to_string(kMaxExpiryDays) + ", not " + Quoted(text));
    return DaysFromNow(*days);
}

} // namespace

std::int32_t ParseRevision(std::string_view text) {
    std::int64_t value = 0;
    const bool digitsOnly = !text.empty() &&
                            std::all_of(text.begin() + (text.front() == '-' ? 1 : 0), text.end(),
                                        [](char c) { return c >= '0' && c <= '9'; }) &&
                            text != "-";
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (!digitsOnly || error != std::errc() || end != text.data() + text.size() ||
        value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max())
        throw EUsageError("Bad revision " + Quoted(text) +
                          ": expected a decimal number from -2147483648 to 2147483647");
    return static_cast<std::int32_t>(value);
}

std::string UsageText() {
    return R"(Usage: quenmor-publish SOURCE OUT --rev N [options]
       quenmor-publish --resign OUT --sign KEYFILE [--expires DAYS]
       quenmor-publish --list OUT
       quenmor-publish --verify OUT [--jobs N]
       quenmor-publish --keygen KEYFILE

Publishes the client folder SOURCE as the update tree OUT that the update
server serves: OUT/files.lst.bz2 (the manifest) and one bzip2 copy per file,
FILE.bz2, in the same folders as in SOURCE.

Options:
  --rev N             the revision (decimal, 32-bit signed); required. It may
                      not go down, and must grow when files_normal changes.
  --mod-hosts 0|1     whether the launcher maintains the hosts file (default 0)
  --hosts FILE        the hosts entries: lines "address hostname" (an IPv4 or
                      IPv6 address and a plain DNS name); blank lines and "#"
                      comments are skipped
  --critical PATTERN  files checked on every run (section files_critical);
                      may be repeated. The other files go to files_normal.
                      A pattern that matches no file is an error.
  --exclude PATTERN   leaves out the files the pattern matches, and folders
                      with everything in them (log files, a game's cache);
                      may be repeated. A pattern that matches nothing is
                      named in a warning.
  --dry-run           reads SOURCE and OUT and checks everything as a run
                      does, then tells what publishing would do (the
                      revision, the files added, changed, removed, moved and
                      listed in another section) and writes nothing
  --self NAME         the launcher build: a file directly in SOURCE, listed
                      in section "self" only (letters, digits, "-._~")
  --jobs N            compression threads (default: one per processor)
  --sign KEYFILE      signs the tree with the private key in KEYFILE: the
                      signature OUT/files.lst.bz2.sig beside the manifest.
                      Launchers that trust the key take only a tree signed
                      by it; older launchers ignore the signature.
  --expires DAYS      with --sign: the manifest expires DAYS days from now
                      (default 30). Launchers that trust the key refuse it
                      afterwards, so publish again or --resign before then.
  --unsigned          publishes without --sign over a tree that was signed
                      (OUT holds files.lst.bz2.sig), which is refused
                      otherwise: installations that trust the key refuse an
                      unsigned tree
  --no-chunks         publishes no chunk store (OUT/chunks): launchers then
                      fetch every changed file whole, as from trees of
                      earlier publishers
  --mirror URL        another address that serves this same tree (a copy
                      of OUT kept in step with it); may be repeated.
                      Launchers spread their requests over the update
                      address and the mirrors, and check every byte
  --replace-foreign   removes what OUT holds beyond the published tree (the
                      manifest, its signature and the copies it lists),
                      which is refused otherwise, and names it
  --resign OUT        with --sign and no SOURCE: signs the published tree OUT
                      again with a fresh expiry (--expires, default 30
                      days), the revision and the files as they are; for a
                      daily timer. Refused unless OUT's signature holds with
                      this key over its manifest as it stands.
  --list OUT          prints the published tree OUT: its revision, settings,
                      hosts, and a line per file of each section (the path
                      in UTF-8 with "/" between folders, the content's size,
                      MD5 and SHA-256, the copy's size, apart by tabs)
  --verify OUT        checks the published tree OUT as launchers take it: the
                      signature (when there is one) over the manifest, and
                      every copy: there, of its listed size, unpacking to
                      the listed content; exit status 1 at the first fault,
                      which it names
  --keygen KEYFILE    makes a new signing key: writes its private key into
                      KEYFILE (PEM, readable by its owner only; an existing
                      file is never overwritten) and prints the public key
                      as the line "UpdateKey=...", for section main of the
                      installations' Quenmor.ini
  --help              this text

Patterns are matched against the whole path relative to SOURCE, with "/"
between folders, case-sensitively:
  *      any characters within one name (not "/")   e.g. "bin/*.dll"
  ?      one character, not "/"
  [...]  one character of a set: "[a-z]", "[!0-9]"; "[*]" is a literal "*"
  **     as a whole folder name: "**/" is any number of folders (or none),
         a final "/**" is everything below a folder   e.g. "**/*.exe", "data/**"
  A leading "." is matched like any other character; "\" is not allowed.

Files:
  Symbolic links to files and folders inside SOURCE are followed (the
  content is published under the link's name); links that are broken, lead
  outside SOURCE, or form a loop are errors, and so are special files
  (devices, pipes, sockets). Empty folders are not published (the manifest
  lists files only). Names must be valid UTF-8 that Windows-1251 can
  carry, without control characters, "|", ":" or "\", and not begin or end
  with a blank. Refused too: "files.lst" and "files.lst.bz2" and a folder
  "backup" at the top, names of the launcher's temporary files
  (".quenmor-tmp-XXXXXX"), and FILE.bz2 beside FILE (the launcher downloads
  FILE under that name). All such problems are listed before anything is
  written. Quenmor.ini at the top of SOURCE, in any letter case, is left
  out: every installation keeps its own settings file there (a Quenmor.ini
  in a folder below is published like any other file).

Manifest:
  Each file is one line "SIZE|SHA256|PATH|MD5|COPYSIZE" of its section (self,
  files_critical or files_normal), signed or not: the content's size in bytes
  and its SHA-256 (64 lowercase hexadecimal digits), the path ("\" between
  folders, Windows-1251), the content's MD5, and the size in bytes of the
  compressed copy. Launchers read the fields from the end and skip those in
  front of the ones they know, so older ones read PATH|MD5|COPYSIZE as before.

Output:
  The summary tells what changed against the tree published before. The
  progress goes to stderr: on a terminal as a line with the bytes done and
  the time left, elsewhere as a line every 5 seconds.
  The new tree is built in a folder OUT.quenmor-staging-XXXXXXXX beside OUT
  and swapped in with renames at the end; if anything fails OUT stays as it
  was. OUT must be empty, missing, or a tree published before that holds
  nothing its manifest does not list (see --replace-foreign). Copies of
  files whose digest matches the previous manifest are reused (hard-linked,
  or copied across file systems) instead of compressed again.

Exit status: 0 published (or checked), 1 publishing failed (or a fault in
the tree that --verify checks), 2 bad command line or a bad
input that it names (SOURCE, OUT, --self, --hosts, --rev, --critical,
--sign), or a published tree that it refuses to replace or sign again.
)";
}

int RunCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                   const std::atomic<bool>* cancel,
                   std::optional<ProgressPrinter::Style> progressStyle) {
    constexpr const char* kProgram = "quenmor-publish";
    std::optional<ProgressPrinter> printer;
    const auto showProgress = [&](const char* what) {
        std::function<void(const Progress&)> show;
        if (progressStyle) {
            printer.emplace(err, *progressStyle, what);
            show = [&](const Progress& step) { printer->Show(step); };
        }
        return show;
    };
    const auto endProgress = [&] {
        if (printer)
            printer->End();
    };
    try {
        Options options;
        options.cancel = cancel;
        std::vector<std::string> positional;
        std::optional<std::string> revision, modHosts, hostsFile, self, jobs, keygen, resign, sign,
            expires, list, verify;
        bool publishUnsigned = false, replaceForeign = false, dryRun = false, noChunks = false;
        bool optionsEnded = false;
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            const std::string& argument = arguments[i];
            if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
                positional.push_back(argument);
                continue;
            }
            if (argument == "--") {
                optionsEnded = true;
                continue;
            }
            if (argument == "--help" || argument == "-h") {
                out << UsageText();
                return 0;
            }
            std::string name = argument;
            std::optional<std::string> value;
            if (const std::size_t equals = argument.find('='); equals != std::string::npos) {
                name = argument.substr(0, equals);
                value = argument.substr(equals + 1);
            }
            bool* flag = nullptr;
            if (name == "--unsigned")
                flag = &publishUnsigned;
            else if (name == "--replace-foreign")
                flag = &replaceForeign;
            else if (name == "--dry-run")
                flag = &dryRun;
            else if (name == "--no-chunks")
                flag = &noChunks;
            if (flag) {
                if (value)
                    throw EUsageError("The option " + name + " takes no value");
                if (*flag)
                    throw EUsageError("The option " + name + " is given twice");
                *flag = true;
                continue;
            }
            std::optional<std::string>* single = nullptr;
            if (name == "--rev")
                single = &revision;
            else if (name == "--mod-hosts")
                single = &modHosts;
            else if (name == "--hosts")
                single = &hostsFile;
            else if (name == "--self")
                single = &self;
            else if (name == "--jobs")
                single = &jobs;
            else if (name == "--keygen")
                single = &keygen;
            else if (name == "--resign")
                single = &resign;
            else if (name == "--sign")
                single = &sign;
            else if (name == "--expires")
                single = &expires;
            else if (name == "--list")
                single = &list;
            else if (name == "--verify")
                single = &verify;
            else if (name != "--critical" && name != "--exclude" && name != "--mirror")
                throw EUsageError("Unknown option " + Quoted(name));
            if (!value) {
                if (i + 1 >= arguments.size())
                    throw EUsageError("The option " + name + " needs a value");
                value = arguments[++i];
            }
            if (name == "--mirror") {
                if (!IsMirrorAddress(*value))
                    throw EUsageError("--mirror takes an http:// or https:// address without "
                                      "blanks or \"|\", not " +
                                      Quoted(*value));
                options.mirrors.push_back(MirrorBase(*value));
            } else if (!single) {
                (name == "--critical" ? options.criticalPatterns : options.excludePatterns)
                    .push_back(*value);
            } else {
                if (*single)
                    throw EUsageError("The option " + name + " is given twice");
                *single = *value;
            }
        }
        // Options of publishing alone.
        const bool publishing = revision || modHosts || hostsFile || self || publishUnsigned ||
                                replaceForeign || dryRun || noChunks ||
                                !options.criticalPatterns.empty() ||
                                !options.excludePatterns.empty() || !options.mirrors.empty();
        if (list || verify) {
            const char* option = list ? "--list" : "--verify";
            if (list && verify)
                throw EUsageError("--list and --verify exclude each other");
            if (!positional.empty() || publishing || keygen || resign || sign || expires ||
                (list && jobs))
                throw EUsageError(std::string(option) + " OUT takes no other argument" +
                                  (verify ? " but --jobs N" : ""));
        }
        if (list) {
            ListTree(platform::FsPath(*list), out);
            return 0;
        }
        if (verify) {
            unsigned threads = 0;
            if (jobs) {
                const std::optional<std::uint64_t> count = ParseUnsigned(*jobs);
                if (!count || *count < 1 || *count > 64)
                    throw EUsageError("--jobs takes a number from 1 to 64, not " + Quoted(*jobs));
                threads = static_cast<unsigned>(*count);
            }
            const VerifySummary summary =
                VerifyTree(platform::FsPath(*verify), threads, cancel, showProgress("checked"));
            endProgress();
            out << "Verified revision " << summary.revision << " of " << Printable(*verify) << ": "
                << Count(summary.files, "copy", "copies") << " (" << HumanBytes(summary.copyBytes)
                << ") unpack to the content the manifest lists";
            if (!summary.signingKey.empty()) {
                out << "; the signature holds with the key " << summary.signingKey;
                if (!summary.expires.empty())
                    out << " and the manifest expires at " << Printable(summary.expires);
            } else {
                out << "; unsigned";
            }
            out << ".\n";
            return 0;
        }
        if (keygen) {
            if (!positional.empty() || publishing || jobs || resign || sign || expires)
                throw EUsageError("--keygen KEYFILE takes no other argument");
            const signing::PublicKey key = GenerateKey(platform::FsPath(*keygen));
            out << "UpdateKey=" << signing::KeyText(key) << "\n";
            return 0;
        }
        if (resign) {
            // The tree stays as it is: nothing that would make another one.
            if (!positional.empty())
                throw EUsageError("--resign OUT takes no SOURCE: it signs the published tree " +
                                  Quoted(*resign) + " again as it stands, not " +
                                  Quoted(positional.front()));
            if (publishing || jobs)
                throw EUsageError("--resign OUT takes only --sign KEYFILE and --expires DAYS");
            if (!sign)
                throw EUsageError("--resign OUT needs --sign KEYFILE, the key it is signed with");
            ResignOptions resigning;
            resigning.out = platform::FsPath(*resign);
            resigning.signingKey = platform::FsPath(*sign);
            if (expires)
                resigning.expiresAt = ParseExpiry(*expires);
            resigning.cancel = cancel;
            const ResignSummary summary = Resign(resigning);
            for (const std::string& warning : summary.warnings)
                err << kProgram << ": warning: " << warning << "\n";
            out << "Signed revision " << summary.revision << " of " << Printable(*resign)
                << " again (" << summary.files << (summary.files == 1 ? " file" : " files")
                << ", unchanged) with the key " << summary.signingKey << "; it expires at "
                << summary.expires;
            if (!summary.previousExpires.empty())
                out << " (before: " << Printable(summary.previousExpires) << ")";
            out << ".\n";
            return 0;
        }
        if (positional.size() != 2)
            throw EUsageError(positional.size() < 2
                                  ? "SOURCE and OUT are required"
                                  : "Unexpected argument " + Quoted(positional[2]));
        options.source = platform::FsPath(positional[0]);
        options.out = platform::FsPath(positional[1]);
        if (!revision)
            throw EUsageError("--rev N is required");
        options.revision = ParseRevision(*revision);
        if (modHosts) {
            if (*modHosts != "0" && *modHosts != "1")
                throw EUsageError("--mod-hosts takes 0 or 1, not " + Quoted(*modHosts));
            options.modHosts = *modHosts == "1";
        }
        if (hostsFile)
            options.hostsFile = platform::FsPath(*hostsFile);
        if (self)
            options.selfName = *self;
        if (jobs) {
            const std::optional<std::uint64_t> count = ParseUnsigned(*jobs);
            if (!count || *count < 1 || *count > 64)
                throw EUsageError("--jobs takes a number from 1 to 64, not " + Quoted(*jobs));
            options.jobs = static_cast<unsigned>(*count);
        }
        if (sign)
            options.signingKey = platform::FsPath(*sign);
        options.publishUnsigned = publishUnsigned;
        options.replaceForeign = replaceForeign;
        if (expires)
            options.expiresAt = ParseExpiry(*expires);
        options.dryRun = dryRun;
        options.chunks = !noChunks;
        for (const std::string& pattern : options.criticalPatterns)
            GlobPattern check(pattern);
        for (const std::string& pattern : options.excludePatterns)
            GlobPattern check(pattern);

        const Summary summary = Publish(options, showProgress(dryRun ? "read" : "published"));
        endProgress();
        for (const std::string& warning : summary.warnings)
            err << kProgram << ": warning: " << warning << "\n";
        PrintSummary(options, positional[1], summary, out);
        return 0;
    } catch (const EUsageError& e) {
        if (printer && printer->Standing())
            err << "\n";
        err << kProgram << ": " << e.what() << "\nTry '" << kProgram << " --help'.\n";
        return 2;
    } catch (const std::exception& e) {
        if (printer && printer->Standing())
            err << "\n";
        err << kProgram << ": " << e.what() << "\n";
        return 1;
    }
}

} // namespace publish
