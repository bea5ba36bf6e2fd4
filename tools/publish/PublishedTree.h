// The names that a published tree and the launcher's installation give a
// meaning to, and the names of the folders a run makes beside OUT.
#pragma once

namespace publish {

// The manifest, as the launcher keeps it in the installation.
inline constexpr const char* kManifestName = "files.lst";
// The manifest's compressed copy at the top of the tree.
inline constexpr const char* kManifestCopyName = "files.lst.bz2";
// The signature of the manifest's compressed copy, beside it in a signed tree.
inline constexpr const char* kSignatureName = "files.lst.bz2.sig";
// The suffix of a file's compressed copy: FILE.bz2 beside where FILE would be.
inline constexpr const char* kCopySuffix = ".bz2";
// The installation's own settings file at its top (the update address, the
// revision reached, the trusted keys): never published, in any letter case.
inline constexpr const char* kSettingsName = "Quenmor.ini";
// The folder at the top of the installation where the launcher keeps replaced files.
inline constexpr const char* kBackupFolder = "backup";
// OUT + this + random letters: the folder where a run builds the new tree.
inline constexpr const char* kStagingInfix = ".quenmor-staging-";
// OUT + this + random letters: the old tree moved aside where folders cannot
// be exchanged in one step.
inline constexpr const char* kAsideInfix = ".quenmor-old-";

} // namespace publish
