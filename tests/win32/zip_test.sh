#!/usr/bin/env bash
# The zip of the Windows programs: exactly the three programs, and each of
# them, taken out of it, runs under Wine: the tools answer --help.
#
#   zip_test.sh ZIP WINE-RUN
set -euo pipefail
zip=$1 wine_run=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/quenmor-zip-XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

listed=$(cmake -E tar tf "$zip" | sort | tr '\n' ' ')
[ "$listed" = "Quenmor.exe quenmor-publish.exe quenmor-update.exe " ] ||
    fail "the zip holds: $listed"
(cd "$work" && cmake -E tar xf "$zip")
for tool in quenmor-update quenmor-publish; do
    "$wine_run" "$work/$tool.exe" --help >"$work/$tool.out" 2>&1 ||
        fail "$tool.exe from the zip did not run: $(cat "$work/$tool.out")"
    grep -qi "^usage: $tool " <(tr -d '\r' <"$work/$tool.out") ||
        fail "$tool.exe --help printed: $(cat "$work/$tool.out")"
done
# The launcher is a window program: its file is a whole Windows program.
[ "$(head -c 2 "$work/Quenmor.exe")" = MZ ] || fail "Quenmor.exe in the zip is not a program"
echo ok
