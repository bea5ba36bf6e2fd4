#!/usr/bin/env bash
# The Win32 window under Wine on an X server, where nothing can be shown or
# updated: started without a news address in an installation whose update
# server cannot be reached, its news panel shows the quiet placeholder in the
# skin's dark colours (no white), the status line keeps the run's failure
# text, and resting the pointer on it brings up the tool tip with the cause;
# the options dialog shows its link to the log's folder. Pictures of the
# screen are kept in SHOTS.
#
#   window_explains.sh LAUNCHER SCREENSHOT WINE-RUN SHOTS
#
# Runs itself under xvfb-run when no X server is given in DISPLAY.
set -euo pipefail

launcher=$1 screenshot=$2 wine_run=$3 shots=$4

if [ -z "${QUENMOR_WIN32_ON_X:-}" ]; then
    export QUENMOR_WIN32_ON_X=1
    exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
command -v xdotool >/dev/null || { echo "xdotool is not installed; run scripts/bootstrap" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quenmor-win32-explains-XXXXXX")
install="$work/Quenmor Online" trace=$work/trace.log
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    QUENMOR_WINE_END_SESSION=1 "$wine_run" cmd.exe /c exit 0 >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    echo "--- trace:" >&2
    tr -d '\r' <"$trace" >&2 2>/dev/null || true
    exit 1
}
# Waits up to $2 tenths of a second for an event in the trace.
wait_for() {
    for _ in $(seq 1 "$2"); do
        tr -d '\r' <"$trace" 2>/dev/null | grep -q "^quenmor-trace [0-9]* $1\( \|\$\)" && return 0
        sleep 0.1
    done
    return 1
}
# The screenshot program in the launcher's Wine session, which outlives it.
measure() { QUENMOR_WINE_END_SESSION='' "$wine_run" "$screenshot" "$@" 2>/dev/null | tr -d '\r'; }
shot() { measure "$@" >/dev/null || fail "no picture of the screen: $1"; }

mkdir -p "$install" "$shots"
cp "$launcher" "$install/Quenmor.exe"
# No news address; nothing listens on port 9 of the loopback.
printf '[main]\r\nNewsUrl=\r\nUpdatesUrl=http://127.0.0.1:9/\r\nLinkName=\r\nInstalled=1\r\n' \
    >"$install/Quenmor.ini"

(cd "$install" && QUENMOR_TRACE=1 QUENMOR_WINE_END_SESSION='' exec "$wine_run" \
    "$install/Quenmor.exe" 2>"$trace") &
pid=$!
wait_for paint 600 || fail "the window was not painted"
wait_for news-placeholder 100 || fail "the news panel did not show its placeholder"
wait_for unlock 300 || fail "the automatic run did not end"
status=$(tr -d '\r' <"$trace" | sed -n 's/^quenmor-trace [0-9]* status \(.*\)$/\1/p' | tail -n 1)
[ "$status" = "Не удалось обновить" ] || fail "the run ended with '$status'"
window=$(xdotool search --onlyvisible --name '^Quenmor$' | head -n 1)
[ -n "$window" ] || fail "no window named Quenmor"
eval "$(xdotool getwindowgeometry --shell "$window")"
# Away from the status line, so that no tool tip shows yet.
xdotool mousemove --sync $((X + 100)) $((Y + 20))
sleep 0.5
shot "$shots/explains-1-placeholder.png"

# The news panel, 786 x 380 at (7, 97): one dark colour of the skin but for
# its line of text, and no white at all.
panel=("$((X + 7))" "$((Y + 97))" 786 380)
back=$(measure --colour $((X + 12)) $((Y + 102)))
[ -n "$back" ] || fail "the panel's colour cannot be read"
[ "$(measure --colour $((X + 788)) $((Y + 472)))" = "$back" ] ||
    fail "the panel's corners differ: not one placeholder"
r=$((16#${back:0:2})) g=$((16#${back:2:2})) b=$((16#${back:4:2}))
[ $((r + g + b)) -lt 240 ] && [ "$b" -ge "$r" ] || fail "the placeholder is not the skin's dark blue: $back"
filled=$(measure --count "$back" "${panel[@]}")
[ "$filled" -ge $((786 * 380 * 97 / 100)) ] || fail "the placeholder covers $filled of the panel's pixels"
[ "$filled" -lt $((786 * 380)) ] || fail "the placeholder has no text"
[ "$(measure --count FFFFFF "${panel[@]}")" = 0 ] || fail "the news panel shows white"

# The status line, 429 x 13 at (128, 512): under the pointer its tool tip
# comes up near it after the system's delay.
around=("$((X + 100))" "$((Y + 400))" 900 400)
[ "$(measure --count infobk "${around[@]}")" = 0 ] || fail "a tool tip's colour before hovering"
xdotool mousemove --sync $((X + 342)) $((Y + 518))
xdotool mousemove --sync $((X + 344)) $((Y + 518))
tip=0
for _ in $(seq 1 30); do
    tip=$(measure --count infobk "${around[@]}")
    [ "$tip" -gt 500 ] && break
    sleep 0.2
done
shot "$shots/explains-2-hover.png"
[ "$tip" -gt 500 ] || fail "no tool tip over the status line ($tip pixels of its colour)"

# The log has the cause the tool tip gives.
log=$(ls "${WINEPREFIX:?}"/drive_c/users/*/AppData/Local/Quenmor/launcher.log 2>/dev/null | head -n 1)
[ -n "$log" ] || fail "no launcher.log in the prefix's local application data"
tail -n 5 "$log" | grep -q " failure http://127.0.0.1:9/files.lst.bz2" || fail "the cause is not in $log"

# The options dialog's link to the log's folder, under the backup switch
# (150 x 13 at 35, 75), in the link's light blue.
xdotool mousemove --sync $((X + 716)) $((Y + 27)) click 1
dialog=
for _ in $(seq 1 100); do
    dialog=$(xdotool search --onlyvisible --name '^Настройки$' 2>/dev/null | head -n 1) || true
    [ -n "$dialog" ] && break
    sleep 0.1
done
[ -n "$dialog" ] || fail "the options dialog did not open"
eval "$(xdotool getwindowgeometry --shell "$dialog" | sed 's/^/DIALOG_/')"
sleep 0.3
shot "$shots/explains-3-options.png" "$DIALOG_X" "$DIALOG_Y" 220 300
link=$(measure --count 8CA2C4 $((DIALOG_X + 35)) $((DIALOG_Y + 75)) 150 13)
[ "$link" -gt 40 ] || fail "no link to the log's folder in the dialog ($link pixels of its colour)"
echo "ok"
