#!/usr/bin/env bash
# scripts/serve as an operator meets it: a folder that does not exist is
# refused with its name; a folder that does is served on the address it
# prints, text as UTF-8 and the update files as plain bytes.
#
#   serve_test.sh SERVE
set -euo pipefail
serve=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/quenmor-serve-XXXXXX")
trap '"$serve" stop "$work/run" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

if "$serve" start "$work/nowhere" 20080 "$work/run" >"$work/out" 2>"$work/err"; then
    fail "a missing folder was served"
fi
grep -qF "no folder $work/nowhere" "$work/err" || fail "the refusal says: $(cat "$work/err")"
[ ! -e "$work/run/nginx.pid" ] || fail "nginx was started for a missing folder"

mkdir -p "$work/www"
printf '<html><body>Новости</body></html>\n' >"$work/www/news.html"
printf 'x' | bzip2 >"$work/www/files.lst.bz2"
port=
for _ in $(seq 1 20); do
    candidate=$((20000 + RANDOM % 20000))
    if "$serve" start "$work/www" "$candidate" "$work/run" >"$work/out" 2>/dev/null; then
        port=$candidate
        break
    fi
done
[ -n "$port" ] || fail "nginx could not be started"
grep -qxF "serving $work/www at http://127.0.0.1:$port/ (stop: $serve stop $work/run)" "$work/out" ||
    fail "start printed: $(cat "$work/out")"
type_of() { curl -s -o /dev/null -w '%{content_type}' "http://127.0.0.1:$port/$1"; }
[ "$(type_of news.html)" = "text/html; charset=utf-8" ] || fail "news.html is sent as $(type_of news.html)"
[ "$(type_of files.lst.bz2)" = "application/octet-stream" ] ||
    fail "files.lst.bz2 is sent as $(type_of files.lst.bz2)"
"$serve" stop "$work/run"
! curl -s -o /dev/null "http://127.0.0.1:$port/" || fail "nginx still answers after stop"
echo ok
