#!/usr/bin/env bash
# Builds the Debian package from the build folder with CPack, has lintian check it, installs it
# into a temporary root with dpkg -x and checks what is in it, its control fields and its
# dependencies, its documents, desktop entry and AppStream metadata (desktop-file-validate,
# appstreamcli), the station's systemd unit (systemd-analyze verify) and its environment file,
# and that the installed utility starts offscreen from its program folder through the launcher.
# Then checks `cmake --install` into a prefix of the operator's own (a path with a space in it).
#
#   test_package.sh BUILD_DIR CPACK CMAKE VERSION
set -euo pipefail

BUILD="$1" CPACK="$2" CMAKE="$3" VERSION="$4"
NAME=kestrune-update-utility
APP_ID=invalid.kestrune.update_utility
T="$(mktemp -d /tmp/kuu-package-test.XXXXXX)"
PIDS=()
cleanup() {
    local pid
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$T"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
check() { # check DESCRIPTION COMMAND...
    local what="$1"
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}

# --- the package ---------------------------------------------------------------------------
"$CPACK" -G DEB --config "$BUILD/CPackConfig.cmake" -B "$T/cpack" > "$T/cpack.log" 2>&1 || {
    cat "$T/cpack.log"
    echo "FAIL: cpack could not build the package"
    exit 1
}
ARCH="$(dpkg --print-architecture)"
DEB="$T/cpack/${NAME}_${VERSION}_${ARCH}.deb"
[ -f "$DEB" ] || { ls -la "$T/cpack"; echo "FAIL: no $(basename "$DEB")"; exit 1; }
pass "built $(basename "$DEB")"

field() { dpkg-deb -f "$DEB" "$1"; }
check "package name" [ "$(field Package)" = "$NAME" ]
check "version is the project's ($VERSION)" [ "$(field Version)" = "$VERSION" ]
check "section utils" [ "$(field Section)" = utils ]
check "architecture $ARCH" [ "$(field Architecture)" = "$ARCH" ]
check "a maintainer" [ -n "$(field Maintainer)" ]

# ---- The command line (kestrune-update) --------------------------------------------------
# Its program and launcher, expected in the package and under a prefix, and checked as binaries
# like the window's.
CLI_FILES=(bin/kestrune-update lib/$NAME/kestrune-update)
UNIT=lib/systemd/system/kestrune-update-station.service
STATION_LAUNCHER=lib/$NAME/kestrune-update-station
COMPLETION=share/bash-completion/completions/kestrune-update
# ------------------------------------------------------------------------------------------

# Exactly these files, owned by root, with these modes: nothing from the build or the tests.
dpkg-deb -c "$DEB" | awk '$1 !~ /^d/ { print $1, $2, $6 }' | sort > "$T/contents"
{
    cat <<EOF
-rwxr-xr-x root/root ./usr/bin/$NAME
-rwxr-xr-x root/root ./usr/lib/$NAME/$NAME
-rwxr-xr-x root/root ./usr/lib/$NAME/module-sim
-rw-r--r-- root/root ./usr/share/applications/$APP_ID.desktop
-rw-r--r-- root/root ./usr/share/doc/$NAME/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/$NAME/copyright
-rw-r--r-- root/root ./usr/share/icons/hicolor/32x32/apps/$NAME.png
-rw-r--r-- root/root ./usr/share/icons/hicolor/scalable/apps/$NAME.svg
-rw-r--r-- root/root ./usr/share/man/man1/kestrune-update.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/$NAME.1.gz
-rw-r--r-- root/root ./usr/share/metainfo/$APP_ID.metainfo.xml
-rw-r--r-- root/root ./etc/kestrune-update/station.conf
-rw-r--r-- root/root ./usr/$UNIT
-rwxr-xr-x root/root ./usr/$STATION_LAUNCHER
-rw-r--r-- root/root ./usr/$COMPLETION
EOF
    for f in "${CLI_FILES[@]}"; do echo "-rwxr-xr-x root/root ./usr/$f"; done
} | sort > "$T/expected"
if diff -u "$T/expected" "$T/contents"; then pass "package contents"; else fail "package contents (- expected, + found)"; fi
dpkg-deb -c "$DEB" > "$T/listing"
check "program folder drwxr-xr-x root/root" grep -Eq "^drwxr-xr-x root/root .* \./usr/lib/$NAME/\$" "$T/listing"

# The station's environment file is a conffile; no maintainer script enables or starts the station.
dpkg-deb --ctrl-tarfile "$DEB" | tar -t | sed 's#^\./##' | grep -v '^$' | sort > "$T/control-files"
check "control files: conffiles, control, md5sums only (no maintainer script)" \
    [ "$(paste -sd' ' "$T/control-files")" = "conffiles control md5sums" ]
check "conffiles: the station's environment file" \
    [ "$(dpkg-deb --ctrl-tarfile "$DEB" | tar -xO ./conffiles)" = /etc/kestrune-update/station.conf ]

# lintian, as a distribution's reviewer runs it: no error and no warning, and among the
# informational tags (-I) no hardening-* one. Pedantic tags are not checked. Overrides are shown
# too, so that none can hide a hardening tag. As root lintian wants --allow-root, or it adds a
# notice.
if command -v lintian > /dev/null; then
    lintian_options=(-I --show-overrides)
    [ "$(id -u)" -eq 0 ] && lintian_options+=(--allow-root)
    lintian "${lintian_options[@]}" "$DEB" > "$T/lintian" 2>&1 || true
    if grep -E '^[EW]: ' "$T/lintian"; then
        fail "lintian reports errors or warnings (above)"
    elif grep -Ev '^[INPCXO]: ' "$T/lintian"; then
        fail "lintian printed something it should not (above)"
    else
        pass "lintian: no error, no warning"
    fi
    if grep -E '^.: .*hardening-' "$T/lintian"; then
        fail "lintian reports a hardening tag (above)"
    else
        pass "lintian -I: no hardening tag"
    fi
else
    fail "lintian is missing (scripts/package and scripts/test install it)"
fi

dpkg -x "$DEB" "$T/root"
PROGRAM="$T/root/usr/lib/$NAME"
BINARIES=("$PROGRAM/$NAME" "$PROGRAM/module-sim")
for f in "${CLI_FILES[@]}"; do
    [[ "$f" == lib/* ]] && BINARIES+=("$T/root/usr/$f")
done

# Binaries: stripped, no run-time search path into the build, every library they load found.
for bin in "${BINARIES[@]}"; do
    b="$(basename "$bin")"
    check "$b is stripped" bash -c "! readelf -S '$bin' | grep -q '\.debug_info'"
    check "$b has no RPATH/RUNPATH" bash -c "! readelf -d '$bin' | grep -Eq 'RPATH|RUNPATH'"
    check "$b finds all its libraries" bash -c "! ldd '$bin' | grep -q 'not found'"
    # Built with the hardening flags: position-independent, relocations read-only and bound at
    # start, the stack protector linked in.
    check "$b is position-independent" bash -c "readelf -h '$bin' | grep -Eq 'Type: +DYN'"
    check "$b has read-only relocations" bash -c "readelf -lW '$bin' | grep -q GNU_RELRO"
    check "$b binds at start" bash -c "readelf -dW '$bin' | grep -Eq 'BIND_NOW|FLAGS_1.* NOW'"
    check "$b has the stack protector" bash -c "readelf --dyn-syms -W '$bin' | grep -q __stack_chk_fail"
done
# Fortified functions, where the compiler left a check for run time: the flag reached the build.
for b in kestrune-update module-sim; do
    check "$b calls fortified functions" bash -c "readelf --dyn-syms -W '$PROGRAM/$b' | grep -Eq ' __[a-z]+_chk@'"
done

# The command line runs where there is no display: no Qt Gui or Widgets among what it loads.
CLI="$PROGRAM/kestrune-update"
check "kestrune-update loads no Qt Gui or Widgets" bash -c "! ldd '$CLI' | grep -Eq 'libQt6(Gui|Widgets)'"
check "the kestrune-update launcher runs it from the program folder" \
    [ "$("$T/root/usr/bin/kestrune-update" --version)" = "kestrune-update $VERSION" ]

# Depends: the packages that hold the libraries the binaries load, plus the font, and
# nothing else (no -dev packages, no build tools).
field Depends | tr ',' '\n' | sed -E 's/\(.*\)//; s/^ +//; s/ +$//' | grep -v '^$' | sort -u > "$T/depends"
for bin in "${BINARIES[@]}"; do
    for lib in $(readelf -d "$bin" | sed -nE 's/.*NEEDED.*\[(.*)\]/\1/p'); do
        path="$(ldd "$bin" | awk -v l="$lib" '$1 == l { print $3 }')"
        [ -n "$path" ] || { fail "$(basename "$bin"): $lib not resolved"; continue; }
        dpkg -S "$(readlink -f "$path")" 2>/dev/null || dpkg -S "$path"
    done
done | cut -d: -f1 | sort -u > "$T/needed"
echo fonts-liberation >> "$T/needed"
sort -u -o "$T/needed" "$T/needed"
if diff -u "$T/needed" "$T/depends"; then
    pass "Depends: $(paste -sd' ' "$T/depends")"
else
    fail "Depends differs from the packages of the loaded libraries plus fonts-liberation (- needed, + declared)"
fi
# The command line reaches serial device servers over TCP (rfc2217://, socket://).
check "Depends names Qt Network" grep -qx libqt6network6 "$T/depends"
check "no package of the build among Depends" bash -c "! grep -Eq -- '-dev\$|^(cmake|g\+\+|ninja-build|qt6-base-dev)' '$T/depends'"
qt_at_least_6_4() {
    local dep re='\(>= 6\.([4-9]|[1-9][0-9])'
    while read -r dep; do
        [[ "$dep" =~ $re ]] || { echo "  $dep"; return 1; }
    done < <(field Depends | tr ',' '\n' | grep libqt6)
}
check "Qt packages at least 6.4" qt_at_least_6_4

# The documents: the changelog's newest entry is this version, compressed so that builds
# repeat (no time stamp in the gzip header); the manual pages render without warnings.
DOC="$T/root/usr/share/doc/$NAME"
check "changelog.gz: newest entry is $VERSION" \
    [ "$(gzip -dc "$DOC/changelog.gz" | dpkg-parsechangelog -l - -S Version 2>&1)" = "$VERSION" ]
check "changelog.gz without a time stamp" [ "$(od -An -tu4 -j4 -N4 "$DOC/changelog.gz" | tr -d ' ')" = 0 ]
check "copyright in the machine-readable format" \
    grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$DOC/copyright"
for page in "$NAME" kestrune-update; do
    file="$T/root/usr/share/man/man1/$page.1.gz"
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$file" > "$T/$page.txt" 2> "$T/$page.err" || true
    check "man $page renders without warnings" bash -c "[ ! -s '$T/$page.err' ] || ! cat '$T/$page.err'"
    check "man $page: its name and the version $VERSION" \
        bash -c "grep -Eq '^ *$page +- ' '$T/$page.txt' && grep -q 'Kestrune Update Utility $VERSION' '$T/$page.txt'"
done
check "man kestrune-update: exit status 2" grep -Eq '^ +2 +a usage error' "$T/kestrune-update.txt"
check "man finds kestrune-update in section 1" \
    [ "$(MANPATH="$T/root/usr/share/man" man -w kestrune-update 2>&1)" = "$T/root/usr/share/man/man1/kestrune-update.1.gz" ]

# The station sets nothing until the administrator does; its unit passes systemd's own check, on
# a copy that names the unpacked launcher (the installed path is not there on this machine).
CONF="$T/root/etc/kestrune-update/station.conf"
check "station.conf: every setting commented out" bash -c "! grep -Ev '^[[:space:]]*(#|\$)' '$CONF'"
# verify_unit UNIT_FILE LABEL: systemd-analyze verify (package systemd); any word it says fails.
verify_unit() {
    systemd-analyze verify --man=no "$1" > "$T/verify-$2" 2>&1 || echo "exit status $?" >> "$T/verify-$2"
    check "$2: systemd-analyze verify" bash -c "[ ! -s '$T/verify-$2' ] || ! cat '$T/verify-$2'"
}
mkdir -p "$T/unit"
sed "s#/usr/$STATION_LAUNCHER#$T/root/usr/$STATION_LAUNCHER#" "$T/root/usr/$UNIT" > "$T/unit/kestrune-update-station.service"
verify_unit "$T/unit/kestrune-update-station.service" "package unit"

# Desktop entry and icons.
DESKTOP="$T/root/usr/share/applications/$APP_ID.desktop"
entry() { sed -n "s/^$1=//p" "$DESKTOP"; }
check "desktop entry: Type=Application" [ "$(entry Type)" = Application ]
check "desktop entry: Exec runs the launcher on the PATH" [ "$(entry Exec)" = "$NAME" ]
check "desktop entry: Icon from the theme" [ "$(entry Icon)" = "$NAME" ]
check "desktop entry: a name" [ "$(entry Name)" = "Kestrune Update Utility" ]
# desktop-file-validate exits 0 after warnings, so its output is read: errors and warnings
# fail, hints pass.
if command -v desktop-file-validate > /dev/null; then
    desktop-file-validate "$DESKTOP" > "$T/desktop-validate" 2>&1 || echo "error: exit status $?" >> "$T/desktop-validate"
    check "desktop-file-validate: no error, no warning" bash -c "! grep -E 'error|warning' '$T/desktop-validate'"
else
    fail "desktop-file-validate is missing (package desktop-file-utils)"
fi

# AppStream: valid without network (errors and warnings fail, info and pedantic notes pass),
# the component named as the desktop entry, this version as its newest release.
METAINFO="$T/root/usr/share/metainfo/$APP_ID.metainfo.xml"
if command -v appstreamcli > /dev/null; then
    if appstreamcli validate --no-net "$METAINFO" > "$T/appstream" 2>&1 && ! grep -qE '^[EW]: ' "$T/appstream"; then
        pass "appstreamcli validate --no-net"
    else
        cat "$T/appstream"
        fail "appstreamcli validate --no-net"
    fi
else
    fail "appstreamcli is missing (package appstream)"
fi
xml() { xmllint --xpath "$1" "$METAINFO" 2> /dev/null; }
if command -v xmllint > /dev/null; then
    check "metainfo: id $APP_ID" [ "$(xml 'string(/component/id)')" = "$APP_ID" ]
    check "metainfo: launches $APP_ID.desktop" [ "$(xml 'string(/component/launchable)')" = "$APP_ID.desktop" ]
    check "metainfo: newest release $VERSION" \
        [ "$(xml 'string(/component/releases/release[1]/@version)')" = "$VERSION" ]
    check "metainfo: provides both programs" \
        [ "$(xml '/component/provides/binary/text()' | sort | paste -sd' ')" = "kestrune-update $NAME" ]
fi
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }'; }
PNG="$T/root/usr/share/icons/hicolor/32x32/apps/$NAME.png"
check "32x32 icon is a PNG" bash -c "[ \"\$(head -c 8 '$PNG' | od -An -tx1 | tr -d ' \n')\" = 89504e470d0a1a0a ]"
check "32x32 icon measures 32 x 32" [ "$(png_size "$PNG")" = 32x32 ]
SVG="$T/root/usr/share/icons/hicolor/scalable/apps/$NAME.svg"
check "scalable icon is an SVG" grep -q '<svg[^>]*viewBox="0 0 32 32"' "$SVG"
if command -v xmllint > /dev/null; then
    check "scalable icon is well-formed XML" xmllint --noout "$SVG"
fi

# --- the installed utility starts ---------------------------------------------------------
# start_utility LAUNCHER PROGRAM_BINARY: runs the launcher offscreen with COM1 mapped to the
# packaged module simulator, and checks that the process running is the program folder's
# utility and that it opened COM1 at start-up (it read its settings and built its window).
start_utility() {
    local launcher="$1" expected="$2" label="$3"
    local work="$T/run-$label"
    mkdir -p "$work/config/Kestrune_Update_Utility"
    "$PROGRAM/module-sim" --quiet > "$work/sim.out" 2> "$work/sim.err" &
    PIDS+=($!)
    local device=""
    for _ in $(seq 50); do
        device="$(head -n 1 "$work/sim.out" 2>/dev/null || true)"
        [ -n "$device" ] && break
        sleep 0.1
    done
    [ -n "$device" ] || { fail "$label: module simulator did not start: $(cat "$work/sim.err")"; return; }
    {
        echo "[Ports]"
        echo "COM1=$device"
        for n in 2 3 4 5 6 7 8 9; do echo "COM$n=$work/no-such-tty$n"; done
        echo
        echo "[Settings]"
        echo "COM-Port=1"
    } > "$work/config/Kestrune_Update_Utility/Kestrune_Update_Utility.ini"

    env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" \
        "$launcher" > "$work/app.out" 2> "$work/app.err" &
    local pid=$!
    PIDS+=("$pid")
    local opened=""
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || break
        local fd
        for fd in /proc/"$pid"/fd/*; do
            [ "$(readlink "$fd" 2>/dev/null)" = "$device" ] && opened=yes
        done
        [ -n "$opened" ] && break
        sleep 0.1
    done
    local exe
    exe="$(readlink "/proc/$pid/exe" 2>/dev/null || true)"
    if [ -n "$opened" ]; then
        pass "$label: started offscreen and opened COM1 ($device)"
    else
        fail "$label: the utility did not start and open COM1"
        cat "$work/app.err"
    fi
    check "$label: the process is the program folder's utility" [ "$exe" = "$(readlink -f "$expected")" ]
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

start_utility "$T/root/usr/bin/$NAME" "$PROGRAM/$NAME" "package"

# --- cmake --install into a prefix of the operator's own ----------------------------------
PREFIX="$T/bench prefix"
"$CMAKE" --install "$BUILD" --prefix "$PREFIX" > "$T/install.log" 2>&1 || {
    cat "$T/install.log"
    fail "cmake --install"
}
(cd "$PREFIX" && find . -type f | sort) > "$T/installed"
{
    cat <<EOF
./bin/$NAME
./lib/$NAME/$NAME
./lib/$NAME/module-sim
./share/applications/$APP_ID.desktop
./share/doc/$NAME/changelog.gz
./share/doc/$NAME/copyright
./share/icons/hicolor/32x32/apps/$NAME.png
./share/icons/hicolor/scalable/apps/$NAME.svg
./share/man/man1/kestrune-update.1.gz
./share/man/man1/$NAME.1.gz
./share/metainfo/$APP_ID.metainfo.xml
./etc/kestrune-update/station.conf
./$UNIT
./$STATION_LAUNCHER
./$COMPLETION
EOF
    for f in "${CLI_FILES[@]}"; do echo "./$f"; done
} | sort > "$T/expected-installed"
if diff -u "$T/expected-installed" "$T/installed"; then pass "cmake --install layout"; else fail "cmake --install layout"; fi
DESKTOP="$PREFIX/share/applications/$APP_ID.desktop"
check "desktop entry of another prefix runs the launcher by its full path, quoted" \
    [ "$(entry Exec)" = "\"$PREFIX/bin/$NAME\"" ]
check "desktop entry of another prefix names the icon by its full path" \
    [ "$(entry Icon)" = "$PREFIX/share/icons/hicolor/scalable/apps/$NAME.svg" ]
check "that icon is there" [ -f "$(entry Icon)" ]
# The unit of another prefix names its launcher (quoted for the space) and environment file there.
check "unit of another prefix reads its environment file there" \
    grep -qxF "EnvironmentFile=-$PREFIX/etc/kestrune-update/station.conf" "$PREFIX/$UNIT"
verify_unit "$PREFIX/$UNIT" "prefix unit"
# The launcher, reached through a symbolic link elsewhere, still finds its program folder.
mkdir -p "$T/elsewhere"
ln -s "$PREFIX/bin/$NAME" "$T/elsewhere/kuu"
start_utility "$T/elsewhere/kuu" "$PREFIX/lib/$NAME/$NAME" "prefix"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all package checks passed"
