#!/usr/bin/env bash
# End to end: a client folder published with quenmor-publish, served by nginx
# on a loopback port, and brought into a fresh installation by quenmor-update.
#
#   update_e2e.sh PUBLISH UPDATE SERVE [RUNNER LOCK_HOLDER]
#
# With RUNNER (cmake/wine-run) the programs are the Windows build's, run
# through it against the same nginx; LOCK_HOLDER is the tests' stand-in
# program, which holds an installation's lock the way Windows locks. With
# QUENMOR_E2E_SIGNED=1 in the environment every tree is signed with a key of
# its own that the installation trusts, and an unsigned one is refused.
set -euo pipefail

publish=$1 update=$2 serve=$3 runner=${4:-} holder=${5:-}
if [ -n "$runner" ]; then launcher=Quenmor.exe script=Update.bat; else launcher=Quenmor script=Update.sh; fi
work=$(mktemp -d "${TMPDIR:-/tmp}/quenmor-e2e-XXXXXX")
client=$work/client server=$work/server install=$work/install run=$work/nginx
cleanup() { "$serve" stop "$run" >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
check() { local what=$1; shift; "$@" || fail "$what"; }

# A client with nested folders, a blank and Cyrillic letters in names.
mkdir -p "$client/system" "$client/data/maps/north" "$client/Мир данных"
head -c 300000 /dev/urandom >"$client/system/zentyr.exe"
for i in $(seq 1 20); do
    printf 'map %d\n%.0s' "$i" $(seq 1 200) >"$client/data/maps/north/map$i.txt"
done
head -c 100000 /dev/urandom | base64 >"$client/data/a.dat"
echo "карта" >"$client/Мир данных/карта 1.txt"
: >"$client/data/empty.dat"

# Loopback port for nginx.
port=
for _ in $(seq 1 20); do
    candidate=$((20000 + RANDOM % 20000))
    mkdir -p "$server"
    if "$serve" start "$server" "$candidate" "$run" 2>/dev/null; then port=$candidate; break; fi
done
[ -n "$port" ] || fail "nginx could not be started"

run() { if [ -n "$runner" ]; then "$runner" "$@"; else "$@"; fi; }
signed=${QUENMOR_E2E_SIGNED:-0}
sign=() key_setting=
if [ "$signed" = 1 ]; then
    echo "-- a signing key (every tree below is signed with it)"
    run "$publish" --keygen "$work/key.pem" | tr -d '\r' >"$work/key.line"
    key_setting=$(grep -x 'UpdateKey=[A-Za-z0-9+/]*=' "$work/key.line") || fail "no key printed"
    sign=(--sign "$work/key.pem" --expires 7)
fi
publish_rev() { run "$publish" "$client" "$server" --rev "$1" --critical 'system/*' "${sign[@]}" >/dev/null; }
# Runs the update; its output stays in $work/out (Windows ends its lines with
# CR LF). The run's last status text is the last line of a failed run; a run
# that went through ends with the tool's own line after it.
update() { (cd "$install" && run "$update" "$@") | tr -d '\r' >"$work/out"; }
final() { grep -v -e '^up to date, revision ' -e '^updated to revision ' "$work/out" | tail -n 1; }
summary() { tail -n 1 "$work/out"; }
has_line() { tr -d '\r' <"$1" | grep -qx -- "$2"; }
setting() { sed -n "s/^$1=\(.*\)\r\$/\1/p" "$install/Quenmor.ini"; }
same_as_client() {
    diff -r --exclude=Quenmor.ini --exclude=backup --exclude="$launcher" --exclude=.quenmor-launcher.lock \
        "$client" "$install" >/dev/null
}

publish_rev 1
mkdir -p "$install"
printf '[main]\r\nUpdatesUrl=http://127.0.0.1:%s\r\nCreateBackup=0\r\nAtRevision=0\r\n%s\r\n' \
    "$port" "$key_setting" >"$install/Quenmor.ini"

echo "-- first run installs everything"
update || fail "first run exited $?"
check "status after first run" [ "$(final)" = "Все файлы были обновлены" ]
check "summary after first run" sh -c "tail -n 1 '$work/out' | grep -qx 'updated to revision 1, [0-9]* files, [0-9.]* MB'"
check "installation equals the client" same_as_client
check "revision recorded" [ "$(setting AtRevision)" = 1 ]
check "no manifest left" [ ! -e "$install/files.lst" ] && [ ! -e "$install/files.lst.bz2" ]
if [ "$signed" = 1 ]; then
    check "signature published" [ -s "$server/files.lst.bz2.sig" ]
    check "rollback floor recorded" [ "$(setting TrustedRevision)" = 1 ]
fi

echo "-- an installation another launcher works in is left alone"
set +e
if [ -n "$runner" ]; then
    run "$holder" hold-lock "$install" >/dev/null 2>&1 &
    holding=$!
    for _ in $(seq 1 200); do [ -e "$install/held.txt" ] && break; sleep 0.1; done
    (cd "$install" && run "$update" >/dev/null 2>"$work/err")
    code=$?
    # Told to end, not ended by name: that would end the holders of other
    # tests running beside this one too.
    touch "$install/release.txt"
    wait "$holding" 2>/dev/null
    rm -f "$install/held.txt" "$install/release.txt"
else
    flock "$install/.quenmor-launcher.lock" bash -c 'cd "$1" && "$2" >/dev/null 2>"$3"' _ "$install" "$update" "$work/err"
    code=$?
fi
set -e
check "exit 2 while the installation is busy" [ "$code" = 2 ]
check "busy reported" grep -q "busy" "$work/err"

echo "-- a second run finds everything current"
update || fail "second run exited $?"
check "up to date" [ "$(summary)" = "up to date, revision 1" ]
check "no blank status lines" sh -c "! grep -qx '' '$work/out'"
check "only critical files checked" grep -qx 'Проверка system\\zentyr.exe' "$work/out"
if grep -q 'Проверка data' "$work/out"; then fail "normal files checked"; fi

echo "-- a new revision replaces a changed file, with a backup"
echo "changed" >>"$client/data/a.dat"
publish_rev 2
sed -i 's/^CreateBackup=0/CreateBackup=1/' "$install/Quenmor.ini"
cp "$install/data/a.dat" "$work/a.old"
update || fail "third run exited $?"
check "changed file fetched" grep -qx 'Загружается data\\a.dat' "$work/out"
check "installation equals the client" same_as_client
check "backup of the old file" cmp -s "$work/a.old" "$install/backup/data/a.dat"
check "revision 2 recorded" [ "$(setting AtRevision)" = 2 ]

echo "-- a damaged critical file is repaired at the same revision"
echo "damage" >>"$install/system/zentyr.exe"
update || fail "repair run failed"
check "critical file repaired" cmp -s "$client/system/zentyr.exe" "$install/system/zentyr.exe"

echo "-- a full check repairs a normal file at the same revision"
echo "damage" >>"$install/data/maps/north/map3.txt"
update || fail "run without full check failed"
if cmp -s "$client/data/maps/north/map3.txt" "$install/data/maps/north/map3.txt"; then
    fail "normal file checked without --full-check"
fi
update --full-check || fail "full check failed"
check "normal file repaired by a full check" cmp -s "$client/data/maps/north/map3.txt" "$install/data/maps/north/map3.txt"

echo "-- hosts mappings go into the hosts file of the given folder"
mkdir -p "$work/etc"
printf '127.0.0.1\tlocalhost\n9.9.9.9 login.quenmor.example\n' >"$work/etc/hosts"
printf '10.20.30.40 login.quenmor.example\n10.20.30.41 files.quenmor.example\n' >"$work/hosts.list"
run "$publish" "$client" "$server" --rev 3 --critical 'system/*' --mod-hosts 1 --hosts "$work/hosts.list" \
    "${sign[@]}" >/dev/null
update --hosts-dir "$work/etc" || fail "hosts run failed"
check "status of the hosts change" grep -qx 'Файлы хоста изменены' "$work/out"
check "old mapping commented" has_line "$work/etc/hosts" '#9.9.9.9 login.quenmor.example'
check "new mappings appended" has_line "$work/etc/hosts" "$(printf '10.20.30.41\tfiles.quenmor.example')"
cp "$work/etc/hosts" "$work/hosts.after"
update --hosts-dir "$work/etc" || fail "second hosts run failed"
check "second run leaves the hosts file alone" cmp -s "$work/hosts.after" "$work/etc/hosts"

echo "-- a newer launcher build replaces the running one"
# The headless runner stands in for the launcher: copied into the installation
# it is the program file that the manifest's "self" entry names.
cp "$update" "$install/$launcher"
cp "$update" "$client/$launcher"
printf 'newer build' >>"$client/$launcher" # still runs, with another digest
run "$publish" "$client" "$server" --rev 4 --critical 'system/*' --self "$launcher" "${sign[@]}" >/dev/null
# The update script ends the running launcher; that is expected here.
set +e; { (cd "$install" && run "./$launcher" >"$work/out" 2>&1); } 2>/dev/null; set -e
for _ in $(seq 1 150); do
    [ "$(setting AtRevision)" = 4 ] && [ ! -e "$install/$script" ] && break
    sleep 0.2
done
check "launcher replaced by the new build" cmp -s "$client/$launcher" "$install/$launcher"
[ -n "$runner" ] || check "new build is executable" [ -x "$install/$launcher" ]
check "script removed itself" [ ! -e "$install/$script" ]
check "no build left beside the launcher" [ ! -e "$install/$launcher.New" ]
check "the new launcher finished the update" [ "$(setting AtRevision)" = 4 ]
rm "$client/$launcher"

echo "-- a copy missing on the server fails without touching the old file"
echo "changed again" >>"$client/data/a.dat"
publish_rev 5
rm "$server/data/a.dat.bz2"
rm -r "$server/chunks" # nor can it be made of chunks
cp "$install/data/a.dat" "$work/a.before"
if update; then fail "a failed run exited 0"; fi
check "failure status" [ "$(final)" = "Не удалось обновить" ]
check "old file kept" cmp -s "$work/a.before" "$install/data/a.dat"
check "no downloaded copy left" [ ! -e "$install/data/a.dat.bz2" ]

if [ "$signed" = 1 ]; then
    echo "-- an unsigned tree is refused, and says why"
    cp "$client/data/a.dat" "$work/a.client"
    echo "unsigned change" >>"$client/data/a.dat"
    run "$publish" "$client" "$server" --rev 6 --critical 'system/*' --unsigned >/dev/null
    cp -a "$install" "$work/install.before"
    set +e; (cd "$install" && run "$update" 2>"$work/err") | tr -d '\r' >"$work/out"; code=$?; set -e
    check "exit 1 for a refused tree" [ "$code" = 1 ]
    check "failure status" [ "$(final)" = "Не удалось обновить" ]
    check "cause as the last line on stderr" \
        sh -c "tail -n 1 '$work/err' | tr -d '\r' | grep -q '^quenmor-update: failed: no signature: '"
    check "installation untouched" diff -r "$work/install.before" "$install"
    cp "$work/a.client" "$client/data/a.dat"

    echo "-- a malformed UpdateKey stops the run before it starts"
    cp "$install/Quenmor.ini" "$work/ini.good"
    sed -i 's/^UpdateKey=.*/UpdateKey=not-a-key\r/' "$install/Quenmor.ini"
    set +e; (cd "$install" && run "$update" >"$work/out" 2>"$work/err"); code=$?; set -e
    check "exit 2 for a malformed key" [ "$code" = 2 ]
    check "the setting named" grep -q "UpdateKey: 'not-a-key'" "$work/err"
    check "nothing fetched" [ ! -s "$work/out" ]
    cp "$work/ini.good" "$install/Quenmor.ini"
fi

echo "-- a server whose certificate is not trusted fails, and the log says why"
# Wine's Schannel takes any server certificate (it leaves the check to
# Windows' own, which Wine does not have): under Wine this part is left out.
if [ -z "$runner" ]; then
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 \
        -keyout "$work/tls.key" -out "$work/tls.crt" >/dev/null 2>&1 || fail "no test certificate"
    tls_port=
    for _ in $(seq 1 20); do
        candidate=$((20000 + RANDOM % 20000))
        if SERVE_TLS_CERT=$work/tls.crt SERVE_TLS_KEY=$work/tls.key \
            "$serve" start "$server" "$candidate" "$work/nginx-tls" 2>/dev/null; then
            tls_port=$candidate; break
        fi
    done
    [ -n "$tls_port" ] || fail "nginx with TLS could not be started"
    cp "$install/Quenmor.ini" "$work/ini.plain"
    sed -i "s|^UpdatesUrl=.*|UpdatesUrl=https://127.0.0.1:$tls_port/\r|" "$install/Quenmor.ini"
    set +e; (cd "$install" && run "$update" --verbose --log "$work/run.log" 2>"$work/err") >/dev/null; code=$?; set -e
    "$serve" stop "$work/nginx-tls"
    check "exit 1 for an untrusted certificate" [ "$code" = 1 ]
    check "the log names the certificate" grep -qi ' failure https://127.0.0.1:.*certificate' "$work/run.log"
    check "so does --verbose" grep -qi ' failure https://127.0.0.1:.*certificate' "$work/err"
    check "the run's start and end are logged" grep -q ' start UpdatesUrl=https://' "$work/run.log"
    check "the cause is the last line on stderr" \
        sh -c "tail -n 1 '$work/err' | tr -d '\r' | grep -qi '^quenmor-update: failed: https://.*certificate'"
    cp "$work/ini.plain" "$install/Quenmor.ini"
else
    echo "   (left out under Wine, whose Schannel does not check server certificates)"
fi

echo "-- a server that is down fails the same way"
"$serve" stop "$run"
if update; then fail "a run without server exited 0"; fi
check "failure status without server" [ "$(final)" = "Не удалось обновить" ]

echo "-- without Quenmor.ini the run cannot start"
rm "$install/Quenmor.ini"
set +e; update 2>/dev/null; code=$?; set -e
check "exit 2 without settings" [ "$code" = 2 ]

echo "end to end: all checks passed"
