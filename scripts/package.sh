#!/usr/bin/env bash
# Builds the two packages into build/packages/ and checks each one as a technician gets it:
#   1. the Debian package, from a Release build configured for /usr: installed with apt-get, the program
#      run from PATH (--version, all five tests on the built-in simulated port, the man page found), then
#      removed, after which nothing it installed may be left (needs root on Debian; skipped otherwise);
#   2. the Windows zip, from the mingw build: its program imports only system DLLs, and unzipped into an
#      empty folder it runs all five tests on the simulated port under Wine, through tests/wine/wine.sh
#      with a private prefix (skipped when Wine is missing).
# Takes about 2.5 minutes after scripts/test.sh (which leaves the mingw build: the Release build is most of
# it, the first Wine prefix 12 s), about 4 from nothing, 25 s when both builds are up to date.
set -euo pipefail
cd "$(dirname "$0")/.."
# dpkg-dev and file: the package's dependencies are computed from the program (dpkg-shlibdeps); man-db: the
# man page check.
scripts/install-deps.sh dpkg-dev file man-db

out=$PWD/build/packages
prefix=$out/wine-prefix
installed=0
fail() {
    echo "package.sh: $*" >&2
    exit 1
}
cleanup() {
    if [ "$installed" = 1 ]; then apt-get remove -y -qq tarnserialport >/dev/null || true; fi
    if [ -d "$prefix" ]; then tests/wine/wine.sh stop "$prefix" || true; fi
}
trap cleanup EXIT

# A full run of the built-in port: exit status 0 and each of the five tests PASS in the closing table.
check_sim_run() {
    local what="$1" output rc=0
    shift
    output=$("$@" --sim --no-progress --answer ok 2>&1) || rc=$?
    if [ "$rc" != 0 ] || [ "$(grep -cE '^COM1 +[A-Za-z]+Test +PASS ' <<<"$output")" != 5 ]; then
        echo "$output" >&2
        fail "$what: all five tests on the simulated port did not pass (exit status $rc)"
    fi
    echo "   $what: all five tests PASS on the simulated port"
}

echo "== Building the packages into build/packages/"
rm -rf "$out/_CPack_Packages" "$out"/*.deb "$out"/*.zip "$out/unzipped"
cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DTARN_BUILD_TESTS=OFF >/dev/null
cmake --build build/package
cpack --config build/package/CPackConfig.cmake -B "$out" >/dev/null
cmake --preset mingw >/dev/null
cmake --build --preset mingw
cpack --config build/mingw/CPackConfig.cmake -B "$out" >/dev/null
deb=$(echo "$out"/tarnserialport_*.deb)
zip=$(echo "$out"/tarnserialport-*-win64.zip)
ls -l "$deb" "$zip"
version=$(dpkg-deb -f "$deb" Version)
version=${version%-*} # the program's version, without the package's revision

echo "== The Debian package: install, run, remove"
if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
    echo "   skipped: installing the package needs root on a Debian system"
elif dpkg-query -W tarnserialport >/dev/null 2>&1; then
    fail "a tarnserialport package is installed already; remove it first (apt-get remove tarnserialport)"
else
    installed=1
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >"$out/apt.log" 2>&1 ||
        fail "apt-get install failed: $(cat "$out/apt.log")"
    files=$(dpkg -L tarnserialport)
    [ "$(command -v tarnserialport)" = /usr/bin/tarnserialport ] || fail "tarnserialport is not on PATH"
    [ "$(tarnserialport --version)" = "tarnserialport $version" ] ||
        fail "--version prints '$(tarnserialport --version)', the package is $version"
    echo "   tarnserialport --version: $version"
    check_sim_run "tarnserialport from PATH" env -C / tarnserialport # away from the checkout
    man_page=$(man -w tarnserialport) ||
        fail "man finds no page for tarnserialport (does /etc/dpkg/dpkg.cfg.d exclude /usr/share/man?)"
    echo "   man -w tarnserialport: $man_page"
    apt-get remove -y -qq tarnserialport >/dev/null
    installed=0
    ! dpkg-query -W tarnserialport >/dev/null 2>&1 || fail "dpkg still lists tarnserialport after removal"
    # Shared directories such as /usr/bin stay; every file, and every directory of the package's own, goes.
    left=$(while read -r path; do
        if [ -e "$path" ] && { [ ! -d "$path" ] || [[ $path == *tarnserialport* ]]; }; then echo "$path"; fi
    done <<<"$files")
    [ -z "$left" ] || fail "left behind after apt-get remove: $left"
    echo "   removed: nothing of its $(wc -l <<<"$files") paths is left"
fi

echo "== The Windows zip: system DLLs only, then run under Wine"
mkdir -p "$out/unzipped"
(cd "$out/unzipped" && cmake -E tar xf "$zip")
exe=$(echo "$out"/unzipped/tarnserialport-*-win64/tarnserialport.exe)
[ -f "$exe" ] || fail "no tarnserialport.exe in $zip"
# Windows' own DLLs only: a MinGW runtime DLL (libstdc++, libwinpthread) would be missing on a bench PC.
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ { print tolower($3) }' | sort)
foreign=$(grep -vxE '(kernel32|advapi32|user32|msvcrt|setupapi|winmm)\.dll' <<<"$imports" || true)
[ -z "$foreign" ] || fail "tarnserialport.exe imports DLLs that Windows does not have: $foreign"
echo "   imports: $(tr '\n' ' ' <<<"$imports")"
if [ ! -x /usr/lib/wine/wine64 ] && ! command -v wine64 >/dev/null; then
    echo "   skipped: Wine is not installed (tests/wine/install-deps.sh installs it)"
else
    # From inside the unzipped folder, as a technician would start it.
    check_sim_run "tarnserialport.exe under Wine" \
        env -C "$(dirname "$exe")" "$PWD/tests/wine/wine.sh" run "$prefix" "$exe"
fi
echo "== package.sh: both packages built and checked"
