#!/usr/bin/env bash
# Times loading a saved script into a MariaDB server with the mariadb client: the script
# of `dunmore save-script` with one row per INSERT (the default) against the same table
# saved with --rows-per-insert 1000, and, as the reference a user knows, a mariadb-dump
# of the same table in its default (extended INSERT) form. Every load is checked to give
# the table's rows (CHECKSUM TABLE against the original).
#
#   bench/load_script.sh [-n RUNS] [-r ROWS] [-b BUILD_DIR]
#
# RUNS (default 3) loads of each script, interleaved; medians are reported. ROWS
# (default 200000) rows of an InnoDB table (INT key, VARCHAR(100) utf8mb4, DATETIME,
# DECIMAL(10,2), INT NULL). The server runs with its default durability
# (innodb_flush_log_at_trx_commit=1), as a server a user restores into would. The data
# folder is made once, in $DUNMORE_BENCH_DATA (default BUILD_DIR/bench-data)/load-ROWS.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=3
rows=200000
build=$root/build
while [ $# -gt 0 ]; do
    case $1 in
        -n) runs=$2; shift 2 ;;
        -r) rows=$2; shift 2 ;;
        -b) build=$(cd "$2" && pwd); shift 2 ;;
        *) echo "usage: $0 [-n RUNS] [-r ROWS] [-b BUILD_DIR]" >&2; exit 2 ;;
    esac
done
dunmore=$build/bin/dunmore
[ -x "$dunmore" ] || { echo "bench: $dunmore not built" >&2; exit 1; }
command -v mariadb-dump >/dev/null || { echo "bench: mariadb-dump not found" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "bench: /usr/bin/time not found (apt-get install time)" >&2; exit 1; }

data=${DUNMORE_BENCH_DATA:-$build/bench-data}/load-$rows
work=$(mktemp -d /tmp/dunmore-load.XXXXXX)
. "$root/bench/lib.sh"
cleanup() {
    stop_server
    rm -rf "$work"
}
trap cleanup EXIT

if [ ! -f "$data/.complete" ]; then
    echo "bench: making the $rows-row table (once, in $data)" >&2
    {
        printf 'CREATE DATABASE bench;\nUSE bench;\n'
        bench_table_sql t "$rows"
    } >"$work/rows.sql"
    bash "$root/tests/fixtures/make_datadir.sh" "$data" "$work/rows.sql"
    touch "$data/.complete"
fi

# The scripts, saved from the files while no server has them open.
for per in 1 1000; do
    "$dunmore" save-script "$data" "$work/save$per" bench.t --rows-per-insert "$per" \
        --log-folder "$work" >/dev/null
done
start_server "$data"
client=(mariadb --no-defaults -S "$sock" -uroot)
mariadb-dump --no-defaults -S "$sock" -uroot bench t >"$work/dump.sql"
original=$("${client[@]}" -N -e 'CHECKSUM TABLE bench.t' | cut -f2)

# load NAME: one load of that script into an empty database, its "wall" time; the
# loaded table must hold the original rows.
load() {
    # A dump names no database; a saved script creates its own rep_ copy.
    local db=rep_bench script=$work/save$1/Scriptdata/bench.sql args=()
    if [ "$1" = dump ]; then
        db=dumped script=$work/dump.sql args=(dumped)
        "${client[@]}" -e "DROP DATABASE IF EXISTS dumped; CREATE DATABASE dumped"
    else
        "${client[@]}" -e "DROP DATABASE IF EXISTS rep_bench"
    fi
    /usr/bin/time -f '%e' -o "$work/time" "${client[@]}" "${args[@]}" <"$script" >/dev/null 2>"$work/err" ||
        { cat "$work/err" >&2; echo "bench: loading $script failed" >&2; exit 1; }
    local sum
    sum=$("${client[@]}" -N -e "CHECKSUM TABLE $db.t" | cut -f2)
    [ "$sum" = "$original" ] || { echo "bench: $1: loaded rows differ (checksum $sum, not $original)" >&2; exit 1; }
    cat "$work/time"
}

: >"$work/t1"; : >"$work/t1000"; : >"$work/tdump"
for i in $(seq 1 "$runs"); do
    load 1 >>"$work/t1"
    load 1000 >>"$work/t1000"
    load dump >>"$work/tdump"
done
t1=$(median <"$work/t1")
t1000=$(median <"$work/t1000")
tdump=$(median <"$work/tdump")

echo
echo "loading $rows rows with the mariadb client; medians of $runs interleaved runs; $(nproc) cores"
printf '%-32s %9s %12s %10s %10s\n' script load_s rows/s vs_1_row bytes
line() {
    awk -v n="$1" -v t="$2" -v r="$rows" -v base="$t1" -v b="$(stat -c %s "$3")" \
        'BEGIN { printf "%-32s %9.2f %12.0f %9.1fx %10d\n", n, t, r / t, base / t, b }'
}
line "save-script (1 row per INSERT)" "$t1" "$work/save1/Scriptdata/bench.sql"
line "save-script --rows-per-insert 1000" "$t1000" "$work/save1000/Scriptdata/bench.sql"
line "mariadb-dump (extended INSERT)" "$tdump" "$work/dump.sql"
echo "every load gave the original rows (CHECKSUM TABLE $original)"
