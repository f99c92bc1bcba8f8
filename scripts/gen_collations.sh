#!/usr/bin/env bash
# Writes data/"collation (2)", the collation table file Dunmore ships, from the collation
# list of a real MariaDB server: scripts/gen_collations.sh [--check] [OUTFILE]
# With --check, writes a fresh table to a temporary file and fails unless it equals the
# shipped one (a test runs this).
#
# A throwaway server is started by tests/fixtures/make_datadir.sh and asked for every
# collation with its character set's maximum bytes per character. Each collation becomes
# one record, back to back, no header, all integers unsigned 32-bit little-endian:
#   number, minimum bytes per char, maximum bytes per char,
#   n1, n1 bytes of character-set name, n2, n2 bytes of collation name.
# Minimum bytes per char: 2 for ucs2, utf16 and utf16le, 4 for utf32, 1 for the rest.
# Only collations the server lists are written (ids above 255 included); ids used only
# by other server lines are not invented here.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
shipped="$root/data/collation (2)"
check=0
if [ "${1:-}" = --check ]; then
    check=1
    shift
fi
out=${1:-$shipped}

work=$(mktemp -d /tmp/dunmore-collations.XXXXXX)
trap 'rm -rf "$work"' EXIT
if [ "$check" = 1 ]; then
    out=$work/collation.new
fi
echo 'SELECT 1;' >"$work/setup.sql"
cat >"$work/query.sql" <<'SQL'
SELECT c.ID, c.CHARACTER_SET_NAME, c.COLLATION_NAME, s.MAXLEN
FROM information_schema.COLLATIONS c
JOIN information_schema.CHARACTER_SETS s ON s.CHARACTER_SET_NAME = c.CHARACTER_SET_NAME
WHERE c.ID IS NOT NULL
ORDER BY c.ID;
SQL
bash "$root/tests/fixtures/make_datadir.sh" "$work/datadir" "$work/setup.sql" \
    "$work/query.sql" "$work/collations.tsv" >"$work/server.log" 2>&1 ||
    { cat "$work/server.log" >&2; exit 1; }

python3 - "$work/collations.tsv" "$out" <<'PY'
import struct
import sys

MIN_BYTES = {"ucs2": 2, "utf16": 2, "utf16le": 2, "utf32": 4}

src, dst = sys.argv[1], sys.argv[2]
records = []
with open(src, encoding="ascii") as f:
    header = f.readline().rstrip("\n").split("\t")
    if header != ["ID", "CHARACTER_SET_NAME", "COLLATION_NAME", "MAXLEN"]:
        sys.exit("gen_collations: unexpected header %r" % header)
    for line in f:
        number, charset, collation, maxlen = line.rstrip("\n").split("\t")
        records.append((int(number), charset, collation, int(maxlen)))
if not records:
    sys.exit("gen_collations: the server listed no collations")
with open(dst, "wb") as f:
    for number, charset, collation, maxlen in records:
        cs, co = charset.encode("ascii"), collation.encode("ascii")
        f.write(struct.pack("<IIII", number, MIN_BYTES.get(charset, 1), maxlen, len(cs)))
        f.write(cs)
        f.write(struct.pack("<I", len(co)))
        f.write(co)
print("gen_collations: %d collations, ids %d..%d -> %s"
      % (len(records), records[0][0], records[-1][0], dst))
PY

if [ "$check" = 1 ]; then
    if cmp -s "$out" "$shipped"; then
        echo "gen_collations: the shipped table equals the server's list"
    else
        echo "gen_collations: the shipped table differs from the server's list;" \
             "run scripts/gen_collations.sh" >&2
        exit 1
    fi
fi
