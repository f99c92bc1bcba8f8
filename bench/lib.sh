# Helpers of the benchmark scripts (sourced): a MariaDB server on a data folder, timing
# and medians. Callers set `work` (a scratch folder) first and call `stop_server` (or
# let their EXIT trap do it).

mariadbd=$(command -v mariadbd || echo /usr/sbin/mariadbd)
pid=

# start_server DATADIR: a server on DATADIR, reachable only through $work/mysqld.sock.
start_server() {
    sock=$work/mysqld.sock
    "$mariadbd" --no-defaults --datadir="$1" --user=root --skip-networking \
        --socket="$sock" --pid-file="$work/mysqld.pid" --log-error="$work/error.log" \
        --tmpdir="$work" --skip-log-bin --innodb-buffer-pool-size=512M \
        --innodb-log-file-size=64M --innodb-data-file-path=ibdata1:12M:autoextend \
        --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci \
        --max-allowed-packet=256M &
    pid=$!
    for _ in $(seq 1 300); do
        [ -S "$sock" ] && mariadb --no-defaults -S "$sock" -uroot -e 'select 1' >/dev/null 2>&1 && return 0
        kill -0 "$pid" 2>/dev/null || { cat "$work/error.log" >&2; exit 1; }
        sleep 0.1
    done
    echo "bench: the server did not start" >&2
    exit 1
}

stop_server() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    pid=
    true
}

# Runs a command under /usr/bin/time; prints "wall cpu maxrss_kb".
timed() {
    /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$@" >/dev/null 2>"$work/err" ||
        { cat "$work/err" >&2; echo "bench: failed: $*" >&2; exit 1; }
    awk '{ printf "%s %.3f %s\n", $1, $2 + $3, $4 }' "$work/time"
}

median() { sort -g | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

# bench_table_sql TABLE ROWS: the SQL that makes the benchmarks' InnoDB table of ROWS rows
# (INT key, VARCHAR(100) utf8mb4 with apostrophes and non-ASCII letters, DATETIME,
# DECIMAL(10,2), INT with NULLs) in the current database.
bench_table_sql() {
    cat <<SQL
CREATE TABLE $1 (id INT PRIMARY KEY, name VARCHAR(100) CHARACTER SET utf8mb4,
                created DATETIME, amount DECIMAL(10,2), extra INT NULL) ENGINE=InnoDB;
INSERT INTO $1
  SELECT seq, CONCAT('name-', seq, '-', REPEAT(IF(seq % 7 = 0, 'é', 'x'), seq % 40),
                     IF(seq % 11 = 0, ' O''Brien', '')),
         '2020-01-01' + INTERVAL seq * 37 SECOND, (CAST(seq AS SIGNED) * 7919 % 100000000) / 100 - 250000,
         IF(seq % 5 = 0, NULL, CAST(seq AS SIGNED) * 3 - 1000000)
  FROM seq_1_to_$2;
SQL
}
