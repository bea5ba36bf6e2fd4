#!/usr/bin/env bash
# End to end with the window: a client published with quenmor-publish and
# served by nginx on a loopback port; the launcher started on an X server in a
# fresh installation performs its automatic run, shows the news, and plays:
# a stand-in "wine" on PATH records what it was given, and the launcher
# closes. The launcher's trace (QUENMOR_TRACE) tells what the window showed.
#
#   window_e2e.sh PUBLISH LAUNCHER SERVE
#
# Runs itself under xvfb-run when no X server is given in DISPLAY.
set -euo pipefail

publish=$1 launcher=$2 serve=$3

if [ -z "${QUENMOR_E2E_ON_X:-}" ]; then
    export QUENMOR_E2E_ON_X=1
    exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
command -v xdotool >/dev/null || { echo "xdotool is not installed; run scripts/bootstrap" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quenmor-window-e2e-XXXXXX")
client=$work/client server=$work/server install="$work/Quenmor Online" run=$work/nginx
trace=$work/trace.log record=$work/wine.log
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
    grep -v ' gauge1 ' "$trace" >&2 2>/dev/null || true
    exit 1
}
check() { local what=$1; shift; "$@" || fail "$what"; }
# Waits up to $2 tenths of a second for an event in the trace.
wait_for() {
    for _ in $(seq 1 "$2"); do
        grep -q "^quenmor-trace [0-9]* $1\( \|\$\)" "$trace" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}
events() { sed -n "s/^quenmor-trace [0-9]* \($1\)\( \(.*\)\)\?\$/\3/p" "$trace"; }

# The client: the game program, data in nested folders, Cyrillic names.
mkdir -p "$client/system" "$client/data/maps" "$client/Мир"
head -c 200000 /dev/urandom >"$client/system/zentyr.exe"
for i in $(seq 1 30); do seq 1 400 | sed "s/^/map $i row /" >"$client/data/maps/map$i.txt"; done
head -c 150000 /dev/urandom >"$client/data/sound.ogg"
echo "глава 1" >"$client/Мир/глава 1.txt"

port=
mkdir -p "$server"
for _ in $(seq 1 20); do
    candidate=$((20000 + RANDOM % 20000))
    if "$serve" start "$server" "$candidate" "$run" 2>/dev/null; then port=$candidate; break; fi
done
[ -n "$port" ] || fail "nginx could not be started"
"$publish" "$client" "$server" --rev 3 --critical 'system/*' --no-chunks >/dev/null # the copies' run, kept in sight
printf '<html><head><meta charset="utf-8"></head><body>Новости</body></html>\n' >"$server/news.html"

# The installation: an old copy of one file (backups are on), "Rename.bat",
# and the game's command line with an argument.
mkdir -p "$install/data"
echo "old sound" >"$install/data/sound.ogg"
printf '@echo off\r\n' >"$install/Rename.bat"
printf '[main]\r\nNewsUrl=http://127.0.0.1:%s/news.html\r\nUpdatesUrl=http://127.0.0.1:%s/\r\nLinkName=\r\nInstalled=1\r\nCreateBackup=1\r\nAtRevision=0\r\nRunCustom=system\\zentyr.exe -window\r\n' \
    "$port" "$port" >"$install/Quenmor.ini"

# The stand-in Wine: one line per start, "FOLDER|ARG|ARG...".
mkdir -p "$work/bin" "$work/home"
cat >"$work/bin/wine" <<EOF
#!/bin/sh
{ printf '%s' "\$PWD"; for a in "\$@"; do printf '|%s' "\$a"; done; echo; } >>'$record'
EOF
chmod +x "$work/bin/wine"

echo "-- the launcher starts and runs the update by itself"
(cd "$install" && HOME="$work/home" XDG_STATE_HOME="$work/state" PATH="$work/bin:$PATH" QUENMOR_TRACE=1 exec "$launcher") \
    2>"$trace" &
pid=$!
check "first paint" wait_for paint 100
check "run started about a second after start" wait_for lock 100
check "run ended" wait_for unlock 600
check "news shown" wait_for news 300

events status >"$work/status"
check "status texts of the run" grep -qx 'Скачивание списка обновлений' "$work/status"
check "checking shown" grep -qx 'Проверка файлов' "$work/status"
check "downloads shown" grep -qxF 'Загружается data\maps\map7.txt' "$work/status"
check "unpacking shown" grep -qxF 'Извлекается Мир\глава 1.txt' "$work/status"
check "final status" [ "$(tail -n 1 "$work/status")" = "Все файлы были обновлены" ]
files=$(find "$client" -type f | wc -l)
check "overall gauge covers the pending files" [ "$(events gauge2-max | tail -n 1)" = $((files - 1)) ]
check "file gauge emptied at the end" [ "$(events gauge1 | tail -n 1)" = 0 ]
check "overall gauge emptied at the end" [ "$(events gauge2 | tail -n 1)" = 0 ]
check "revision notified" [ "$(events revision)" = 3 ]
check "installation equals the client" \
    diff -r --exclude=Quenmor.ini --exclude=backup --exclude=Rename.bat --exclude=.quenmor-launcher.lock \
    "$client" "$install"
check "revision recorded" grep -q $'^AtRevision=3\r$' "$install/Quenmor.ini"
check "run logged with its settings" grep -q " start UpdatesUrl=http://127.0.0.1:" "$work/state/quenmor/launcher.log"
check "run's end logged" grep -q " end Все файлы были обновлены\$" "$work/state/quenmor/launcher.log"
check "old file kept as a backup" [ "$(cat "$install/backup/data/sound.ogg")" = "old sound" ]

echo "-- play"
origin=$(events paint)
x=$((${origin%,*} + 686 + 48)) y=$((${origin#*,} + 485 + 50))
xdotool mousemove "$x" "$y" click 1
for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "the launcher did not close after play"
wait "$pid" || fail "the launcher exited with status $?"
pid=
for _ in $(seq 1 50); do [ "$(wc -l <"$record" 2>/dev/null || echo 0)" -ge 2 ] && break; sleep 0.1; done
check "Rename.bat started in the base folder" grep -qxF "$install|C:\windows\system32\cmd.exe|/c|Rename.bat" "$record"
check "game started in its folder with its argument" \
    grep -qxF "$install/system|$install/system/zentyr.exe|-window" "$record"
echo "PASS"
