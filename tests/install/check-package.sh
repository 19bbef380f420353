#!/usr/bin/env bash
# Builds the Debian package from a build folder with CPack into a scratch
# folder and reads it back with dpkg-deb: the files a desktop needs must be
# in it, under /usr, and its dependencies must name the Qt and GStreamer
# libraries the program is linked with. The package is never installed.
#
# Usage: check-package.sh BUILD_DIR
set -uo pipefail

build=${1:?usage: check-package.sh BUILD_DIR}
app=org.tavrel.Kadrillo
limit=240 # seconds CPack may take (it copies and strips the program)

for tool in cpack dpkg-deb dpkg-shlibdeps dpkg; do
  command -v "$tool" >/dev/null 2>&1 || {
    echo "FAIL: $tool is not installed (scripts/ensure-deps.sh installs it)" >&2
    exit 1
  }
done

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

contents=$(timeout 60 dpkg-deb -c "$deb") || fail "dpkg-deb -c cannot read $deb"
# Each line ends with the path, as ./usr/...; the program must be executable.
has() { awk '{print $NF}' <<<"$contents" | grep -qxF -- "./usr/$1"; }
has bin/kadrillo || fail "the package has no /usr/bin/kadrillo"
grep -E '^-rwx' <<<"$contents" | awk '{print $NF}' | grep -qxF ./usr/bin/kadrillo ||
  fail "/usr/bin/kadrillo is not executable in the package"
has share/applications/$app.desktop || fail "the package has no launcher"
has share/metainfo/$app.metainfo.xml || fail "the package has no metainfo"
has share/man/man1/kadrillo.1 || has share/man/man1/kadrillo.1.gz || fail "the package has no man page"
for size in 16 32 48 64 128 256; do
  has share/icons/hicolor/${size}x${size}/apps/$app.png || fail "the package has no ${size}x${size} icon"
done
has share/icons/hicolor/scalable/apps/$app.svg || fail "the package has no scalable icon"
# Nothing from the build machine's folders may leak into the package.
stray=$(awk '{print $NF}' <<<"$contents" | grep -vE '^\./(usr(/.*)?)?/?$')
[[ -z $stray ]] || fail "files outside /usr: $stray"

info=$(timeout 60 dpkg-deb -I "$deb") || fail "dpkg-deb -I cannot read $deb"
field() { sed -n "s/^ $1: //p" <<<"$info"; }
[[ $(field Package) == kadrillo ]] || fail "package name is '$(field Package)'"
arch=$(dpkg --print-architecture)
[[ $(field Architecture) == "$arch" ]] || fail "architecture is '$(field Architecture)', not $arch"
depends=$(field Depends)
# Computed from the binary: versioned, and naming the libraries' own packages.
grep -qE '(^|, )libqt6[a-z0-9]+ \(>= ' <<<"$depends" || fail "Depends has no versioned libqt6 package: $depends"
grep -qE '(^|, )libgstreamer[a-z0-9.-]+ \(>= ' <<<"$depends" ||
  fail "Depends has no versioned libgstreamer package: $depends"
grep -qE '(^|, )libc6 \(>= ' <<<"$depends" || fail "Depends was not computed from the binary: $depends"
grep -qF gstreamer1.0-plugins-good <<<"$depends" || fail "Depends lacks the plugins loaded at run time: $depends"

if ((failures > 0)); then
  echo "$failures package check(s) failed for $(basename "$deb")" >&2
  exit 1
fi
echo "$(basename "$deb"): all checks passed"
echo "Depends: $depends"
