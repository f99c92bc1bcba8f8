#!/usr/bin/env bash
# Times `dunmore save-script` of a 1,000,000-row table against `mariadb-dump
# --skip-extended-insert` of the same table from a MariaDB server started on the same data
# folder, in the same run, for an InnoDB and a MyISAM table; then the scan of a folder of
# 10,000 tables. Prints medians of wall-clock and CPU time, the rows/s and the ratio, and
# the peak RSS of dunmore.
#
#   bench/save_vs_dump.sh [-n RUNS] [-b BUILD_DIR] [-- SAVE_ARGS...]
#
# RUNS (default 5): each side runs that many times, interleaved (save, dump, save, dump,
# ...), so that load from other processes falls on both alike; medians are reported.
# BUILD_DIR (default build/) holds bin/dunmore. SAVE_ARGS are passed to save-script (for
# example --jobs 1). The data folders are made once, by a throwaway server, and kept in
# $DUNMORE_BENCH_DATA, default BUILD_DIR/bench-data (delete it to make them again).
#
# CPU time: dunmore's user+system time; the dump's is the client's plus the server
# process's (read from /proc before and after each dump).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=5
build=$root/build
while [ $# -gt 0 ]; do
    case $1 in
        -n) runs=$2; shift 2 ;;
        -b) build=$(cd "$2" && pwd); shift 2 ;;
        --) shift; break ;;
        *) echo "usage: $0 [-n RUNS] [-b BUILD_DIR] [-- SAVE_ARGS...]" >&2; exit 2 ;;
    esac
done
save_args=("$@")
dunmore=$build/bin/dunmore
[ -x "$dunmore" ] || { echo "bench: $dunmore not built" >&2; exit 1; }
command -v mariadb-dump >/dev/null || { echo "bench: mariadb-dump not found" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "bench: /usr/bin/time not found (apt-get install time)" >&2; exit 1; }

data=${DUNMORE_BENCH_DATA:-$build/bench-data}
rows=1000000
tables=10000
work=$(mktemp -d /tmp/dunmore-bench.XXXXXX)
. "$root/bench/lib.sh"
cleanup() {
    stop_server
    rm -rf "$work"
}
trap cleanup EXIT

# --- Data folders, made once ---------------------------------------------------------
if [ ! -f "$data/rows/.complete" ]; then
    echo "bench: making the $rows-row tables (once, in $data/rows)" >&2
    {
        printf 'CREATE DATABASE bench;\nUSE bench;\n'
        bench_table_sql t_innodb "$rows"
        cat <<'SQL'
CREATE TABLE t_myisam LIKE t_innodb;
ALTER TABLE t_myisam ENGINE=MyISAM;
INSERT INTO t_myisam SELECT * FROM t_innodb;
SQL
    } >"$work/rows.sql"
    bash "$root/tests/fixtures/make_datadir.sh" "$data/rows" "$work/rows.sql"
    touch "$data/rows/.complete"
fi
if [ ! -f "$data/scan/.complete" ]; then
    echo "bench: making the $tables-table folder (once, in $data/scan)" >&2
    printf 'CREATE DATABASE s;\nCREATE TABLE s.t (id INT PRIMARY KEY, v VARCHAR(20)) ENGINE=InnoDB;\n' \
        >"$work/scan.sql"
    bash "$root/tests/fixtures/make_datadir.sh" "$data/scan" "$work/scan.sql"
    # The scan reads only the first bytes of each .frm; copies of one real table
    # definition make the folder. Ten databases of 1,000 tables each.
    for d in $(seq 0 9); do
        mkdir -p "$data/scan/db$d"
        for t in $(seq 0 999); do cp "$data/scan/s/t.frm" "$data/scan/db$d/t$t.frm"; done
    done
    touch "$data/scan/.complete"
fi

# --- The server on the same data ------------------------------------------------------
start_server "$data/rows"

ticks=$(getconf CLK_TCK)
server_cpu() {  # user+system seconds of the server so far
    awk -v t="$ticks" '{ printf "%.3f", ($14 + $15) / t }' "/proc/$pid/stat"
}
out=$work/out
declare -A save_wall save_cpu save_rss dump_wall dump_cpu dump_bytes save_bytes
for table in t_innodb t_myisam; do
    # One warm-up of each side brings the files into the page cache and the server's
    # buffer pool.
    rm -rf "$out"
    "$dunmore" save-script "$data/rows" "$out" "bench.$table" --log-folder "$work" \
        "${save_args[@]}" >/dev/null
    mariadb-dump --no-defaults -S "$sock" -uroot --skip-extended-insert bench "$table" \
        >"$work/dump.sql"
    : >"$work/save.$table"; : >"$work/dump.$table"
    for i in $(seq 1 "$runs"); do
        rm -rf "$out"
        timed "$dunmore" save-script "$data/rows" "$out" "bench.$table" --log-folder "$work" \
            "${save_args[@]}" >>"$work/save.$table"
        before=$(server_cpu)
        read -r wall cpu _ < <(timed mariadb-dump --no-defaults -S "$sock" -uroot \
            --skip-extended-insert --result-file="$work/dump.sql" bench "$table")
        after=$(server_cpu)
        echo "$wall $(awk -v c="$cpu" -v a="$after" -v b="$before" 'BEGIN { printf "%.3f", c + a - b }')" \
            >>"$work/dump.$table"
    done
    save_wall[$table]=$(awk '{ print $1 }' "$work/save.$table" | median)
    save_cpu[$table]=$(awk '{ print $2 }' "$work/save.$table" | median)
    save_rss[$table]=$(awk '{ print $3 }' "$work/save.$table" | sort -g | tail -1)
    dump_wall[$table]=$(awk '{ print $1 }' "$work/dump.$table" | median)
    dump_cpu[$table]=$(awk '{ print $2 }' "$work/dump.$table" | median)
    save_bytes[$table]=$(stat -c %s "$out/Scriptdata/bench.sql")
    dump_bytes[$table]=$(stat -c %s "$work/dump.sql")
    inserts=$(grep -c '^INSERT INTO' "$out/Scriptdata/bench.sql" || true)
    [ "$inserts" -eq "$rows" ] || { echo "bench: $table: save wrote $inserts rows, not $rows" >&2; exit 1; }
    echo "bench: $table save runs (wall cpu rss_kb): $(tr '\n' ';' <"$work/save.$table")" >&2
    echo "bench: $table dump runs (wall cpu): $(tr '\n' ';' <"$work/dump.$table")" >&2
done

stop_server

: >"$work/scan"
for i in $(seq 1 "$runs"); do
    timed "$dunmore" scan "$data/scan" --log-folder "$work" >>"$work/scan"
done
scan_wall=$(awk '{ print $1 }' "$work/scan" | median)
scan_rss=$(awk '{ print $3 }' "$work/scan" | sort -g | tail -1)

echo
echo "medians of $runs interleaved runs; $(nproc) cores; load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "save-script args: ${save_args[*]:-(none)}"
printf '%-9s %10s %9s %12s %10s %9s %12s %8s %8s %11s\n' table save_s save_cpu save_rows/s \
    dump_s dump_cpu dump_rows/s ratio cpu_ratio peak_rss_MB
for table in t_innodb t_myisam; do
    awk -v t="$table" -v sw="${save_wall[$table]}" -v sc="${save_cpu[$table]}" \
        -v dw="${dump_wall[$table]}" -v dc="${dump_cpu[$table]}" -v r="$rows" \
        -v rss="${save_rss[$table]}" 'BEGIN {
        printf "%-9s %10.3f %9.3f %12.0f %10.3f %9.3f %12.0f %7.2fx %7.2fx %11.1f\n",
               t, sw, sc, r / sw, dw, dc, r / dw, dw / sw, dc / sc, rss / 1024 }'
done
echo "script bytes: t_innodb ${save_bytes[t_innodb]} (dump ${dump_bytes[t_innodb]}), t_myisam ${save_bytes[t_myisam]} (dump ${dump_bytes[t_myisam]})"
awk -v w="$scan_wall" -v rss="$scan_rss" -v n="$tables" \
    'BEGIN { printf "scan of %d tables: %.3f s, peak RSS %.1f MB\n", n, w, rss / 1024 }'
