#!/usr/bin/env bash
# Installs what is missing, builds, makes a demo laboratory folder (demo/) and starts
# Labrosa in it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
BUILD_DIR="$build" "$root/scripts/build.sh"

demo="$root/demo"
mkdir -p "$demo"
if [ ! -f "$demo/lab.db" ]; then
    "$build/tools/labrosa-dbtool" --demo --seed 2026 --results 3000 "$demo/lab.db"
fi
[ -f "$demo/Labrosa.ini" ] || cp "$root/share/Labrosa.ini" "$demo/"
mkdir -p "$demo/buletin_files"
cp -n "$root"/share/buletin_files/* "$demo/buletin_files/" 2>/dev/null || true

cd "$demo"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: starting Labrosa under Xvfb."
    exec xvfb-run -a "$build/src/labrosa" "$@"
fi
exec "$build/src/labrosa" "$@"
