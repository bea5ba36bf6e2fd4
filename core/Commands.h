// What the main window's commands do beyond the window itself: the game's
// start with the installation's "Rename.bat", and the batch file on its own
// when the player leaves.
#pragma once

#include "LauncherSettings.h"

// Starts "Rename.bat" of the installation in `baseFolder` (any letter case),
// hidden and without waiting, when there is one. It is optional: that it is
// missing or cannot be started is nothing the player needs to hear about.
void StartRenameBatch(const std::string& baseFolder);

// Play: "Rename.bat" first, then the game ("RunCustom", relative to the base
// folder) in its own folder. Raises what RunInOwnFolder raises; with
// incomplete settings nothing starts.
void StartGame(const TLauncherSettings& settings);
