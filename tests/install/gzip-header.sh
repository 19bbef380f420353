# shellcheck shell=bash
# Sourced by the install checks, which define fail().
#
# check_gzip_header FILE WHAT: a gzip file as lintian wants it, deflated at the
# best compression (XFL 2), with neither the original name (FLG bit 3) nor a
# time stamp (MTIME) in its header.
check_gzip_header() {
  local header
  header=$(od -A n -t x1 -N 10 "$1" | tr -d ' \n')
  [[ ${header:0:6} == 1f8b08 ]] || {
    fail "$2 is not gzip ($header)"
    return
  }
  (((0x${header:6:2} & 0x08) == 0)) || fail "$2 keeps the file name in its gzip header"
  [[ ${header:8:8} == 00000000 ]] || fail "$2 has a time stamp in its gzip header"
  [[ ${header:16:2} == 02 ]] || fail "$2 is not compressed at the best level (gzip -9)"
}
