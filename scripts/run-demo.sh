#!/usr/bin/env bash
# Installs what is missing, builds, makes a demo laboratory folder (demo/) and starts
# Labrosa in it. With --analyser (or LABROSA_DEMO_ANALYSER=1), labrosa-receiver and the analyser
# simulator run beside it, so that new result sets arrive while Labrosa is open.
set -euo pipefail
analyser="${LABROSA_DEMO_ANALYSER:-0}"
if [ "${1:-}" = "--analyser" ]; then
    analyser=1
    shift
fi
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
if [ "$analyser" = 1 ]; then
    # A demo database made by an older version gets the receiver's tables.
    "$build/tools/labrosa-dbtool" --upgrade "$demo/lab.db" >/dev/null
    "$build/tools/receiver/labrosa-receiver" --database "Provider=SQLite;Data Source=$demo/lab.db" --machine 1 \
        --protocol astm --listen 127.0.0.1:0 --capture "$demo/analizor-1.log" >"$demo/receiver.port" 2>>"$demo/receiver.log" &
    receiver=$!
    for _ in $(seq 50); do
        grep -q portul "$demo/receiver.port" && break
        sleep 0.1
    done
    port="$(grep -o '[0-9]*$' "$demo/receiver.port")"
    # A set every five seconds, with request numbers of today's run.
    "$build/tools/receiver/labrosa-analyser-sim" --protocol astm --connect "127.0.0.1:$port" --generate 200 \
        --codes WBC,RBC,HGB,HCT,PLT --prefix "$(date +%H%M)" --interval 5000 2>>"$demo/receiver.log" &
    sim=$!
    trap 'kill "$sim" "$receiver" 2>/dev/null || true' EXIT
    echo "Analizorul demonstrativ trimite un set la 5 secunde (jurnal: $demo/receiver.log)."
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: starting Labrosa under Xvfb."
    [ "$analyser" = 1 ] || exec xvfb-run -a "$build/src/labrosa" "$@"
    xvfb-run -a "$build/src/labrosa" "$@"
    exit
fi
[ "$analyser" = 1 ] || exec "$build/src/labrosa" "$@"
"$build/src/labrosa" "$@"
