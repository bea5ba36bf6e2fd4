#include "Publisher.h"

#include "ChunkStore.h"
#include "Compressor.h"
#include "CopyJobs.h"
#include "GlobPattern.h"
#include "HostsList.h"
#include "ManifestWriter.h"
#include "PreviousManifest.h"
#include "PublishFiles.h"
#include "PublishText.h"
#include "PublishedTree.h"
#include "Signing.h"
#include "TreeScanner.h"

#include "Files.h"
#include "Mirrors.h"
#include "Misc.h"
#include "Text.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

namespace publish {

namespace fs = std::filesystem;

namespace {

// The self entry's copy is fetched under its name exactly as listed, so the
// name must not need any encoding in an address.
bool IsPlainFileName(std::string_view name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '.' || c == '_' || c == '~';
    });
}

// Whether a name at the top of SOURCE is that of the installation's settings
// file, which Windows finds in any letter case.
bool IsSettingsName(std::string_view name) {
    return platform::FoldCase(name) == platform::FoldCase(kSettingsName);
}

} // namespace

Summary Publish(const Options& options, const std::function<void(const Progress&)>& onProgress) {
    Summary summary;
    summary.revision = options.revision;
    std::error_code error;

    // The inputs.
    const fs::path sourceGiven = Normalised(options.source);
    if (!fs::is_directory(sourceGiven, error))
        throw EUsageError("SOURCE " + QuotedPath(options.source) + " is not a folder");
    const fs::path source = fs::canonical(sourceGiven, error);
    if (error)
        throw EUsageError(SystemError("Cannot read SOURCE", sourceGiven, error));

    bool outExists = false;
    const fs::path out = ResolveOut(options.out, outExists);
    if (outExists) {
        if (!fs::is_directory(out, error))
            throw EUsageError("OUT " + QuotedPath(options.out) + " is not a folder");
        const bool empty = fs::is_empty(out, error);
        if (error)
            throw EUsageError(SystemError("Cannot read OUT", out, error));
        if (!empty && !fs::exists(fs::symlink_status(out / kManifestCopyName, error)))
            throw EUsageError("OUT " + QuotedPath(options.out) + " is not empty and holds no " +
                              kManifestCopyName +
                              ": it is not a published tree, and it is not replaced");
    }
    if (IsWithin(out, source))
        throw EUsageError("OUT " + QuotedPath(options.out) + " lies inside SOURCE");
    if (IsWithin(source, out))
        throw EUsageError("SOURCE " + QuotedPath(options.source) + " lies inside OUT");

    if (options.signingKey && options.publishUnsigned)
        throw EUsageError("--unsigned and --sign exclude each other");
    if (options.expiresAt && !options.signingKey)
        throw EUsageError("--expires needs --sign: only a signed manifest can expire");
    // Installations that trust the key refuse an unsigned tree: one run
    // without --sign would stop them all.
    if (outExists && !options.signingKey && !options.publishUnsigned &&
        fs::exists(fs::symlink_status(out / kSignatureName, error)))
        throw EUsageError("OUT " + QuotedPath(options.out) + " holds a signed tree (" +
                          kSignatureName +
                          "), and every installation that trusts its key would refuse it "
                          "unsigned: give --sign KEYFILE, or --unsigned to publish it unsigned "
                          "all the same");
    std::unique_ptr<SigningKey> key;
    if (options.signingKey)
        key = std::make_unique<SigningKey>(*options.signingKey);

    std::vector<GlobPattern> patterns, excludes;
    for (const std::string& text : options.criticalPatterns)
        patterns.emplace_back(text);
    for (const std::string& text : options.excludePatterns)
        excludes.emplace_back(text);

    std::vector<HostEntry> hosts;
    if (options.hostsFile)
        hosts = ReadHostsFile(*options.hostsFile);

    if (!options.selfName.empty()) {
        if (IsSettingsName(options.selfName))
            throw EUsageError("The launcher build cannot be " + Quoted(options.selfName) +
                              ": that is the installations' own settings file");
        if (!IsPlainFileName(options.selfName))
            throw EUsageError("The launcher build name " + Quoted(options.selfName) +
                              " must be a file name of letters, digits, \"-\", \".\", \"_\" and "
                              "\"~\" (it is fetched under this name as it stands)");
        if (!fs::is_regular_file(source / platform::FsPath(options.selfName), error))
            throw EUsageError("The launcher build " + Quoted(options.selfName) +
                              " is not a file in SOURCE");
    }

    // The files, all checked before anything is written.
    TreeScanner scanner(source);
    std::vector<bool> excludeUsed(excludes.size(), false);
    if (!excludes.empty())
        scanner.leaveOut = [&](const std::string& relative, bool) {
            bool leave = false;
            for (std::size_t k = 0; k < excludes.size(); ++k)
                if (excludes[k].Matches(relative))
                    leave = excludeUsed[k] = true;
            return leave;
        };
    scanner.Scan();
    summary.excluded = scanner.leftOut;
    std::sort(summary.excluded.begin(), summary.excluded.end());
    for (std::size_t k = 0; k < excludes.size(); ++k)
        if (!excludeUsed[k])
            summary.warnings.push_back("The --exclude pattern " + Quoted(excludes[k].Text()) +
                                       " matches nothing in SOURCE.");
    std::vector<std::string> problems = std::move(scanner.problems);
    std::set<std::string> reported;
    std::set<std::string> allPaths;
    for (const FoundFile& file : scanner.files)
        allPaths.insert(file.relative);

    std::vector<Job> jobs;
    std::vector<bool> patternUsed(patterns.size(), false);
    for (FoundFile& file : scanner.files) {
        const std::vector<std::string_view> names = SplitParts(file.relative, '/');
        if (names.size() == 1 && IsSettingsName(names[0])) {
            // Each installation's own: publishing it would overwrite them all.
            summary.settingsLeftOut.push_back(file.relative);
            continue;
        }
        bool bad = false;
        std::string prefix;
        for (const std::string_view name : names) {
            if (!prefix.empty())
                prefix += '/';
            prefix += name;
            const std::string why = NameProblem(name);
            if (!why.empty()) {
                if (reported.insert(prefix).second)
                    problems.push_back(Quoted(prefix) + ": " + why);
                bad = true;
                break;
            }
        }
        if (bad)
            continue;
        if (names.size() == 1 && (names[0] == kManifestName || names[0] == kManifestCopyName)) {
            problems.push_back(Quoted(file.relative) +
                               ": the launcher keeps the manifest under this name");
            continue;
        }
        if (options.chunks && names.size() > 1 && names[0] == kChunkFolder) {
            if (reported.insert(kChunkFolder).second)
                problems.push_back(Quoted(kChunkFolder) +
                                   ": the chunk store lies in this folder of the tree (publish "
                                   "with --no-chunks to keep it)");
            continue;
        }
        if (names.size() > 1 && names[0] == kBackupFolder) {
            if (reported.insert(kBackupFolder).second)
                problems.push_back(Quoted(kBackupFolder) +
                                   ": the launcher empties this folder for its own backups");
            continue;
        }
        if (EndsWith(file.relative, kCopySuffix) &&
            allPaths.count(file.relative.substr(0, file.relative.size() - 4))) {
            problems.push_back(Quoted(file.relative) + ": the launcher downloads " +
                               Quoted(file.relative.substr(0, file.relative.size() - 4)) +
                               " under this name");
            continue;
        }
        const std::optional<std::string> manifestPath =
            platform::LocalPathToManifest(file.relative);
        if (!manifestPath || platform::ManifestPathToRelative(*manifestPath) != file.relative ||
            !IsSafeRelativePath(*manifestPath)) {
            problems.push_back(Quoted(file.relative) + ": the path cannot be written in the "
                                                       "manifest");
            continue;
        }
        Job job;
        job.relative = file.relative;
        job.manifestPath = *manifestPath;
        job.expectedSize = fs::file_size(file.path, error);
        if (error) {
            job.expectedSize = 0;
            error.clear();
        }
        job.source = std::move(file.path);
        job.section = Section::Normal;
        for (std::size_t k = 0; k < patterns.size(); ++k) {
            if (patterns[k].Matches(file.relative)) {
                patternUsed[k] = true;
                job.section = Section::Critical;
            }
        }
        if (names.size() == 1 && file.relative == options.selfName)
            job.section = Section::Self; // listed there only, whatever the patterns say
        jobs.push_back(std::move(job));
    }
    if (!problems.empty()) {
        throw EPublishError(std::to_string(problems.size()) +
                            (problems.size() == 1 ? " file of SOURCE cannot be published:"
                                                  : " files of SOURCE cannot be published:") +
                            ListLines(problems));
    }
    if (!options.selfName.empty() && std::none_of(jobs.begin(), jobs.end(), [](const Job& j) {
            return j.section == Section::Self;
        }))
        throw EUsageError("The launcher build " + Quoted(options.selfName) +
                          (std::find(summary.excluded.begin(), summary.excluded.end(),
                                     options.selfName) != summary.excluded.end()
                               ? " is left out by --exclude"
                               : " is not a file in SOURCE"));
    std::sort(jobs.begin(), jobs.end(),
              [](const Job& a, const Job& b) { return a.manifestPath < b.manifestPath; });
    // A pattern with a typo would quietly make every file it was meant for normal.
    std::string unmatched;
    std::size_t unmatchedCount = 0;
    for (std::size_t k = 0; k < patterns.size(); ++k) {
        if (!patternUsed[k]) {
            unmatched += (unmatched.empty() ? "" : ", ") + Quoted(patterns[k].Text());
            ++unmatchedCount;
        }
    }
    if (unmatchedCount == 1)
        throw EUsageError("The --critical pattern " + unmatched +
                          " matches no file that is published: the files it is meant for "
                          "would be listed in files_normal");
    if (unmatchedCount > 1)
        throw EUsageError("The --critical patterns " + unmatched +
                          " match no file that is published: the files they are meant for "
                          "would be listed in files_normal");

    WarnOfLeftovers(out, summary.warnings);
    const PreviousManifest previous = ReadPreviousManifest(out, summary.warnings);
    summary.previousRevision = previous.revision;
    // The swap takes everything in OUT away with the old tree: what is not
    // the tree's goes only when the operator says so.
    std::vector<std::string> foreign = ForeignEntries(out, previous);
    if (!foreign.empty() && !options.replaceForeign) {
        std::vector<std::string> quoted;
        for (const std::string& entry : foreign)
            quoted.push_back(Quoted(entry));
        throw EUsageError(
            "OUT " + QuotedPath(options.out) + " holds " + std::to_string(foreign.size()) +
            (foreign.size() == 1 ? " entry" : " entries") +
            " that the published tree does not list, which publishing would remove:" +
            ListLines(quoted) +
            (previous.unreadable.empty()
                 ? std::string()
                 : "\n(the published manifest cannot be read: " + previous.unreadable +
                       "; none of the copies in OUT is known to be the tree's)") +
            "\nMove them out of OUT, or give --replace-foreign to remove them");
    }
    summary.foreignRemoved = std::move(foreign);
    std::map<std::string, std::string> normalNow; // digests still to come
    for (const Job& job : jobs)
        if (job.section == Section::Normal)
            normalNow[job.manifestPath];
    // Installations at that revision would never fetch the files that differ.
    const auto revisionProblem = [&](bool digestsKnown) {
        const std::vector<std::string> differences =
            NormalDifferences(previous, jobs, digestsKnown);
        return EUsageError(std::to_string(differences.size()) +
                           (differences.size() == 1 ? " file of files_normal differs"
                                                    : " files of files_normal differ") +
                           " from published revision " + std::to_string(*previous.revision) + ":" +
                           ListLines(differences) + "\n--rev must be greater than " +
                           std::to_string(*previous.revision));
    };
    bool refuseEarly = false; // the paths of files_normal differ under the same revision
    if (previous.revision) {
        if (options.revision < *previous.revision)
            throw EUsageError("--rev " + std::to_string(options.revision) +
                              " is lower than the published revision " +
                              std::to_string(*previous.revision));
        const bool samePaths =
            normalNow.size() == previous.normal.size() &&
            std::equal(normalNow.begin(), normalNow.end(), previous.normal.begin(),
                       [](const auto& a, const auto& b) { return a.first == b.first; });
        refuseEarly = options.revision == *previous.revision && !samePaths;
    }
    for (Job& job : jobs) {
        const auto found = previous.entries.find(job.manifestPath);
        if (found != previous.entries.end())
            job.previous = &found->second;
    }

    // Once the contents' digests are known: the revision's rule again, what
    // changes, and the counts.
    const auto afterDigests = [&] {
        for (const Job& job : jobs)
            if (job.section == Section::Normal)
                normalNow[job.manifestPath] = job.content.digest;
        if (previous.revision && options.revision == *previous.revision &&
            normalNow != previous.normal)
            throw revisionProblem(true);
        if (previous.present && previous.unreadable.empty())
            summary.changes = CompareWithPublished(previous, jobs);
        for (const Job& job : jobs) {
            switch (job.section) {
            case Section::Self:
                summary.selfPublished = true;
                break;
            case Section::Critical:
                ++summary.criticalFiles;
                break;
            case Section::Normal:
                ++summary.normalFiles;
                break;
            }
            summary.contentBytes += job.content.size;
            summary.compressedBytes += job.copySize;
            ++(job.reused ? summary.reusedCopies : summary.compressedCopies);
        }
    };

    if (key) {
        summary.expires =
            UtcTimeText(options.expiresAt ? *options.expiresAt : DaysFromNow(kDefaultExpiryDays));
        summary.signingKey = signing::KeyText(key->PublicKey());
    }
    unsigned threads = options.jobs;
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    if (refuseEarly) {
        // Refused before anything is compressed, but with every file that
        // differs named: reading the digests costs little.
        RunJobs(jobs, threads, {}, out, options.cancel, {}, true);
        throw revisionProblem(true);
    }
    if (options.dryRun) {
        RunJobs(jobs, threads, {}, out, options.cancel, onProgress, true);
        afterDigests();
        summary.dryRun = true;
        return summary;
    }

    // The staging folder, beside OUT so that renames can swap it in.
    const fs::path parent = out.parent_path();
    fs::create_directories(parent, error);
    if (error)
        throw EPublishError(SystemError("Cannot create the folder", parent, error));
    const fs::path staging = MakeUniqueFolder(out, kStagingInfix);
    StagingGuard guard(staging);
    if (outExists) {
        const fs::file_status status = fs::status(out, error);
        if (!error)
            fs::permissions(staging, status.permissions(), error);
        error.clear();
    }

    // The copies.
    std::set<fs::path> folders;
    for (const Job& job : jobs)
        folders.insert((staging / platform::FsPath(job.relative)).parent_path());
    for (const fs::path& folder : folders) {
        fs::create_directories(folder, error);
        if (error)
            throw EPublishError(SystemError("Cannot create the folder", folder, error));
    }
    std::unique_ptr<ChunkStore> store;
    if (options.chunks)
        store = std::make_unique<ChunkStore>(staging, out, kChunkSizes);
    RunJobs(jobs, threads, staging, out, options.cancel, onProgress, false, store.get());
    afterDigests();
    std::vector<std::string> moreSettings;
    if (store) {
        // Runs that started at the tree before go on finding their chunks.
        for (const ListedFile& file : previous.files)
            if (!file.sha256.empty() && file.contentSize)
                store->KeepPrevious(file.sha256, *file.contentSize);
        const ChunkStore::Counts counts = store->Totals();
        summary.chunked = true;
        summary.chunksWritten = counts.chunksWritten;
        summary.chunksTakenOver = counts.chunksTakenOver;
        summary.chunkBytesWritten = counts.bytesWritten;
        summary.chunkStoreBytes = counts.storeBytes;
        moreSettings.push_back(std::string(kChunksSetting) + "|" + ChunkSizesText(kChunkSizes));
        for (const fs::path& folder : store->Folders())
            folders.insert(folder);
    }
    if (!options.mirrors.empty()) {
        std::string line = kMirrorsSetting;
        for (const std::string& mirror : options.mirrors)
            line += "|" + mirror;
        moreSettings.push_back(line);
    }

    // The manifest.
    CompressText(ManifestText(options.revision, options.modHosts, hosts, jobs, summary.expires,
                              moreSettings),
                 staging / kManifestCopyName);
    if (key) // part of the tree like the manifest: swapped in with it, or not at all
        key->SignStagedManifest(staging);
    FinishStaged(staging, out, {folders.begin(), folders.end()}, options.cancel, guard,
                 summary.warnings);
    return summary;
}

} // namespace publish
