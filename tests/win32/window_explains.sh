#!/usr/bin/env bash
# The Win32 window under Wine on an X server with no news address and an
# update server out of reach: the news panel is the placeholder's one dark
# colour of the skin but for its line (no white), the pointer resting on the
# status line brings up its tool tip, and the options dialog shows the link
# to the log's folder. Pictures of the screen are kept in SHOTS.
#
#   window_explains.sh LAUNCHER SCREENSHOT WINE-RUN SHOTS
set -euo pipefail

launcher=$1 screenshot=$2 wine_run=$3 shots=$4
if [ -z "${QUENMOR_WIN32_ON_X:-}" ]; then
    export QUENMOR_WIN32_ON_X=1
    exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/quenmor-win32-explains-XXXXXX")
install="$work/Quenmor Online" trace=$work/trace.log pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    QUENMOR_WINE_END_SESSION=1 "$wine_run" cmd.exe /c exit 0 >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; tr -d '\r' <"$trace" >&2 2>/dev/null || true; exit 1; }
# Waits up to $2 tenths of a second for an event in the trace.
wait_for() {
    for _ in $(seq 1 "$2"); do
        tr -d '\r' <"$trace" | grep -q "^quenmor-trace [0-9]* $1\( \|\$\)" && return 0
        sleep 0.1
    done
    return 1
}
# The screenshot program, in the launcher's Wine session.
measure() { QUENMOR_WINE_END_SESSION='' "$wine_run" "$screenshot" "$@" 2>/dev/null | tr -d '\r'; }

mkdir -p "$install" "$shots"
cp "$launcher" "$install/Quenmor.exe"
printf '[main]\r\nNewsUrl=\r\nUpdatesUrl=http://127.0.0.1:9/\r\nLinkName=\r\nInstalled=1\r\n' \
    >"$install/Quenmor.ini"
(cd "$install" && QUENMOR_TRACE=1 QUENMOR_WINE_END_SESSION='' exec "$wine_run" \
    "$install/Quenmor.exe" 2>"$trace") &
pid=$!
wait_for news-placeholder 600 || fail "the news panel did not show its placeholder"
wait_for unlock 300 || fail "the automatic run did not end"
window=$(xdotool search --onlyvisible --name '^Quenmor$' | head -n 1)
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --sync $((X + 100)) $((Y + 20)) # away from the status line
sleep 0.5
measure "$shots/explains-1-placeholder.png" >/dev/null

# The news panel, 786 x 380 at (7, 97).
panel=("$((X + 7))" "$((Y + 97))" 786 380)
back=$(measure --colour $((X + 12)) $((Y + 102)))
r=$((16#${back:0:2})) g=$((16#${back:2:2})) b=$((16#${back:4:2}))
[ $((r + g + b)) -lt 240 ] && [ "$b" -ge "$r" ] || fail "the placeholder is not the skin's dark blue: $back"
filled=$(measure --count "$back" "${panel[@]}")
[ "$filled" -ge $((786 * 380 * 97 / 100)) ] && [ "$filled" -lt $((786 * 380)) ] ||
    fail "the placeholder's colour covers $filled of the panel's pixels, no more for its line"
[ "$(measure --count FFFFFF "${panel[@]}")" = 0 ] || fail "the news panel shows white"

# The status line, 429 x 13 at (128, 512).
around=("$((X + 100))" "$((Y + 400))" 900 400)
[ "$(measure --count infobk "${around[@]}")" = 0 ] || fail "a tool tip's colour before hovering"
xdotool mousemove --sync $((X + 342)) $((Y + 518)) mousemove --sync $((X + 344)) $((Y + 518))
tip=0
for _ in $(seq 1 30); do
    tip=$(measure --count infobk "${around[@]}")
    [ "$tip" -gt 500 ] && break
    sleep 0.2
done
measure "$shots/explains-2-hover.png" >/dev/null
[ "$tip" -gt 500 ] || fail "no tool tip over the status line ($tip pixels of its colour)"

# Options (63 x 20 at 685, 17): the link, 150 x 13 at (35, 75), in its blue.
xdotool mousemove --sync $((X + 716)) $((Y + 27)) click 1
for _ in $(seq 1 100); do
    dialog=$(xdotool search --onlyvisible --name '^Настройки$' 2>/dev/null | head -n 1) || true
    [ -n "${dialog:-}" ] && break
    sleep 0.1
done
[ -n "${dialog:-}" ] || fail "the options dialog did not open"
eval "$(xdotool getwindowgeometry --shell "$dialog" | sed 's/^/DIALOG_/')"
sleep 0.3
measure "$shots/explains-3-options.png" "$DIALOG_X" "$DIALOG_Y" 220 300 >/dev/null
link=$(measure --count 8CA2C4 $((DIALOG_X + 35)) $((DIALOG_Y + 75)) 150 13)
[ "$link" -gt 40 ] || fail "no link to the log's folder in the dialog ($link pixels of its colour)"
echo "ok"
