#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite headless.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

# A PostgreSQL server of our own on the loopback interface, for the suites that run
# against both backends.
source "$root/scripts/pg-test-server.sh"
pg_test_server_start "$(mktemp -d /tmp/labrosa-pg.XXXXXX)"
trap pg_test_server_stop EXIT

export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_DISABLE_SANDBOX=1
cd "$build"
ctest --output-on-failure --timeout 600 "$@"
