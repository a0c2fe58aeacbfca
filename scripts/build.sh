#!/usr/bin/env bash
# Configures and builds into build/ (or $BUILD_DIR). With LABROSA_SANITIZE=ON the build has
# AddressSanitizer and UndefinedBehaviorSanitizer, in build-asan/ unless $BUILD_DIR says
# otherwise.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
sanitize="${LABROSA_SANITIZE:-OFF}"
case "$sanitize" in
ON | on | 1 | true) sanitize=ON default_build="$root/build-asan" ;;
*) sanitize=OFF default_build="$root/build" ;;
esac
build="${BUILD_DIR:-$default_build}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLABROSA_SANITIZE="$sanitize"
cmake --build "$build" --parallel "${LABROSA_JOBS:-$(nproc)}"
