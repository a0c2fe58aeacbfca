# Sourced by run-tests.sh and .ci/run: a throw-away PostgreSQL cluster on 127.0.0.1 for the tests.
# Exports LABROSA_TEST_PG, the connection string of an empty test database.
pg_test_server_start() {
    local data="$1"
    local bindir
    bindir="$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)"
    export LABROSA_PG_BIN="$bindir"
    export LABROSA_PG_DATA="$data"
    export LABROSA_PG_PORT="${LABROSA_PG_PORT:-54329}"
    local runas=()
    if [ "$(id -u)" -eq 0 ]; then runas=(runuser -u postgres --); fi
    pg_test_server_stop >/dev/null 2>&1 || true
    rm -rf "$data"
    mkdir -p "$data"
    [ "$(id -u)" -eq 0 ] && chown postgres:postgres "$data"
    "${runas[@]}" "$bindir/initdb" -D "$data" -U labrosa --auth=trust -E UTF8 --locale=C.UTF-8 >/dev/null
    "${runas[@]}" "$bindir/pg_ctl" -D "$data" -w -l "$data/server.log" \
        -o "-c listen_addresses=127.0.0.1 -p $LABROSA_PG_PORT -k $data" start >/dev/null
    "${runas[@]}" "$bindir/createdb" -h 127.0.0.1 -p "$LABROSA_PG_PORT" -U labrosa labrosa_test
    export LABROSA_TEST_PG="Provider=PostgreSQL;Server=127.0.0.1;Port=$LABROSA_PG_PORT;Database=labrosa_test;User ID=labrosa;Password="
    echo "PostgreSQL test server on 127.0.0.1:$LABROSA_PG_PORT"
}

pg_test_server_stop() {
    [ -n "${LABROSA_PG_DATA:-}" ] || return 0
    local runas=()
    if [ "$(id -u)" -eq 0 ]; then runas=(runuser -u postgres --); fi
    "${runas[@]}" "$LABROSA_PG_BIN/pg_ctl" -D "$LABROSA_PG_DATA" -m fast stop >/dev/null 2>&1 || true
}

# True when the server that pg_test_server_start made (in this shell or a parent) still runs.
pg_test_server_running() {
    [ -n "${LABROSA_TEST_PG:-}" ] && [ -n "${LABROSA_PG_DATA:-}" ] && [ -n "${LABROSA_PG_BIN:-}" ] || return 1
    local runas=()
    if [ "$(id -u)" -eq 0 ]; then runas=(runuser -u postgres --); fi
    "${runas[@]}" "$LABROSA_PG_BIN/pg_ctl" -D "$LABROSA_PG_DATA" status >/dev/null 2>&1
}
