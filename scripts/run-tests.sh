#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite headless.
# LABROSA_SANITIZE=ON does the same with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan/ (BUILD_DIR chooses another folder). Arguments go to ctest.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
case "${LABROSA_SANITIZE:-OFF}" in
ON | on | 1 | true) build="${BUILD_DIR:-$root/build-asan}" label="sanitizers" ;;
*) build="${BUILD_DIR:-$root/build}" label="normal" ;;
esac

# Runs a step and tells how long it took; LABROSA_TIMING_LOG collects the times.
timed() {
    local what="$1" start=$SECONDS
    shift
    "$@"
    local took=$((SECONDS - start))
    echo "== $what: ${took} s"
    if [ -n "${LABROSA_TIMING_LOG:-}" ]; then echo "$what	$took" >>"$LABROSA_TIMING_LOG"; fi
}

timed "install ($label)" "$root/scripts/install-deps.sh"
timed "build ($label)" env BUILD_DIR="$build" "$root/scripts/build.sh"

# A PostgreSQL server of our own on the loopback interface, for the suites that run
# against both backends; one that the caller started for several runs is used as it is.
source "$root/scripts/pg-test-server.sh"
if pg_test_server_running; then
    echo "PostgreSQL test server on 127.0.0.1:$LABROSA_PG_PORT (already running)"
else
    pg_data="$(mktemp -d /tmp/labrosa-pg.XXXXXX)"
    pg_test_server_start "$pg_data"
    trap 'pg_test_server_stop; rm -rf "$pg_data"' EXIT
fi

export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_DISABLE_SANDBOX=1
cd "$build"
timed "tests ($label)" ctest --output-on-failure --timeout 600 "$@"
