// The system's common controls and visual styles, loaded when the first
// window that uses them is made rather than at the program's start. The main
// window uses neither; loading them (under Wine the theme engine with them)
// before its first paint would keep it from the screen for a few hundred
// milliseconds.
#pragma once

#include <windows.h>

// Loads the common controls (version 6, as the program's manifest asks) and
// registers their window classes; later calls do nothing. False when the
// system has none, in which case the plain controls of the system are made.
bool LoadCommonControls();

// Draws a control without the visual style, in its parent's colours; nothing
// where the system has no visual styles.
void DrawWithoutTheme(HWND control);
