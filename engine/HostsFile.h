// The hosts file: the manifest's host names mapped in the system's hosts file
// ("hosts.msn" where there is one), as a marked block of new mappings, with
// earlier lines that map those names to other addresses commented out. Only
// a plain address and host name ever reach the file, one mapping per name.
#pragma once

#include "Notifier.h"

#include <string>
#include <vector>

// Maps the entries ("NAME|ADDRESS") in the hosts file of `folder`; an empty
// folder names none, and nothing is done. False when an entry was left out
// or the file could not be read or written (the cause is shown): the game
// files are still brought up to date.
bool UpdateHosts(TNotifier& notifier, const std::string& folder,
                 const std::vector<std::string>& entries);
