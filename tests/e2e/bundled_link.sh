#!/usr/bin/env bash
# The programs a web server starts, linked "bundled", load no shared library
# but glibc's (none at all when glibc is linked in too): the drawing stack and
# libstdc++ are inside them, so a request does not pay for loading and
# relocating libraries, nor for relocating the program itself.
# ctest-timeout: 20
set -u
BUILD=$1
SRC=$2
source "$SRC/tests/e2e/lib/e2e.sh"
list=$BUILD/web-programs.txt
[ -f "$list" ] || skip "no $list"
[ "$(head -n 1 "$list")" = "link bundled" ] || skip "this build links the drawing stack shared"

only_glibc() {  # only_glibc PROGRAM: every NEEDED entry (if any) is one of glibc's
  local needed lib
  readelf -h "$1" >/dev/null || return 1
  needed=$(readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
  for lib in $needed; do
    case $lib in
      libc.so.6 | libm.so.6 | ld-linux-*.so.* | libpthread.so.0 | libdl.so.2 | librt.so.1) ;;
      *) echo "  needs $lib"; return 1 ;;
    esac
  done
}
# Position-dependent (ELF type EXEC): nothing of the program itself is
# relocated at each start.
position_dependent() { readelf -h "$1" | grep -Eq '^ *Type: +EXEC'; }
while read -r program; do
  check "$(basename "$program"): needs no shared library beyond glibc" only_glibc "$program"
  check "$(basename "$program"): linked position-dependent" position_dependent "$program"
done < <(tail -n +2 "$list")
finish
