#!/usr/bin/env bash
# The player's installer under Wine: a silent install puts the launcher and
# the operator's Quenmor.ini into the folder asked for; installing again keeps
# the settings the installation has made its own; the uninstaller takes away
# what the installer put there and leaves the game's files.
#
#   installer_test.sh INSTALLER WINE-RUN
#
# Runs itself under xvfb-run when no X server is given in DISPLAY.
set -euo pipefail

installer=$1 wine_run=$2

if [ -z "${QUENMOR_INSTALLER_ON_X:-}" ]; then
    export QUENMOR_INSTALLER_ON_X=1
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/quenmor-installer-XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# The folder as Wine names it (Z: is the root); the installer takes it
# unquoted, so the test's folder has no blank in it.
client=$work/Client
windows_path() { echo "Z:${1//\//\\}"; }

"$wine_run" "$installer" /S "/D=$(windows_path "$client")" >/dev/null 2>&1 || fail "the installer failed"
[ -f "$client/Quenmor.exe" ] || fail "no Quenmor.exe in $client"
tr -d '\r' <"$client/Quenmor.ini" | grep -qx 'Installed=0' || fail "the settings are not the operator's"

# The launcher's own records stay through a second install.
printf '[main]\r\nUpdatesUrl=http://example.invalid/\r\nLinkName=\r\nInstalled=1\r\nAtRevision=5\r\n' \
    >"$client/Quenmor.ini"
mkdir -p "$client/system"
echo "game" >"$client/system/zentyr.exe"
"$wine_run" "$installer" /S "/D=$(windows_path "$client")" >/dev/null 2>&1 || fail "the second install failed"
tr -d '\r' <"$client/Quenmor.ini" | grep -qx 'AtRevision=5' || fail "a second install replaced the settings"

# "_?=" has the uninstaller run where it is and be waited for.
"$wine_run" "$client/Uninstall Quenmor.exe" /S "_?=$(windows_path "$client")" >/dev/null 2>&1 ||
    fail "the uninstaller failed"
[ ! -e "$client/Quenmor.exe" ] || fail "the uninstaller left Quenmor.exe"
[ ! -e "$client/Quenmor.ini" ] || fail "the uninstaller left Quenmor.ini"
[ -f "$client/system/zentyr.exe" ] || fail "the uninstaller took the game's files"
echo "ok"
