#!/usr/bin/env bash
# The Win32 window under Wine on an X server: started in an installation
# whose update server cannot be reached, it paints the shaped window centred
# on the desktop, runs its automatic run to the failure, keeps its commands
# usable, and closes from its close button; started where there is no
# Quenmor.ini, it shows the message and ends once the player answers it.
# The launcher's trace (QUENMOR_TRACE) tells what the window did.
#
#   window_test.sh LAUNCHER WINE-RUN
#
# Runs itself under xvfb-run when no X server is given in DISPLAY.
set -euo pipefail

launcher=$1 wine_run=$2

if [ -z "${QUENMOR_WIN32_ON_X:-}" ]; then
    export QUENMOR_WIN32_ON_X=1
    exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
command -v xdotool >/dev/null || { echo "xdotool is not installed; run scripts/bootstrap" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quenmor-win32-XXXXXX")
install="$work/Quenmor Online" trace=$work/trace.log
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    echo "--- trace:" >&2
    cat "$trace" >&2 2>/dev/null || true
    exit 1
}
# Waits up to $2 tenths of a second for an event in the trace (whose lines
# end with CR LF, as standard error's do on Windows).
wait_for() {
    for _ in $(seq 1 "$2"); do
        tr -d '\r' <"$trace" 2>/dev/null | grep -q "^quenmor-trace [0-9]* $1\( \|\$\)" && return 0
        sleep 0.1
    done
    return 1
}
# Waits up to $1 tenths of a second for the launcher to end.
wait_end() {
    for _ in $(seq 1 "$1"); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    return 1
}
# The X window of the launcher's own name, once it is mapped.
find_window() {
    for _ in $(seq 1 "$2"); do
        local id
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1) || true
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    return 1
}

# Asked for its version, it prints it where it was started and ends.
version=$("$wine_run" "$launcher" --version 2>/dev/null | tr -d '\r')
[ "${version% *}" = Quenmor ] && [ -n "${version#Quenmor }" ] ||
    fail "--version printed '$version'"

mkdir -p "$install"
cp "$launcher" "$install/Quenmor.exe"
# Nothing listens on port 9 of the loopback: the run fails at once.
printf '[main]\r\nNewsUrl=\r\nUpdatesUrl=http://127.0.0.1:9/\r\nLinkName=\r\nInstalled=1\r\n' \
    >"$install/Quenmor.ini"

(cd "$install" && QUENMOR_TRACE=1 exec "$wine_run" "$install/Quenmor.exe" 2>"$trace") &
pid=$!
wait_for paint 600 || fail "the window was not painted"
window=$(find_window Quenmor 100) || fail "no window named Quenmor"
eval "$(xdotool getwindowgeometry --shell "$window")"
[ "$WIDTH" = 800 ] && [ "$HEIGHT" = 599 ] || fail "the window is ${WIDTH}x$HEIGHT, not 800x599"
# Centred on the 1280 x 1024 screen (the work area of a desktop without panels).
[ "$X" = 240 ] && [ "$Y" = 212 ] || fail "the window is at $X,$Y, not centred (240,212)"
wait_for unlock 300 || fail "the automatic run did not end"
grep -q "^quenmor-trace [0-9]* lock" "$trace" || fail "the run did not lock the commands"

# Options (63 x 20 at 685, 17): the dialog, 220 x 300, centred over the
# window; its Cancel button (59 x 25 at 114, 256) hides it again.
xdotool mousemove --sync $((X + 716)) $((Y + 27)) click 1
dialog=$(find_window "Настройки" 100) || fail "the options dialog did not open"
eval "$(xdotool getwindowgeometry --shell "$dialog" | sed 's/^/DIALOG_/')"
[ "$DIALOG_WIDTH" = 220 ] && [ "$DIALOG_HEIGHT" = 300 ] ||
    fail "the dialog is ${DIALOG_WIDTH}x$DIALOG_HEIGHT, not 220x300"
[ "$DIALOG_X" = $((X + 290)) ] && [ "$DIALOG_Y" = $((Y + 149)) ] ||
    fail "the dialog is at $DIALOG_X,$DIALOG_Y, not centred over the window"
xdotool mousemove --sync $((DIALOG_X + 143)) $((DIALOG_Y + 268)) click 1
for _ in $(seq 1 50); do
    xdotool search --onlyvisible --name "^Настройки\$" >/dev/null 2>&1 || break
    sleep 0.1
done
! xdotool search --onlyvisible --name "^Настройки\$" >/dev/null 2>&1 || fail "Cancel left the dialog open"

# The close button, 16 x 16 at (768, 17).
xdotool mousemove --sync $((X + 776)) $((Y + 25)) click 1
wait_for closed 100 || fail "the close button did not close the window"
wait_end 100 || fail "the launcher did not end after closing"
pid=

# The first start makes the desktop shortcut; play starts "Rename.bat" and
# the game in its own folder, then the window closes.
mkdir -p "$install/system"
printf '@echo off\r\necho renamed>"%%~dp0renamed.txt"\r\n' >"$install/Rename.bat"
printf '@echo off\r\necho played>"%%~dp0played.txt"\r\ncd>>"%%~dp0played.txt"\r\n' \
    >"$install/system/game.bat"
printf '[main]\r\nUpdatesUrl=http://127.0.0.1:9/\r\nLinkName=Quenmor Test\r\nInstalled=0\r\nRunCustom=system\\game.bat\r\n' \
    >"$install/Quenmor.ini"
desktop=$(ls -d "${WINEPREFIX:?}"/drive_c/users/*/Desktop 2>/dev/null | grep -v /Public/ | head -n 1)
[ -n "$desktop" ] && rm -f "$desktop/Quenmor Test.lnk"
: >"$trace"
# The session outlives the launcher this time, so that the game it started
# gets to run; it is ended below.
(cd "$install" && QUENMOR_TRACE=1 QUENMOR_WINE_END_SESSION='' exec "$wine_run" "$install/Quenmor.exe" \
    2>"$trace") &
pid=$!
wait_for paint 600 || fail "the window was not painted on the first start"
grep -q '^Installed=1' <(tr -d '\r' <"$install/Quenmor.ini") || fail "the first start left Installed unset"
desktop=$(ls -d "$WINEPREFIX"/drive_c/users/*/Desktop | grep -v /Public/ | head -n 1)
[ -f "$desktop/Quenmor Test.lnk" ] || fail "no shortcut on the desktop ($desktop)"
rm -f "$desktop/Quenmor Test.lnk"
window=$(find_window Quenmor 100) || fail "no window named Quenmor"
eval "$(xdotool getwindowgeometry --shell "$window")"
# Play, 96 x 99 at (686, 485).
xdotool mousemove --sync $((X + 734)) $((Y + 534)) click 1
wait_for closed 100 || fail "play did not close the window"
wait_end 100 || fail "the launcher did not end after play"
pid=
for _ in $(seq 1 100); do
    [ -f "$install/system/played.txt" ] && [ -f "$install/renamed.txt" ] && break
    sleep 0.1
done
[ -f "$install/renamed.txt" ] || fail "play did not run Rename.bat"
[ -f "$install/system/played.txt" ] || fail "play did not start the game"
tr -d '\r' <"$install/system/played.txt" | grep -qi 'system$' || fail "the game did not start in its own folder"
QUENMOR_WINE_END_SESSION=1 "$wine_run" cmd.exe /c exit 0 >/dev/null 2>&1 || true

# No settings: the message, then the end of the program.
rm "$install/Quenmor.ini"
: >"$trace"
(cd "$install" && QUENMOR_TRACE=1 exec "$wine_run" "$install/Quenmor.exe" 2>"$trace") &
pid=$!
box=$(find_window Quenmor 600) || fail "no message box about the missing settings"
xdotool windowactivate --sync "$box" key Return 2>/dev/null || xdotool key Return
wait_end 100 || fail "the launcher did not end after the message"
pid=
! grep -q "^quenmor-trace [0-9]* paint" "$trace" || fail "the window was shown without settings"
echo "ok"
