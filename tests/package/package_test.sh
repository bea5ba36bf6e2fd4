#!/usr/bin/env bash
# The Debian packages of a build: makes them with cpack into a scratch folder,
# unpacks each with dpkg-deb, and checks what they hold (files, owners and
# modes, stripped programs), their control fields (Depends from
# dpkg-shlibdeps), the desktop entry template against the entry the launcher
# writes, lintian's verdict when lintian is there, and that the unpacked
# programs answer --help.
#
#   package_test.sh BUILD_DIR CPACK DESKTOP_ENTRY
#
# DESKTOP_ENTRY is the tests' quenmor-desktop-entry. The environment names
# the packages' components (QUENMOR_PACKAGES="tools launcher") and whether
# they carry manual pages (QUENMOR_MAN_PAGES=1). Exits 77 (skipped) when the
# Debian tools are missing.
set -euo pipefail

build=$1 cpack=$2 desktop_entry=$3
components=${QUENMOR_PACKAGES:-tools} man_pages=${QUENMOR_MAN_PAGES:-0}

skip() { echo "skipped: $*"; exit 77; }
for tool in dpkg-deb dpkg-shlibdeps readelf; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/bootstrap installs it)"
done
command -v "$cpack" >/dev/null || skip "cpack ($cpack) is not installed"

work=$(mktemp -d "${TMPDIR:-/tmp}/quenmor-package-XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
field() { dpkg-deb -f "$deb" "$1"; }

if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    fail "cpack could not make the packages"
fi

arch=$(dpkg --print-architecture)
for component in $components; do
    name=quenmor-$component
    debs=("$work"/out/"${name}"_*_"$arch".deb)
    [ -f "${debs[0]}" ] && [ ${#debs[@]} = 1 ] || fail "cpack made no single $name package: $(ls "$work/out")"
    deb=${debs[0]} root=$work/root-$component
    dpkg-deb -x "$deb" "$root"

    # Control fields.
    [ "$(field Package)" = "$name" ] || fail "$name: Package is '$(field Package)'"
    [ "$(field Architecture)" = "$arch" ] || fail "$name: Architecture is '$(field Architecture)'"
    version=$(field Version)
    [[ $version =~ ^[0-9][0-9.]*-[0-9]+$ ]] || fail "$name: Version '$version' is not upstream-revision"
    for f in Maintainer Section Priority Description; do
        [ -n "$(field "$f")" ] || fail "$name: no $f field"
    done
    [ "$(field Description | wc -l)" -ge 3 ] || fail "$name: no long description"
    depends=$(field Depends)
    # dpkg-shlibdeps names the packages of the libraries the programs are
    # linked with, most with the lowest version whose symbols they use.
    [[ ", $depends" == *", libc6 (>= "* ]] || fail "$name: Depends '$depends' lacks a versioned libc6"
    case $component in
    tools) libraries="libstdc++6 libcurl4 libbz2-1.0 libssl3" ;;
    launcher) libraries="libstdc++6 libqt6core6 libqt6widgets6 libqt6webenginewidgets6" ;;
    esac
    for library in $libraries; do
        # (Later Debian releases add "t64" to some of these names.)
        [[ ", $depends," =~ ", $library"(t64)?[\ ,] ]] || fail "$name: Depends '$depends' lacks $library"
    done

    # Contents: exactly these files, owned by root, programs stripped.
    expected=("usr/share/doc/$name/changelog.Debian.gz" "usr/share/doc/$name/copyright"
        "usr/share/lintian/overrides/$name")
    case $component in
    tools) programs="quenmor-publish quenmor-update" ;;
    launcher)
        programs=Quenmor
        expected+=(usr/share/icons/hicolor/256x256/apps/quenmor-launcher.png
            usr/share/quenmor/quenmor-launcher.desktop.in) ;;
    esac
    for program in $programs; do
        expected+=("usr/bin/$program")
        if [ "$man_pages" = 1 ]; then expected+=("usr/share/man/man1/$program.1.gz"); fi
    done
    actual=$(cd "$root" && find . -mindepth 1 ! -type d | sed 's|^\./||' | LC_ALL=C sort)
    wanted=$(printf '%s\n' "${expected[@]}" | LC_ALL=C sort)
    [ "$actual" = "$wanted" ] || fail "$name holds:
$actual
instead of:
$wanted"
    while read -r mode owner _ _ _ path; do
        case $mode:$path in
        d*:*) want=drwxr-xr-x ;;
        *:./usr/bin/*) want=-rwxr-xr-x ;;
        *) want=-rw-r--r-- ;;
        esac
        [ "$mode" = "$want" ] && [ "$owner" = root/root ] ||
            fail "$name: $path is $mode $owner, not $want root/root"
    done < <(dpkg-deb -c "$deb")
    for program in $programs; do
        if readelf -S --wide "$root/usr/bin/$program" | grep -Eq '\.(symtab|debug_info)'; then
            fail "$name: $program is not stripped"
        fi
    done
    if [ "$man_pages" = 1 ]; then
        for program in $programs; do
            gzip -dc "$root/usr/share/man/man1/$program.1.gz" | grep -q "^\.TH \"*${program^^}" ||
                fail "$name: the manual page of $program is not one"
        done
    fi

    # The unpacked programs run from where they are (no window for the
    # launcher: it answers before its window toolkit starts).
    for program in $programs; do
        out=$(cd "$work" && QT_QPA_PLATFORM=offscreen timeout 30 "$root/usr/bin/$program" --help) ||
            fail "$name: $program --help failed"
        grep -qi "^usage: $program " <<<"$out" || fail "$name: $program --help printed: $out"
    done
    if [ "$component" = launcher ]; then
        out=$(QT_QPA_PLATFORM=offscreen timeout 30 "$root/usr/bin/Quenmor" --version) ||
            fail "Quenmor --version failed"
        [ "$out" = "Quenmor ${version%-*}" ] || fail "Quenmor --version printed '$out', the package is $version"
    fi
done

# The launcher's icon and desktop entry template: filled in with a folder, the
# template is the very entry the launcher writes for that folder.
if [[ " $components " == *" launcher "* ]]; then
    root=$work/root-launcher
    picture=$root/usr/share/icons/hicolor/256x256/apps/quenmor-launcher.png
    # PNG signature, then the IHDR chunk's width and height.
    [ "$(od -An -tx1 -N24 "$picture" | tr -d ' \n')" = \
        89504e470d0a1a0a0000000d494844520000010000000100 ] ||
        fail "the icon is not a 256x256 PNG picture"
    template=$root/usr/share/quenmor/quenmor-launcher.desktop.in
    value() { sed -n "s/^$1=//p" "$template"; }
    program=$(value Exec) icon=$(value Icon)
    [ -x "$root$program" ] || fail "the template's Exec '$program' is not the packaged program"
    [ -f "$root/usr/share/icons/hicolor/256x256/apps/$icon.png" ] ||
        fail "the template's Icon '$icon' is not the packaged icon"
    folder="/srv/games/Quenmor client"
    grep -v '^#' "$template" | sed "s|@CLIENT_FOLDER@|$folder|" >"$work/filled.desktop"
    "$desktop_entry" Quenmor Quenmor "$program" "$folder" "$icon" >"$work/written.desktop"
    diff -u "$work/written.desktop" "$work/filled.desktop" >&2 ||
        fail "the template differs from the entry the launcher writes"
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate "$work/filled.desktop" || fail "desktop-file-validate refuses the filled-in template"
    fi
fi

# Lintian, when it is installed: no errors and no warnings.
if command -v lintian >/dev/null; then
    lintian --fail-on error,warning "$work"/out/*.deb || fail "lintian found faults (above)"
else
    echo "lintian is not installed: the packages are not checked with it"
fi
(cd "$work/out" && echo "packages checked:" ./*.deb)
