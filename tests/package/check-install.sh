#!/usr/bin/env bash
# Checks run through `check` (SC2317); `bash -c '...' _ ARGS` scripts expand their own $1 (SC2016).
# shellcheck disable=SC2317,SC2016
# Checks that the tool installs like a desktop program and goes away cleanly.
#
#   check-install.sh PACKAGE.deb     installs the package with apt (as root or through sudo),
#                                    checks the installed files, starts the installed tool on a
#                                    virtual display and waits for its window, then purges the
#                                    package and checks that every file it brought is gone
#   check-install.sh --tree BUILD    runs `cmake --install BUILD` into a temporary prefix and
#                                    checks the same layout there (no root, no display)
#
# Prints one line per check and "check-install: N passed, N failed"; exits non-zero on any
# failure.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
app=veltra-settings
title_prefix="VELTRA 設定ソフト"
# The version the project declares, which the package and its changelog carry.
version=$(sed -n 's/^project(veltra-settings VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")

passed=0
failed=0
pass() {
    echo "ok - $1"
    passed=$((passed + 1))
}
fail() {
    echo "FAIL - $1${2:+: $2}"
    failed=$((failed + 1))
}
# check NAME COMMAND...: runs the command quietly, counts it, shows its output on failure.
check() {
    local name=$1 out
    shift
    if out=$("$@" 2>&1); then
        pass "$name"
    else
        fail "$name"
        [ -n "$out" ] && printf '    %s\n' "${out//$'\n'/$'\n'    }"
    fi
}
finish() {
    echo "check-install: $passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}

# Files every installation has, relative to the prefix.
expected_files=(
    bin/veltra-settings
    bin/veltra-relay-sim
    bin/veltra-cli
    "share/applications/$app.desktop"
    "share/mime/packages/$app.xml"
    "share/icons/hicolor/scalable/apps/$app.svg"
    "share/icons/hicolor/48x48/apps/$app.png"
    "share/icons/hicolor/256x256/apps/$app.png"
    "share/man/man1/veltra-settings.1.gz"
    "share/man/man1/veltra-relay-sim.1.gz"
    "share/man/man1/veltra-cli.1.gz"
    "share/doc/$app/copyright"
    "share/doc/$app/changelog.gz"
    "share/doc/$app/relay-sim.md"
)
[ -f "$root/README.md" ] && expected_files+=("share/doc/$app/README.md")

is_elf_executable() {
    [ -x "$1" ] && [ "$(head -c 4 "$1" | od -An -c | tr -d ' ')" = '177ELF' ]
}

# No RPATH/RUNPATH: the programs must find Qt where the system keeps it, never in a build tree.
has_no_rpath() {
    ! readelf -d "$1" | grep -E '\((RPATH|RUNPATH)\)'
}

png_size_is() { # FILE WIDTH HEIGHT
    local bytes
    read -r -a bytes < <(od -An -tu1 -j16 -N8 "$1")
    [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || return 1
    local w=$(((bytes[0] << 24) | (bytes[1] << 16) | (bytes[2] << 8) | bytes[3]))
    local h=$(((bytes[4] << 24) | (bytes[5] << 16) | (bytes[6] << 8) | bytes[7]))
    echo "${w}x${h}"
    [ "$w" -eq "$2" ] && [ "$h" -eq "$3" ]
}

desktop_has() { grep -Fxq -- "$2" "$1"; }
mime_compiles() { # XML: update-mime-database accepts it and files the type under its name
    local tmp
    tmp=$(mktemp -d)
    mkdir -p "$tmp/mime/packages"
    cp "$1" "$tmp/mime/packages/"
    update-mime-database "$tmp/mime" >/dev/null 2>&1 &&
        test -f "$tmp/mime/application/x-veltra-settings.xml" &&
        grep -qi 'application/x-veltra-settings:\*\.dt' "$tmp/mime/globs"
    local status=$?
    rm -rf "$tmp"
    return $status
}

dep_listed() { # PACKAGE DEPENDS-FIELD
    local entry
    while read -r entry; do
        [ "${entry%% *}" = "$1" ] && return 0
    done < <(tr ',|' '\n' <<<"$2")
    return 1
}

changelog_ok() { gzip -t "$1" && gzip -dc "$1" | head -n 1 | grep -Fq "$app ($version) "; }

manpage_ok() { gzip -t "$1" && gzip -dc "$1" | grep -q '^\.TH '; }

copyright_ok() {
    grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' "$1" &&
        grep -q '^Copyright: .*VELTRA settings tool developers' "$1" &&
        grep -q '^License: Expat$' "$1" &&
        grep -q '^ Permission is hereby granted, free of charge' "$1"
}

# The simulator prints its line's path first and ends with status 0 on SIGTERM.
simulator_runs() {
    local sim=$1 out pid line status is_line=no
    out=$(mktemp)
    "$sim" >"$out" 2>&1 &
    pid=$!
    for _ in $(seq 100); do
        line=$(head -n 1 "$out")
        [ -n "$line" ] && break
        sleep 0.1
    done
    echo "first line: ${line:-<none>}"
    # The line exists only while the simulator runs.
    [ -n "$line" ] && [ -c "$line" ] && is_line=yes
    kill -TERM "$pid" 2>/dev/null
    wait "$pid"
    status=$?
    rm -f "$out"
    echo "exit status after SIGTERM: $status"
    echo "first line is a terminal device: $is_line"
    [ "$is_line" = yes ] && [ "$status" -eq 0 ]
}

check_layout() { # PREFIX
    local p=$1 f desktop=$1/share/applications/$app.desktop exec_name
    for f in "${expected_files[@]}"; do
        check "installed $f" test -f "$p/$f"
    done
    check "bin/veltra-settings is an ELF executable" is_elf_executable "$p/bin/veltra-settings"
    check "bin/veltra-relay-sim is an ELF executable" is_elf_executable "$p/bin/veltra-relay-sim"
    if command -v readelf >/dev/null; then
        check "bin/veltra-settings has no RPATH" has_no_rpath "$p/bin/veltra-settings"
        check "bin/veltra-relay-sim has no RPATH" has_no_rpath "$p/bin/veltra-relay-sim"
    fi

    if command -v desktop-file-validate >/dev/null; then
        check "desktop entry validates" desktop-file-validate "$desktop"
    elif [ "$mode" = deb ]; then
        fail "desktop entry validates" "desktop-file-validate is missing (desktop-file-utils)"
    else
        echo "skip - desktop entry validates: desktop-file-validate is missing"
    fi
    local line
    for line in "Type=Application" "Name=VELTRA Settings" "Name[ja]=VELTRA 設定ソフト" \
        "Exec=veltra-settings %f" "Icon=$app" "Terminal=false" \
        "Categories=Utility;Engineering;" "MimeType=application/x-veltra-settings;"; do
        check "desktop entry has $line" desktop_has "$desktop" "$line"
    done
    check "desktop entry has Comment and Comment[ja]" \
        bash -c 'grep -q "^Comment=." "$1" && grep -q "^Comment\[ja\]=." "$1"' _ "$desktop"
    exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
    check "desktop entry's Exec names an installed program" test -x "$p/bin/$exec_name"

    check "the .DT type names the type the desktop entry opens" \
        grep -q 'type="application/x-veltra-settings"' "$p/share/mime/packages/$app.xml"
    check "the .DT type is known by its name and its first line" \
        bash -c 'grep -q "pattern=\"\*.DT\"" "$1" && grep -q "<magic" "$1"' _ \
        "$p/share/mime/packages/$app.xml"
    if command -v update-mime-database >/dev/null; then
        check "shared-mime-info compiles the .DT type" mime_compiles "$p/share/mime/packages/$app.xml"
    fi
    check "scalable icon is an SVG" grep -q '<svg' "$p/share/icons/hicolor/scalable/apps/$app.svg"
    check "48x48 icon is a 48x48 PNG" png_size_is "$p/share/icons/hicolor/48x48/apps/$app.png" 48 48
    check "256x256 icon is a 256x256 PNG" \
        png_size_is "$p/share/icons/hicolor/256x256/apps/$app.png" 256 256
    check "copyright is a machine-readable Expat copyright" copyright_ok "$p/share/doc/$app/copyright"
    check "changelog.gz names version $version" changelog_ok "$p/share/doc/$app/changelog.gz"
    check "manual page veltra-settings.1.gz" manpage_ok "$p/share/man/man1/veltra-settings.1.gz"
    check "manual page veltra-relay-sim.1.gz" manpage_ok "$p/share/man/man1/veltra-relay-sim.1.gz"
    check "manual page veltra-cli.1.gz" manpage_ok "$p/share/man/man1/veltra-cli.1.gz"
    check "the installed veltra-cli runs" bash -c '"$1" --version | grep -qx "veltra-cli $2"' _ \
        "$p/bin/veltra-cli" "$version"
    check "installed simulator starts and stops" simulator_runs "$p/bin/veltra-relay-sim"
}

# --- on the virtual display (called through xvfb-run) ------------------------------------------
window_check() { # PROGRAM
    local prog=$1 pid wid name
    # The installed program as a desktop starts it: by name through PATH, in a fresh home,
    # on the real display (not an offscreen platform left in the environment).
    local home
    home=$(mktemp -d)
    (cd "$home" && exec env -u QT_QPA_PLATFORM HOME="$home" PATH="$(dirname "$prog"):/bin" \
        "$(basename "$prog")") >"$home/out.log" 2>&1 &
    pid=$!
    wid=$(timeout 30 xdotool search --sync --onlyvisible --name '^VELTRA' 2>/dev/null | head -n 1)
    if [ -n "$wid" ]; then
        name=$(xdotool getwindowname "$wid")
        pass "window appeared: \"$name\" ($(xwininfo -id "$wid" | awk '/geometry/ {print $2}'))"
        check "window title starts with \"$title_prefix\"" \
            bash -c '[[ "$1" == "$2"* ]]' _ "$name" "$title_prefix"
        check "window belongs to the started process" \
            test "$(xdotool getwindowpid "$wid" 2>/dev/null)" = "$pid"
        check "running program is $prog" test "$(readlink "/proc/$pid/exe")" = "$prog"
        # Window managers match the window to the desktop entry through its class.
        check "window class matches the desktop entry" \
            bash -c 'xprop -id "$1" WM_CLASS | grep -q "\"veltra-settings\""' _ "$wid"
        check "program still running with its window up" kill -0 "$pid"
    else
        fail "window appeared" "no window named VELTRA within 30 s"
        sed 's/^/    /' "$home/out.log"
        xwininfo -root -tree | sed 's/^/    /'
    fi
    kill -TERM "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    check "program ended after SIGTERM" bash -c '! kill -0 "$1" 2>/dev/null' _ "$pid"
    rm -rf "$home"
    finish
}

# --- modes --------------------------------------------------------------------------------------
mode=
case "${1:-}" in
--window-check)
    window_check "$2"
    ;;
--tree)
    [ $# -eq 2 ] || {
        echo "usage: $0 --tree BUILD_DIR" >&2
        exit 2
    }
    mode=tree
    build=$(cd "$2" && pwd)
    prefix=$(mktemp -d)
    trap 'rm -rf "$prefix"' EXIT
    check "cmake --install into a temporary prefix" cmake --install "$build" --prefix "$prefix"
    check "every installed file lies under the prefix" \
        bash -c '! grep -v "^$1/" "$2/install_manifest.txt"' _ "$prefix" "$build"
    check_layout "$prefix"
    finish
    ;;
*.deb) mode=deb ;;
*)
    echo "usage: $0 PACKAGE.deb | --tree BUILD_DIR" >&2
    exit 2
    ;;
esac

# --- the Debian package, installed on this machine ----------------------------------------------
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
installed() { dpkg-query -W -f='${Status}' "$app" 2>/dev/null | grep -q "install ok installed"; }

[ -f "$1" ] || {
    echo "check-install: no such package: $1" >&2
    exit 2
}
if installed; then
    echo "check-install: $app is installed already; remove it first" >&2
    exit 2
fi
for tool in xvfb-run xdotool xwininfo xprop desktop-file-validate; do
    command -v "$tool" >/dev/null || {
        echo "check-install: $tool is missing (scripts/install-deps, desktop-file-utils)" >&2
        exit 2
    }
done

# apt fetches a local package as its own user: give it a copy it can read.
work=$(mktemp -d)
chmod 755 "$work"
deb=$work/$(basename "$1")
cp "$1" "$deb"
chmod 644 "$deb"
cleanup() {
    # Never leave the package behind when a check stops half-way.
    installed && "${as_root[@]}" apt-get remove --purge -y -qq "$app" >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

echo "== package"
dpkg-deb -I "$deb" | sed -n '/^ [A-Z]/,$p'
check "package name is $app" test "$(dpkg-deb -f "$deb" Package)" = "$app"
check "package version is $version" test "$(dpkg-deb -f "$deb" Version)" = "$version"
depends=$(dpkg-deb -f "$deb" Depends)
for dep in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6; do
    check "Depends names $dep" dep_listed "$dep" "$depends"
done
check "Recommends fonts-noto-cjk" grep -q fonts-noto-cjk <<<"$(dpkg-deb -f "$deb" Recommends)"

echo "== install"
check "apt-get install $(basename "$deb")" "${as_root[@]}" apt-get install -y "$deb"
if ! installed; then
    fail "$app installed" "dpkg does not list it"
    finish
fi
mapfile -t owned < <(dpkg -L "$app")
for f in "${expected_files[@]}"; do
    check "package owns /usr/$f" bash -c 'printf "%s\n" "${@:2}" | grep -Fxq "$1"' _ "/usr/$f" "${owned[@]}"
done
check_layout /usr
check "installed program finds all its libraries" \
    bash -c '! ldd /usr/bin/veltra-settings | grep "not found"'

echo "== start under Xvfb"
window_out=$(xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" --window-check /usr/bin/veltra-settings 2>&1)
echo "$window_out" | grep -v '^check-install:'
passed=$((passed + $(grep -c '^ok - ' <<<"$window_out")))
failed=$((failed + $(grep -c '^FAIL - ' <<<"$window_out")))
grep -q '^check-install: [0-9]* passed' <<<"$window_out" || fail "window check ran" "$window_out"

echo "== remove"
check "apt-get remove --purge $app" "${as_root[@]}" apt-get remove --purge -y "$app"
check "$app no longer known to dpkg" bash -c '! dpkg-query -W -f="\${Status}" "$1" 2>/dev/null | grep -q installed' _ "$app"
left=()
for f in "${owned[@]}"; do
    # Folders shared with other packages (/usr/bin, /usr/share/applications) stay.
    if [ -e "$f" ] || [ -L "$f" ]; then
        [ -d "$f" ] && [ ! -L "$f" ] && [ "$f" != "/usr/share/doc/$app" ] && continue
        left+=("$f")
    fi
done
check "every file of the package is gone (${#owned[@]} paths listed)" test ${#left[@]} -eq 0
[ ${#left[@]} -eq 0 ] || printf '    left behind: %s\n' "${left[@]}"
finish
