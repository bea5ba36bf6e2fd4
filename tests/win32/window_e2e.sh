#!/usr/bin/env bash
# End to end with the Win32 window under Wine: a client published with
# quenmor-publish.exe and served by nginx on a loopback port; Quenmor.exe,
# started on an X server in a fresh installation, performs its automatic run
# with its commands hidden, records the revision and shows them again. Then
# its outline lets the pointer through where the skin is cut out, a drag with
# each mouse button moves it by the pointer's displacement, the options
# dialog changes one key of option.ini, and play starts the game in its
# folder and closes the window. Pictures of the screen at the start, during
# and after the run are kept in SHOTS.
#
#   window_e2e.sh LAUNCHER PUBLISH SCREENSHOT SERVE WINE-RUN SHOTS
#
# Runs itself under xvfb-run when no X server is given in DISPLAY.
set -euo pipefail

launcher=$1 publish=$2 screenshot=$3 serve=$4 wine_run=$5 shots=$6

if [ -z "${QUENMOR_WIN32_ON_X:-}" ]; then
    export QUENMOR_WIN32_ON_X=1
    exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
command -v xdotool >/dev/null || { echo "xdotool is not installed; run scripts/bootstrap" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quenmor-win32-e2e-XXXXXX")
client=$work/client server=$work/server install="$work/Quenmor Online" run=$work/nginx
trace=$work/trace.log
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    "$serve" stop "$run" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    echo "--- trace (without file progress):" >&2
    tr -d '\r' <"$trace" 2>/dev/null | grep -v ' gauge1 ' >&2 || true
    exit 1
}
check() { local what=$1; shift; "$@" || fail "$what"; }
# The trace's lines end with CR LF, as standard error's do on Windows.
lines() { tr -d '\r' <"$trace" 2>/dev/null; }
# Waits up to $2 tenths of a second for an event in the trace.
wait_for() {
    for _ in $(seq 1 "$2"); do
        lines | grep -q "^quenmor-trace [0-9]* $1\( \|\$\)" && return 0
        sleep 0.1
    done
    return 1
}
events() { lines | sed -n "s/^quenmor-trace [0-9]* \($1\)\( \(.*\)\)\?\$/\3/p"; }
# A picture of the screen, or of a rectangle of it ($2..$5), taken in the
# launcher's Wine session, which must outlive it.
shot() {
    QUENMOR_WINE_END_SESSION='' "$wine_run" "$screenshot" "$@" >/dev/null 2>&1 ||
        fail "no picture of the screen: $1"
}
# The X window under the screen point $1,$2.
window_at() {
    xdotool mousemove --sync "$1" "$2"
    eval "$(xdotool getmouselocation --shell)"
    echo "$WINDOW"
}
corner() { eval "$(xdotool getwindowgeometry --shell "$window")"; echo "$X,$Y"; }

# The client: the game (a batch file that records where it runs), data in
# nested folders, a Cyrillic name.
mkdir -p "$client/system" "$client/data/maps" "$client/Мир" "$shots"
printf '@echo off\r\necho played>"%%~dp0played.txt"\r\ncd>>"%%~dp0played.txt"\r\n' \
    >"$client/system/game.bat"
for i in $(seq 1 20); do seq 1 2000 | sed "s/^/map $i row /" >"$client/data/maps/map$i.txt"; done
head -c 1500000 /dev/urandom >"$client/data/sound.ogg"
echo "глава 1" >"$client/Мир/глава 1.txt"

port=
mkdir -p "$server"
# A slow line, so that the run lasts long enough to be seen.
export SERVE_RATE=300k
for _ in $(seq 1 20); do
    candidate=$((20000 + RANDOM % 20000))
    if "$serve" start "$server" "$candidate" "$run" 2>/dev/null; then port=$candidate; break; fi
done
[ -n "$port" ] || fail "nginx could not be started"
# The copies alone: the slow line is to keep the run in sight for as long as its
# 1.5 MB copy takes, which chunks on several connections would shorten.
(cd "$work" && "$wine_run" "$publish" client server --rev 3 --critical 'system/*' --no-chunks \
    >"$work/publish.log" 2>&1) ||
    fail "quenmor-publish.exe failed: $(cat "$work/publish.log")"

# The installation: an old copy of one file (backups are on), "Rename.bat",
# the game's options.
mkdir -p "$install/data" "$install/system"
cp "$launcher" "$install/Quenmor.exe"
echo "old sound" >"$install/data/sound.ogg"
printf '@echo off\r\necho renamed>"%%~dp0renamed.txt"\r\n' >"$install/Rename.bat"
printf '; the game'"'"'s own\r\n[Video]\r\nGamePlayViewportX=1024\r\nGamePlayViewportY=768\r\nColorBits=32\r\nRefreshRate=60\r\nIsKeepMinFrameRate=true\r\nStartupFullScreen=false\r\nGamma=1.2\r\n\r\n[Game]\r\nPartyLooting=1\r\nChatFilter=on\r\n' \
    >"$install/system/option.ini"
printf '[main]\r\nNewsUrl=http://127.0.0.1:%s/news.html\r\nUpdatesUrl=http://127.0.0.1:%s/\r\nLinkName=\r\nInstalled=1\r\nCreateBackup=1\r\nAtRevision=0\r\nRunCustom=system\\game.bat\r\n' \
    "$port" "$port" >"$install/Quenmor.ini"
printf '<html><head><meta charset="utf-8"></head><body>Новости</body></html>\n' >"$server/news.html"

echo "$(date +%T) -- the launcher starts and runs the update by itself"
# The session outlives the launcher, so that the game it starts gets to run.
(cd "$install" && QUENMOR_TRACE=1 QUENMOR_WINE_END_SESSION='' exec "$wine_run" "$install/Quenmor.exe" \
    2>"$trace") &
pid=$!
check "first paint" wait_for paint 600
window=$(xdotool search --onlyvisible --name '^Quenmor$' | head -n 1)
[ -n "$window" ] || fail "no window named Quenmor"
origin=$(corner) x0=${origin%,*} y0=${origin#*,}
# Play, 96 x 99 at (686, 485): hidden before the run, during it, shown after.
play=("$((x0 + 686))" "$((y0 + 485))" 96 99)
shot "$shots/1-start.png"
check "run started" wait_for lock 100
shot "$work/play-during.png" "${play[@]}"
shot "$shots/2-during.png"
check "run ended" wait_for unlock 1200
sleep 0.3 # the redraw that shows the commands again
shot "$work/play-after.png" "${play[@]}"
shot "$shots/3-after.png"
! cmp -s "$work/play-during.png" "$work/play-after.png" ||
    fail "the play button looks the same during the run and after it"

events status >"$work/status"
check "status texts of the run" grep -qx 'Скачивание списка обновлений' "$work/status"
check "checking shown" grep -qx 'Проверка файлов' "$work/status"
check "downloads shown" grep -qxF 'Загружается data\maps\map7.txt' "$work/status"
check "unpacking shown" grep -qxF 'Извлекается Мир\глава 1.txt' "$work/status"
check "final status" [ "$(tail -n 1 "$work/status")" = "Все файлы были обновлены" ]
check "revision notified" [ "$(events revision)" = 3 ]
check "installation equals the client" \
    diff -r --exclude=Quenmor.ini --exclude=Quenmor.exe --exclude=backup --exclude=Rename.bat \
    --exclude=option.ini --exclude=.quenmor-launcher.lock "$client" "$install"
check "revision recorded" grep -q $'^AtRevision=3\r$' "$install/Quenmor.ini"
check "old file kept as a backup" [ "$(cat "$install/backup/data/sound.ogg")" = "old sound" ]
# The log is in the prefix's %LOCALAPPDATA% (Wine sets its own), one start
# line and one end line for each run.
log=$(ls "${WINEPREFIX:?}"/drive_c/users/*/AppData/Local/Quenmor/launcher.log 2>/dev/null | head -n 1)
[ -n "$log" ] || fail "no launcher.log in the prefix's local application data"
grep -A1 -F " start UpdatesUrl=http://127.0.0.1:$port/ " "$log" | tail -n 1 |
    grep -q " end Все файлы были обновлены" || fail "the run and its end are not in $log"

echo "$(date +%T) -- the outline"
# The skin's corner is cut out: there the screen shows what lies behind (the
# bare X screen here, as at its own corner) and the pointer is not over the
# window; inside the skin it is.
shot "$work/behind.png" 0 0 3 3
shot "$work/corner.png" "$x0" "$y0" 3 3
check "the cut-out corner shows what lies behind" cmp -s "$work/behind.png" "$work/corner.png"
[ "$(window_at $((x0 + 1)) $((y0 + 1)))" != "$window" ] || fail "the cut-out corner takes the pointer"
[ "$(window_at $((x0 + 100)) $((y0 + 60)))" = "$window" ] || fail "the skin does not take the pointer"

echo "$(date +%T) -- a drag with each button"
for button in 1 3 2; do
    before=$(corner)
    # (No --sync: xdotool waits some seconds for a move to a point where the
    # pointer already is, as it is at each drag's start here.)
    xdotool mousemove $((${before%,*} + 100)) $((${before#*,} + 60))
    sleep 0.1
    xdotool mousedown "$button"
    sleep 0.1
    xdotool mousemove $((${before%,*} + 130)) $((${before#*,} + 80))
    sleep 0.1
    xdotool mousemove $((${before%,*} + 140)) $((${before#*,} + 100))
    sleep 0.1
    xdotool mouseup "$button"
    sleep 0.2
    after=$(corner)
    [ "$after" = "$((${before%,*} + 40)),$((${before#*,} + 40))" ] ||
        fail "a drag with button $button by 40,40 moved the window from $before to $after"
done
origin=$(corner) x0=${origin%,*} y0=${origin#*,}

echo "$(date +%T) -- the options change one key of option.ini"
cp "$install/system/option.ini" "$work/option.before"
# Options (63 x 20 at 685, 17); in the dialog "Полный экран" (97 x 17 at 62,
# 200) and Accept (59 x 25 at 48, 256).
xdotool mousemove --sync $((x0 + 716)) $((y0 + 27)) click 1
dialog=
for _ in $(seq 1 100); do
    dialog=$(xdotool search --onlyvisible --name '^Настройки$' 2>/dev/null | head -n 1) || true
    [ -n "$dialog" ] && break
    sleep 0.1
done
[ -n "$dialog" ] || fail "the options dialog did not open"
eval "$(xdotool getwindowgeometry --shell "$dialog" | sed 's/^/DIALOG_/')"
shot "$shots/4-options.png" "$DIALOG_X" "$DIALOG_Y" 220 300
xdotool mousemove --sync $((DIALOG_X + 70)) $((DIALOG_Y + 208)) click 1
xdotool mousemove --sync $((DIALOG_X + 77)) $((DIALOG_Y + 268)) click 1
for _ in $(seq 1 50); do
    xdotool search --onlyvisible --name '^Настройки$' >/dev/null 2>&1 || break
    sleep 0.1
done
# The system's profile functions write the file; Wine's drop the blank line
# between sections, which Windows keeps: blank lines are not compared.
diff -B --strip-trailing-cr "$work/option.before" "$install/system/option.ini" >"$work/option.diff" &&
    fail "option.ini did not change"
[ "$(grep -c '^[<>]' "$work/option.diff")" = 2 ] &&
    grep -qx '< StartupFullScreen=false' "$work/option.diff" &&
    grep -qx '> StartupFullScreen=true' "$work/option.diff" ||
    fail "option.ini changed otherwise than in StartupFullScreen: $(cat "$work/option.diff")"

echo "$(date +%T) -- play"
xdotool mousemove --sync $((x0 + 734)) $((y0 + 534)) click 1
check "play closed the window" wait_for closed 100
for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "the launcher did not end after play"
pid=
for _ in $(seq 1 100); do
    [ -f "$install/system/played.txt" ] && [ -f "$install/renamed.txt" ] && break
    sleep 0.1
done
check "play ran Rename.bat" [ -f "$install/renamed.txt" ]
check "play started the game" [ -f "$install/system/played.txt" ]
tr -d '\r' <"$install/system/played.txt" | grep -qi 'system$' || fail "the game did not start in its own folder"
QUENMOR_WINE_END_SESSION=1 "$wine_run" cmd.exe /c exit 0 >/dev/null 2>&1 || true
echo "PASS"
