// What the command-line programs get from the system: their arguments as
// UTF-8 text, and a console that shows the UTF-8 text they print.
#pragma once

#include <atomic>
#include <string>
#include <vector>

namespace platform {

// The program's arguments after its name, in UTF-8 (on Windows taken from
// the wide-character command line, not from the ANSI `argv`).
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Makes a console window show UTF-8 output as text; output that goes to a
// file or a pipe is UTF-8 in any case.
void PrepareConsole();

// Where a window program prints what it was asked on its command line: the
// file or pipe it was given as standard output, or else the console of the
// program that started it. False when it has neither (started from the
// desktop), so that it shows the text otherwise; text printed then goes
// nowhere. Elsewhere than on Windows standard output is always there.
bool OutputForWindowProgram();

// Sets `stop` when the user interrupts the program (Ctrl-C, closing its
// console, or a termination request), instead of ending it there, so that it
// can leave its files in order. A second interrupt, once `stop` is set, ends
// the program at once, as it would have without this. `stop` must live as
// long as the program.
void StopOnInterrupt(std::atomic<bool>& stop);

} // namespace platform
