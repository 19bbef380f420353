#!/usr/bin/env bash
# Installs Kadrillo from a build folder into a scratch prefix and checks the
# result with the desktop's own tools: the launcher, the AppStream metainfo,
# the icons, the man page and the udev rule must be where desktops, `man` and
# udev look for them and must read cleanly.
#
# Usage: check-install.sh BUILD_DIR
set -uo pipefail

build=${1:?usage: check-install.sh BUILD_DIR}
app=org.tavrel.Kadrillo
limit=60 # seconds any one tool may take before the check gives up on it

here=$(cd "$(dirname "$0")" && pwd)

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# shellcheck source=tests/install/gzip-header.sh
. "$here/gzip-header.sh"

need() {
  command -v "$1" >/dev/null 2>&1 || {
    echo "FAIL: $1 is not installed (scripts/ensure-deps.sh installs it)" >&2
    exit 1
  }
}
for tool in desktop-file-validate appstreamcli man lexgrog groff identify ldd readelf gzip od; do
  need "$tool"
done

prefix=$(mktemp -d "$build/install-check.XXXXXX") || exit 1
prefix=$(cd "$prefix" && pwd)
trap 'rm -rf "$prefix"' EXIT

if ! timeout "$limit" cmake --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1; then
  cat "$prefix.log" >&2
  rm -f "$prefix.log"
  echo "FAIL: cmake --install did not complete" >&2
  exit 1
fi
rm -f "$prefix.log"

# The program itself, runnable from the prefix with nothing left behind in the
# build folder.
bin=$prefix/bin/kadrillo
if [[ ! -x $bin ]]; then
  fail "bin/kadrillo is missing or not executable"
else
  missing=$(env -u LD_LIBRARY_PATH timeout "$limit" ldd "$bin" | grep 'not found')
  [[ -z $missing ]] || fail "bin/kadrillo needs libraries that are not installed: $missing"
  runpath=$(readelf -d "$bin" | grep -E 'RPATH|RUNPATH')
  [[ $runpath != *"$build"* ]] || fail "bin/kadrillo still points into the build folder: $runpath"
fi

# The launcher.
desktop=$prefix/share/applications/$app.desktop
if [[ ! -f $desktop ]]; then
  fail "share/applications/$app.desktop is missing"
else
  # Its hints and warnings count too: a clean launcher prints nothing.
  if ! out=$(timeout "$limit" desktop-file-validate "$desktop" 2>&1) || [[ -n $out ]]; then
    fail "desktop-file-validate: $out"
  fi
  exec_line=$(sed -n 's/^Exec=//p' "$desktop")
  exec_bin=${exec_line%% *}
  [[ -x $prefix/bin/$exec_bin ]] || fail "the launcher runs '$exec_bin', which is not in bin/"
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  [[ $icon == "$app" ]] || fail "the launcher's icon is '$icon', not the installed $app"
fi

# The icon at the sizes desktops ask for, each a real picture of its size.
icons=$prefix/share/icons/hicolor
for size in 16 32 48 64 128 256; do
  png=$icons/${size}x${size}/apps/$app.png
  if [[ ! -f $png ]]; then
    fail "icon ${size}x${size} is missing"
    continue
  fi
  got=$(timeout "$limit" identify -format '%m %wx%h' "$png" 2>&1)
  [[ $got == "PNG ${size}x${size}" ]] || fail "icon ${size}x${size} reads as '$got'"
done
svg=$icons/scalable/apps/$app.svg
if [[ ! -f $svg ]]; then
  fail "scalable icon is missing"
else
  got=$(timeout "$limit" identify -format '%wx%h' "$svg" 2>/dev/null)
  [[ $got =~ ^[1-9][0-9]*x[1-9][0-9]*$ ]] || fail "scalable icon does not read as a picture ('$got')"
fi

# The AppStream metainfo, alone and together with the launcher it names.
metainfo=$prefix/share/metainfo/$app.metainfo.xml
if [[ ! -f $metainfo ]]; then
  fail "share/metainfo/$app.metainfo.xml is missing"
else
  out=$(timeout "$limit" appstreamcli validate --no-net "$metainfo" 2>&1) ||
    fail "appstreamcli validate: $out"
  out=$(timeout "$limit" appstreamcli validate-tree --no-net "$prefix" 2>&1) ||
    fail "appstreamcli validate-tree: $out"
  grep -q "<launchable type=\"desktop-id\">$app.desktop</launchable>" "$metainfo" ||
    fail "the metainfo does not launch $app.desktop"
fi

# The man page: gzipped as Debian wants it (best compression, no name or time
# stamp in the header), renders without a single warning and has a NAME line
# that apropos and whatis can index.
page=$prefix/share/man/man1/kadrillo.1.gz
if [[ ! -f $page ]]; then
  fail "share/man/man1/kadrillo.1.gz is missing"
  [[ ! -f $prefix/share/man/man1/kadrillo.1 ]] || fail "the man page is installed uncompressed"
else
  check_gzip_header "$page" "the man page"
  timeout "$limit" gzip -t "$page" 2>/dev/null || fail "the man page does not decompress"
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 timeout "$limit" man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
  [[ -z $warnings ]] || fail "man warns: $warnings"
  warnings=$(gzip -dc "$page" | timeout "$limit" groff -man -ww -z 2>&1)
  [[ -z $warnings ]] || fail "groff warns: $warnings"
  found=$(MANPATH=$prefix/share/man timeout "$limit" man -w kadrillo 2>&1)
  [[ $found == "$page" ]] || fail "man -w kadrillo in the prefix finds '$found', not $page"
  whatis=$(timeout "$limit" lexgrog "$page" 2>&1)
  [[ $whatis == *'"kadrillo - '* ]] || fail "no whatis entry: $whatis"
  text=$(LC_ALL=C.UTF-8 MANWIDTH=80 timeout "$limit" man -E UTF-8 -l "$page" 2>/dev/null)
  for word in KADRILLO_VIRTUAL_DEVICES KADRILLO_REGISTRY Space F7 F5 Ctrl+Space registry.reg \
    60-kadrillo-firewire.rules; do
    grep -qF -- "$word" <<<"$text" || fail "the rendered man page does not mention $word"
  done
fi

# The udev rule, where udev looks under the prefix, and well formed.
rule=$prefix/lib/udev/rules.d/60-kadrillo-firewire.rules
if [[ ! -f $rule ]]; then
  fail "lib/udev/rules.d/60-kadrillo-firewire.rules is missing"
else
  out=$(timeout "$limit" "$here/lint-udev-rules.sh" "$rule" 2>&1) || fail "the udev rule: $out"
fi

if ((failures > 0)); then
  echo "$failures install check(s) failed" >&2
  exit 1
fi
echo "install into a scratch prefix: all checks passed"
