#!/usr/bin/env bash
# Builds the Debian package from a build folder with CPack into a scratch
# folder and reads it back with dpkg-deb: the files a desktop needs must be
# in it, under /usr, the man page gzipped as Debian wants it, the udev rule
# where udev reads it, its copyright file and changelog where Debian's policy
# wants them, and its dependencies must name the Qt and GStreamer libraries
# the program is linked with. lintian, Debian's own package checker, must
# find no error or warning in it. The package is never installed.
#
# Usage: check-package.sh BUILD_DIR
set -uo pipefail

build=${1:?usage: check-package.sh BUILD_DIR}
app=org.tavrel.Kadrillo
limit=240 # seconds CPack may take (it copies and strips the program)

here=$(cd "$(dirname "$0")" && pwd)
source_rule=$here/../../data/60-kadrillo-firewire.rules

for tool in cpack dpkg-deb dpkg-shlibdeps dpkg dpkg-parsechangelog lintian man gzip od; do
  command -v "$tool" >/dev/null 2>&1 || {
    echo "FAIL: $tool is not installed (scripts/ensure-deps.sh installs it)" >&2
    exit 1
  }
done
# The copyright file is read with python3-debian, in the system's Python.
/usr/bin/python3 -c 'import debian.copyright' 2>/dev/null || {
  echo "FAIL: python3-debian is not installed (scripts/ensure-deps.sh installs it)" >&2
  exit 1
}

out=$(mktemp -d "$build/package-check.XXXXXX") || exit 1
trap 'rm -rf "$out"' EXIT

if ! timeout "$limit" cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1; then
  cat "$out/cpack.log" >&2
  echo "FAIL: cpack -G DEB did not complete" >&2
  exit 1
fi
shopt -s nullglob
debs=("$out"/kadrillo_*.deb)
if ((${#debs[@]} != 1)); then
  cat "$out/cpack.log" >&2
  echo "FAIL: expected one kadrillo_*.deb, found ${#debs[@]}" >&2
  exit 1
fi
deb=${debs[0]}

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# shellcheck source=tests/install/gzip-header.sh
. "$here/gzip-header.sh"

contents=$(timeout 60 dpkg-deb -c "$deb") || fail "dpkg-deb -c cannot read $deb"
# Each line ends with the path, as ./usr/...; the program must be executable.
has() { awk '{print $NF}' <<<"$contents" | grep -qxF -- "./usr/$1"; }
has bin/kadrillo || fail "the package has no /usr/bin/kadrillo"
grep -E '^-rwx' <<<"$contents" | awk '{print $NF}' | grep -qxF ./usr/bin/kadrillo ||
  fail "/usr/bin/kadrillo is not executable in the package"
has share/applications/$app.desktop || fail "the package has no launcher"
has share/metainfo/$app.metainfo.xml || fail "the package has no metainfo"
has share/man/man1/kadrillo.1.gz || fail "the package has no gzipped man page"
! has share/man/man1/kadrillo.1 || fail "the package holds the man page uncompressed"
rule=lib/udev/rules.d/60-kadrillo-firewire.rules
doc=share/doc/kadrillo
has $rule || fail "the package has no /usr/$rule"
has $doc/copyright || fail "the package has no /usr/$doc/copyright"
has $doc/changelog.Debian.gz || fail "the package has no /usr/$doc/changelog.Debian.gz"
# Data files are plain readable files, not executables.
for file in share/man/man1/kadrillo.1.gz $rule $doc/copyright $doc/changelog.Debian.gz; do
  mode=$(awk -v p="./usr/$file" '$NF == p {print $1}' <<<"$contents")
  [[ -z $mode || $mode == -rw-r--r-- ]] || fail "/usr/$file has mode $mode, not -rw-r--r--"
done
for size in 16 32 48 64 128 256; do
  has share/icons/hicolor/${size}x${size}/apps/$app.png || fail "the package has no ${size}x${size} icon"
done
has share/icons/hicolor/scalable/apps/$app.svg || fail "the package has no scalable icon"
# Nothing from the build machine's folders may leak into the package.
stray=$(awk '{print $NF}' <<<"$contents" | grep -vE '^\./(usr(/.*)?)?/?$')
[[ -z $stray ]] || fail "files outside /usr: $stray"

# What the package would put on disk, read with the system's own tools.
root=$out/root
if ! timeout 60 dpkg-deb -x "$deb" "$root"; then
  fail "dpkg-deb -x cannot unpack $deb"
else
  page=$root/usr/share/man/man1/kadrillo.1.gz
  if [[ -f $page ]]; then
    check_gzip_header "$page" "the packaged man page"
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 timeout 60 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    [[ -z $warnings ]] || fail "man warns on the packaged page: $warnings"
  fi
  if [[ -f $root/usr/$rule ]]; then
    cmp -s "$root/usr/$rule" "$source_rule" || fail "the packaged udev rule differs from data/"
    out_lint=$(timeout 60 "$here/lint-udev-rules.sh" "$root/usr/$rule" 2>&1) ||
      fail "the packaged udev rule: $out_lint"
  fi
  copyright=$root/usr/$doc/copyright
  if [[ -f $copyright ]]; then
    # Machine-readable as Debian's copyright format defines it: python3-debian
    # parses it strictly, and every licence a Files paragraph names comes with
    # its text, there or in a License paragraph of its own.
    dep5=$(timeout 60 /usr/bin/python3 - "$copyright" 2>&1 <<'PY'
import sys
from debian.copyright import Copyright

try:
    with open(sys.argv[1], encoding="utf-8") as f:
        parsed = Copyright(f, strict=True)
except Exception as e:
    sys.exit(f"{type(e).__name__}: {e}")
texts = {p.license.synopsis for p in parsed.all_license_paragraphs() if p.license.text.strip()}
for p in parsed.all_files_paragraphs():
    if not p.license.text.strip() and p.license.synopsis not in texts:
        sys.exit(f"no text for the licence '{p.license.synopsis}' of {' '.join(p.files)}")
PY
    ) || fail "the packaged copyright file: $dep5"
  fi
  changelog=$root/usr/$doc/changelog.Debian.gz
  if [[ -f $changelog ]]; then
    check_gzip_header "$changelog" "the packaged changelog"
    gzip -dc "$changelog" >"$out/changelog" 2>/dev/null || fail "the packaged changelog does not decompress"
  fi
fi

info=$(timeout 60 dpkg-deb -I "$deb") || fail "dpkg-deb -I cannot read $deb"
field() { sed -n "s/^ $1: //p" <<<"$info"; }
[[ $(field Package) == kadrillo ]] || fail "package name is '$(field Package)'"
arch=$(dpkg --print-architecture)
[[ $(field Architecture) == "$arch" ]] || fail "architecture is '$(field Architecture)', not $arch"
# Debian's control files wrap the long description at 80 columns.
long=$(awk '/^ Description:/ {on = 1; next} on && /^  / {if (length($0) > 81) print} on && !/^  / {on = 0}' <<<"$info")
[[ -z $long ]] || fail "description lines longer than 80 columns: $long"
version=$(field Version)
# The changelog's newest entry, as dpkg reads it, is this very version.
if [[ -s $out/changelog ]]; then
  newest=$(timeout 60 dpkg-parsechangelog -l "$out/changelog" -S Version 2>&1)
  [[ $newest == "$version" ]] || fail "the changelog's newest entry is '$newest', the package is '$version'"
fi
depends=$(field Depends)
# Computed from the binary: versioned, and naming the libraries' own packages.
grep -qE '(^|, )libqt6[a-z0-9]+ \(>= ' <<<"$depends" || fail "Depends has no versioned libqt6 package: $depends"
grep -qE '(^|, )libgstreamer[a-z0-9.-]+ \(>= ' <<<"$depends" ||
  fail "Depends has no versioned libgstreamer package: $depends"
grep -qE '(^|, )libc6 \(>= ' <<<"$depends" || fail "Depends was not computed from the binary: $depends"
grep -qF gstreamer1.0-plugins-good <<<"$depends" || fail "Depends lacks the plugins loaded at run time: $depends"

# Debian's own checker: no error and no warning. What it is told to accept is
# in data/kadrillo.lintian-overrides, each with its reason; an override that
# no longer matches anything is a fault too.
lint=$(LC_ALL=C.UTF-8 timeout 120 lintian --display-info --fail-on error,warning "$deb" 2>&1)
status=$?
lint=$(grep -v '^running with root privileges' <<<"$lint")
((status == 0)) || fail "lintian (exit status $status): $lint"
stale=$(grep -E '(unused|mismatched)-override' <<<"$lint")
[[ -z $stale ]] || fail "lintian overrides that match nothing: $stale"

if ((failures > 0)); then
  echo "$failures package check(s) failed for $(basename "$deb")" >&2
  exit 1
fi
echo "$(basename "$deb"): all checks passed"
echo "Depends: $depends"
[[ -z $lint ]] || echo "lintian, for information: $lint"
