#!/usr/bin/env bash
# Installs the build into a scratch prefix as `cmake --install` does for a user, then
# checks what a user gets: both executables, the collation table, the desktop entry and
# icon, the docs, and a manual page that groff renders without a warning and that
# describes every command and every long option `dunmore --help` lists.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
prefix=$(mktemp -d "${TMPDIR:-/tmp}/dunmore-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
fail() { echo "install_test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

for f in bin/dunmore bin/dunmore-gui "bin/collation (2)" "share/dunmore/collation (2)" \
         share/man/man1/dunmore.1 share/applications/dunmore-gui.desktop \
         share/icons/hicolor/scalable/apps/dunmore.svg \
         share/doc/dunmore/user-guide.html share/doc/dunmore/README.md; do
    [ -e "$prefix/$f" ] || fail "cmake --install did not install $f"
done
[ -x "$prefix/bin/dunmore" ] || fail "bin/dunmore is not executable"

# The installed program runs from its own folder and finds its collation table there.
version=$("$prefix/bin/dunmore" --version)
[[ "$version" == "dunmore "* ]] || fail "installed dunmore --version printed '$version'"

man=$prefix/share/man/man1/dunmore.1
grep -Eq '@[A-Z_]+@' "$man" && fail "the manual page still holds an unfilled @VARIABLE@"
grep -q "${version#dunmore }" "$man" || fail "the manual page does not carry version ${version#dunmore }"
warnings=$(groff -man -Tutf8 -ww -z "$man" 2>&1) || true
[ -z "$warnings" ] || fail "groff warns on the manual page: $warnings"
text=$(groff -man -Tutf8 -rHY=0 -rLL=500n "$man" 2>/dev/null | sed 's/.\x08//g')

# Every command and every long option of the help must be in the manual page.
commands=$("$prefix/bin/dunmore" --help | awk '/^Subcommands:/{s=1;next} s&&/^  [a-z]/{print $1} s&&/^$/{s=0}')
[ -n "$commands" ] || fail "no commands found in dunmore --help"
for c in $commands; do
    grep -q -- "$c" <<<"$text" || fail "the manual page docs/dunmore.1 does not describe the command '$c'"
    for o in $("$prefix/bin/dunmore" "$c" --help | grep -o -- '--[a-z][a-z0-9-]*' | sort -u); do
        grep -q -- "$o" <<<"$text" || fail "the manual page docs/dunmore.1 does not describe $o of '$c'"
    done
done
echo "install_test: installed tree complete; manual page covers: $(echo $commands)"
