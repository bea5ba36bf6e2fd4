#!/usr/bin/env bash
# End to end with one file far past 32-bit sizes: a client holding a file of
# 5 GiB (3 GiB of noise and 2 GiB of zeros, so that its compressed copy also
# passes 2 GiB) is published, served by nginx on a loopback port, installed
# from scratch by quenmor-update and then checked in full. It needs about
# 20 GB of free space and a quarter of an hour, so it is not one of the
# tests that ctest runs; start it by hand:
#
#   tests/e2e/large_file_e2e.sh PUBLISH UPDATE SERVE [NOISE_GIB ZERO_GIB]
set -euo pipefail

publish=$(realpath "$1") update=$(realpath "$2") serve=$(realpath "$3") noise=${4:-3} zeros=${5:-2}
work=$(mktemp -d "${TMPDIR:-/tmp}/quenmor-large-XXXXXX")
client=$work/client server=$work/server install=$work/install run=$work/nginx
cleanup() { "$serve" stop "$run" >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
stamp() { date +%s; }

mkdir -p "$client/data" "$install"
echo "-- making the client: ${noise} GiB of noise and ${zeros} GiB of zeros in one file"
{ head -c "$((noise << 30))" /dev/urandom; head -c "$((zeros << 30))" /dev/zero; } >"$client/data/huge.pak"
echo small >"$client/data/small.txt"
size=$(stat -c %s "$client/data/huge.pak")

t0=$(stamp)
"$publish" "$client" "$server" --rev 1 >/dev/null || fail "publishing"
t1=$(stamp)
copy=$(stat -c %s "$server/data/huge.pak.bz2")
echo "published in $((t1 - t0)) s: content $size bytes, compressed copy $copy bytes"
[ "$copy" -gt 2147483647 ] || fail "the compressed copy is not past 2 GiB"
grep -q "|$copy\$" <(bzip2 -dc "$server/files.lst.bz2" | tr -d '\r') || fail "the manifest does not list the copy's size"

port=
for _ in $(seq 1 20); do
    candidate=$((20000 + RANDOM % 20000))
    if "$serve" start "$server" "$candidate" "$run" 2>/dev/null; then port=$candidate; break; fi
done
[ -n "$port" ] || fail "nginx could not be started"
printf '[main]\r\nUpdatesUrl=http://127.0.0.1:%s\r\nAtRevision=0\r\n' "$port" >"$install/Quenmor.ini"

(cd "$install" && "$update" >"$work/out") || fail "the install exited $?: $(tail -n 3 "$work/out")"
t2=$(stamp)
grep -qx "Все файлы были обновлены" "$work/out" || fail "install status: $(tail -n 2 "$work/out")"
grep -q "^updated to revision 1, 1 file, " "$work/out" || fail "install summary: $(tail -n 1 "$work/out")"
cmp -s "$client/data/huge.pak" "$install/data/huge.pak" || fail "the installed file differs"
echo "installed from scratch in $((t2 - t1)) s"

(cd "$install" && "$update" --full-check >"$work/out") || fail "the full check exited $?"
t3=$(stamp)
[ "$(tail -n 1 "$work/out")" = "up to date, revision 1" ] || fail "the full check found something to do: $(tail -n 1 "$work/out")"
echo "checked in full in $((t3 - t2)) s"
echo "PASS"
