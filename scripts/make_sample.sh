#!/usr/bin/env bash
# Regenerates data/sample/datadir, the sample data folder, from data/sample/make_sample.sql
# with a throwaway MariaDB server (tests/fixtures/make_datadir.sh). Keeps only what
# Dunmore reads: ibdata1 (stored gzip-compressed as ibdata1.gz) and the database folders
# with their .frm, .MYI, .MYD, .ibd, .TRG, .TRN and db.opt files. The row count of every
# table, as the server counted it, goes to data/sample/contents.txt.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
sample=$root/data/sample
databases=(shop library)

work=$(mktemp -d /tmp/dunmore-sample.XXXXXX)
trap 'rm -rf "$work"' EXIT

{
    first=1
    for db in "${databases[@]}"; do
        while read -r table; do
            [ "$first" = 1 ] || echo "UNION ALL"
            echo "SELECT '$db.$table' AS item, COUNT(*) AS row_count FROM \`$db\`.\`$table\`"
            first=0
        done < <(sed -n "/^USE $db;/,/^USE /p" "$sample/make_sample.sql" |
                 sed -n 's/^CREATE TABLE \([a-z_]*\) .*/\1/p')
    done
    echo ";"
} >"$work/counts.sql"

bash "$root/tests/fixtures/make_datadir.sh" "$work/datadir" "$sample/make_sample.sql" \
    "$work/counts.sql" "$work/contents.txt" >"$work/server.log" 2>&1 ||
    { cat "$work/server.log" >&2; exit 1; }

rm -rf "$sample/datadir"
mkdir -p "$sample/datadir"
gzip -9n -c "$work/datadir/ibdata1" >"$sample/datadir/ibdata1.gz"
for db in "${databases[@]}"; do
    mkdir -p "$sample/datadir/$db"
    find "$work/datadir/$db" -maxdepth 1 -type f \
        \( -name '*.frm' -o -name '*.MYI' -o -name '*.MYD' -o -name '*.ibd' \
           -o -name '*.TRG' -o -name '*.TRN' -o -name 'db.opt' \) \
        -exec install -m 644 {} "$sample/datadir/$db/" \;
done
cp "$work/contents.txt" "$sample/contents.txt"
echo "make_sample: $(find "$sample/datadir" -type f | wc -l) files," \
     "$(du -sk "$sample/datadir" | cut -f1) KiB in $sample/datadir"
cat "$sample/contents.txt"
