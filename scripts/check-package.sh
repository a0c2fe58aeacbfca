#!/usr/bin/env bash
# Builds the Debian package from an existing build (build/ or $BUILD_DIR), checks it with
# lintian and the desktop and AppStream validators, and proves that the installed layout
# works: the package is unpacked into a throw-away root, its labrosa-dbtool makes a demo
# database, and its labrosa starts on it headless, shows its main window, keeps running
# and writes no error. Its time goes to $LABROSA_TIMING_LOG like the other CI steps.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
# How long the program may take to show its main window, and how long it must then keep
# running, in seconds.
window_timeout="${LABROSA_PACKAGE_WINDOW_TIMEOUT:-90}"
keep_running=3

fail() {
    echo "check-package: $*" >&2
    exit 1
}

timed() {
    local what="$1" start=$SECONDS
    shift
    "$@"
    local took=$((SECONDS - start))
    echo "== $what: ${took} s"
    if [ -n "${LABROSA_TIMING_LOG:-}" ]; then echo "$what	$took" >>"$LABROSA_TIMING_LOG"; fi
}

make_package() {
    cmake --build "$build" --parallel "${LABROSA_JOBS:-$(nproc)}"
    rm -f "$build"/labrosa_*.deb
    (cd "$build" && cpack -G DEB)
    local debs=("$build"/labrosa_*_amd64.deb)
    if [ ! -f "${debs[0]}" ] || [ ${#debs[@]} -ne 1 ]; then
        fail "cpack made no single labrosa_*_amd64.deb in $build"
    fi
    deb="${debs[0]}"
    echo "package: $deb"
}

check_contents() {
    echo "lintian:"
    local tags
    tags="$(lintian --fail-on none --display-info --info "$deb")"
    printf '%s\n' "$tags"
    ! grep -q '^E: ' <<<"$tags" || fail "lintian reports errors"
    # The programs are built with Debian's hardening flags; a missing one is a failure here.
    local hardening
    hardening="$(grep -E 'hardening-no-(relro|fortify-functions|bindnow|pie)' <<<"$tags" || true)"
    [ -z "$hardening" ] || fail "the programs lack hardening: $hardening"

    local version
    version="$(dpkg-deb -f "$deb" Version)"
    [ "$(basename "$deb")" = "labrosa_${version}_amd64.deb" ] || fail "unexpected file name $(basename "$deb")"
    # shlibdeps finds the libraries; the Qt plugins are named by hand and must stay.
    local depends
    depends="$(dpkg-deb -f "$deb" Depends)"
    for p in libqt6core6 libqt6webenginewidgets6 libqt6sql6-sqlite libqt6sql6-psql libqt6svg6; do
        [[ ", $depends," == *", $p"[\ ,]* ]] || fail "Depends lacks $p: $depends"
    done

    dpkg -x "$deb" "$pkgroot"
    local u="$pkgroot/usr"
    for f in bin/labrosa bin/labrosa-dbtool bin/labrosa-receiver bin/labrosa-analyser-sim; do
        [ -x "$u/$f" ] || fail "missing /usr/$f"
    done
    for f in share/labrosa/Labrosa.ini share/labrosa/buletin_files/print.css share/labrosa/buletin_files/dr.gif \
        share/labrosa/buletin_files/ub.gif share/labrosa/buletin_files/critic.gif share/labrosa/schema/sqlite.sql share/labrosa/schema/postgresql.sql \
        share/applications/labrosa.desktop share/metainfo/ro.labrosa.Labrosa.metainfo.xml \
        share/icons/hicolor/scalable/apps/labrosa.svg share/man/man1/labrosa.1.gz share/man/man1/labrosa-dbtool.1.gz \
        share/doc/labrosa/copyright share/doc/labrosa/changelog.gz share/doc/labrosa/README.md \
        share/doc/labrosa/mapping-format.md share/labrosa/receiver.ini lib/systemd/system/labrosa-receiver@.service; do
        [ -f "$u/$f" ] || fail "missing /usr/$f"
    done
    # Every PNG icon has the size its folder names.
    for size in 16 22 24 32 48 64 128 256; do
        local png="$u/share/icons/hicolor/${size}x${size}/apps/labrosa.png"
        file "$png" | grep -q "PNG image data, $size x $size," || fail "no ${size}x${size} PNG icon: $(file "$png")"
    done
    # The changelog's newest entry is this version.
    zcat "$u/share/doc/labrosa/changelog.gz" | head -1 | grep -q "^labrosa ($version) " ||
        fail "the newest entry of packaging/changelog is not version $version"
    # The manual pages mention the options that matter at a laboratory.
    zcat "$u/share/man/man1/labrosa.1.gz" | grep -q 'lab\\-dir' || fail "labrosa.1 does not mention --lab-dir"
    zcat "$u/share/man/man1/labrosa-dbtool.1.gz" | grep -q 'import\\-mdb' ||
        fail "labrosa-dbtool.1 does not mention --import-mdb"
    zcat "$u/share/man/man1/labrosa.1.gz" | grep -q 'config/labrosa/Labrosa.conf' ||
        fail "labrosa.1 does not name the settings file"
    zcat "$u/share/man/man1/labrosa-dbtool.1.gz" | grep -q 'mapping\\-format.md' ||
        fail "labrosa-dbtool.1 does not name the mapping format"
    # One main category in the desktop entry, so the program shows in one menu.
    local main
    main="$(grep '^Categories=' "$u/share/applications/labrosa.desktop" | tr ';=' '\n\n' |
        grep -cxE 'AudioVideo|Audio|Video|Development|Education|Game|Graphics|Network|Office|Science|Settings|System|Utility' || true)"
    [ "$main" = 1 ] || fail "the desktop entry has $main main categories instead of one"

    desktop-file-validate "$u/share/applications/labrosa.desktop" || fail "desktop entry is not valid"
    appstreamcli validate --no-net "$u/share/metainfo/ro.labrosa.Labrosa.metainfo.xml" ||
        fail "AppStream metadata is not valid"
}

# The unpacked programs on a demo laboratory folder, with the files the package brings.
start_program() {
    local lab="$work/lab"
    mkdir -p "$lab" "$work/home"
    "$pkgroot/usr/bin/labrosa-dbtool" --demo --results 200 "$lab/lab.db"
    cp "$pkgroot/usr/share/labrosa/Labrosa.ini" "$lab/"
    cp -r "$pkgroot/usr/share/labrosa/buletin_files" "$lab/"

    # A home of its own, so no folder or setting remembered by a user of this machine counts;
    # messages go to standard error instead of boxes nobody could close. Showing a window
    # makes Qt register it for accessibility; that debug line tells when the main window is
    # up without any display.
    local log="$work/labrosa.log"
    (
        cd "$lab"
        exec env -u LABROSA_DATABASE HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
            XDG_DATA_HOME="$work/home/.local/share" XDG_CACHE_HOME="$work/home/.cache" \
            QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 \
            QTWEBENGINE_CHROMIUM_FLAGS="--no-sandbox --disable-gpu" LABROSA_NO_MODAL_MESSAGES=1 \
            QT_LOGGING_RULES="qt.accessibility.cache.debug=true" "$pkgroot/usr/bin/labrosa"
    ) >"$log" 2>&1 &
    pid=$!

    local waited=0
    until grep -v invisible "$log" | grep -q 'role=Window .*obj=MainWindow'; do
        if ! kill -0 "$pid" 2>/dev/null; then
            wait "$pid" && rc=0 || rc=$?
            pid=""
            cat "$log" >&2
            fail "labrosa ended (exit status $rc) before its main window appeared"
        fi
        [ "$waited" -lt "$((window_timeout * 10))" ] || {
            cat "$log" >&2
            fail "labrosa showed no main window within $window_timeout s"
        }
        sleep 0.1
        waited=$((waited + 1))
    done
    echo "labrosa showed its main window after about $((waited / 10)) s"
    sleep "$keep_running"
    kill -0 "$pid" 2>/dev/null || {
        cat "$log" >&2
        fail "labrosa ended within $keep_running s of showing its main window"
    }
    # It has the demo database open, and nothing went wrong on the way.
    local fds
    fds="$(ls -l "/proc/$pid/fd" 2>/dev/null)"
    [[ "$fds" == *" -> $lab/lab.db"* ]] || fail "labrosa does not hold $lab/lab.db open"
    if grep -q '^Labrosa: ' "$log"; then
        cat "$log" >&2
        fail "labrosa reported a problem"
    fi
    [ ! -e "$lab/_database_err.log" ] || {
        cat "$lab/_database_err.log" >&2
        fail "labrosa wrote $lab/_database_err.log"
    }
    stop_program
    echo "the installed labrosa and labrosa-dbtool work on a demo laboratory"
}

stop_program() {
    [ -n "${pid:-}" ] || return 0
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=""
}

check_package() {
    work="$(mktemp -d /tmp/labrosa-package.XXXXXX)"
    pkgroot="$work/root"
    pid=""
    trap 'stop_program; rm -rf "$work"' EXIT
    make_package
    check_contents
    start_program
}

timed "package" check_package
