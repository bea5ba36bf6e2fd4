// The launcher's log: its update runs and the errors it showed, in
// "launcher.log" of the user's state folder (on Windows
// %LOCALAPPDATA%\Quenmor), and how an error that reaches the player is
// logged and worded.
#pragma once

#include "RunLog.h"

#include <exception>
#include <string>

// The log's file, and its folder (made when missing, so that it can be
// opened before anything was logged).
std::string LauncherLogFile();
std::string LauncherLogFolder();

// The log (see TRunLog), made on first use; it lives as long as the program.
TRunLog& LauncherLog();

// Writes `error` into the log, with its cause, and returns the text of its
// error box (ErrorBoxText).
std::string ReportError(const std::exception& error);
