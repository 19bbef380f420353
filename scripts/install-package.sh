#!/usr/bin/env bash
# Installs Kadrillo on this machine as a Debian package and checks that the
# installed program runs.
#
#  1. builds build/kadrillo_*.deb with CPack when there is none, or when the
#     program in build/ is newer than it (building build/ first if needed);
#  2. installs it with `apt-get install`, which fetches what it depends on
#     (through sudo when not run as root);
#  3. starts /usr/bin/kadrillo offscreen with the virtual devices in a scratch
#     home for a few seconds, on a private session bus: it must answer the
#     remote control, record a short capture that ffprobe reads back, print no
#     GLib criticals and still be running when the time is up;
#  4. says what it did.
#
# It changes the system (the package stays installed); `sudo apt-get remove
# kadrillo` takes it away again. ./test never runs it.
#
# Usage: scripts/install-package.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
run_seconds=${KADRILLO_SMOKE_SECONDS:-15}

say() { echo "install-package: $*"; }
die() {
  echo "install-package: FAILED: $*" >&2
  exit 1
}

SUDO=()
if [[ $(id -u) -ne 0 ]]; then
  SUDO=(sudo)
fi

# 1. The package.
shopt -s nullglob
debs=("$build"/kadrillo_*_"$(dpkg --print-architecture)".deb)
shopt -u nullglob
deb=${debs[0]:-}
if [[ ! -x $build/kadrillo || ! -f $build/CPackConfig.cmake ]]; then
  say "no built program in build/: installing the build tools and building"
  "$root/scripts/ensure-deps.sh"
  "$root/scripts/build.sh"
fi
if [[ -z $deb || $build/kadrillo -nt $deb ]]; then
  say "making the package with CPack"
  (cd "$build" && cpack -G DEB) >"$build/cpack.log" 2>&1 || {
    cat "$build/cpack.log" >&2
    die "cpack -G DEB did not complete"
  }
  shopt -s nullglob
  debs=("$build"/kadrillo_*_"$(dpkg --print-architecture)".deb)
  shopt -u nullglob
  deb=${debs[0]:-}
  [[ -n $deb ]] || die "cpack made no kadrillo_*.deb in build/"
  made="made"
else
  made="found"
fi
say "package: $deb ($made)"

# 2. Installed with apt, which resolves the dependencies; --reinstall so that a
# rebuilt package of the same version replaces the installed one.
before=$(dpkg-query -W -f='${Status} ${Version}' kadrillo 2>/dev/null || true)
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get install -y -q --reinstall "$deb" ||
  die "apt-get install $deb did not complete"
status=$(dpkg-query -W -f='${Status} ${Version}' kadrillo 2>/dev/null || true)
[[ $status == "install ok installed "* ]] || die "dpkg does not report kadrillo installed: $status"
version=${status##* }
[[ -x /usr/bin/kadrillo ]] || die "/usr/bin/kadrillo is missing after the install"
say "installed kadrillo $version (before: ${before:-not installed})"

# 3. The installed program, offscreen, in a home of its own so that neither
# the settings nor the videos of the person running this are touched.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kadrillo-smoke.XXXXXX")
home=$scratch/home
mkdir -p "$home/Videos" "$home/Pictures" "$home/.config" "$home/.local/state" "$home/.cache"
mkdir -m 700 "$scratch/runtime"

# Runs on the private session bus: the program for run_seconds, and the
# remote control talking to it meanwhile. Writes its findings to $scratch.
smoke() {
  local out=$scratch/kadrillo.log state="" file="" stopped="" i
  timeout "$run_seconds" /usr/bin/kadrillo >"$out" 2>&1 &
  local pid=$!
  for ((i = 0; i < 40; i++)); do
    state=$(/usr/bin/kadrillo --state 2>/dev/null) && break
    state=""
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.25
  done
  echo "$state" >"$scratch/state"
  if [[ -n $state ]]; then
    file=$(/usr/bin/kadrillo --capture 2>>"$scratch/remote.log") || file=""
    sleep 2
    stopped=$(/usr/bin/kadrillo --stop 2>>"$scratch/remote.log") || stopped=""
  fi
  echo "$file" >"$scratch/captured"
  echo "$stopped" >"$scratch/stopped"
  local code=0
  wait "$pid" || code=$?
  echo "$code" >"$scratch/exit"
}

say "starting /usr/bin/kadrillo offscreen with the virtual devices for $run_seconds s"
export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_STATE_HOME=$home/.local/state
export XDG_DATA_HOME=$home/.local/share XDG_CACHE_HOME=$home/.cache XDG_RUNTIME_DIR=$scratch/runtime
export QT_QPA_PLATFORM=offscreen KADRILLO_VIRTUAL_DEVICES=1
export scratch run_seconds
if command -v dbus-run-session >/dev/null 2>&1; then
  dbus-run-session -- bash -c "$(declare -f smoke); smoke" 2>"$scratch/dbus.log"
else
  say "dbus-run-session is missing (package dbus-daemon): the remote control is not tried"
  timeout "$run_seconds" /usr/bin/kadrillo >"$scratch/kadrillo.log" 2>&1 && code=0 || code=$?
  echo "$code" >"$scratch/exit"
  : >"$scratch/state"
  : >"$scratch/captured"
  : >"$scratch/stopped"
fi

# 4. What happened.
problems=()
code=$(cat "$scratch/exit")
state=$(cat "$scratch/state")
captured=$(cat "$scratch/captured")
stopped=$(cat "$scratch/stopped")
case $code in
  124) ended="was still running when the $run_seconds s were up (ended by timeout, exit 124)" ;;
  0)
    ended="quit by itself with status 0 before the $run_seconds s were up"
    problems+=("the program quit on its own")
    ;;
  *)
    ended="ended with status $code"
    ((code > 128)) && ended+=" (signal $((code - 128)))"
    problems+=("the program $ended")
    ;;
esac
criticals=$(grep -c -E 'CRITICAL|ERROR \*\*' "$scratch/kadrillo.log" || true)
((criticals == 0)) || problems+=("$criticals GLib critical/error line(s) in its output")

capture_text="not tried"
if command -v dbus-run-session >/dev/null 2>&1; then
  if [[ -z $state ]]; then
    problems+=("the remote control never answered --state")
  elif [[ -z $captured || $captured != "$stopped" ]]; then
    problems+=("--capture/--stop did not name one file ('$captured', '$stopped')")
    capture_text="failed"
  elif [[ ! -s $captured ]]; then
    problems+=("the capture $captured is missing or empty")
    capture_text="failed"
  elif command -v ffprobe >/dev/null 2>&1; then
    probe=$(timeout 30 ffprobe -v error -select_streams v:0 \
      -show_entries stream=codec_name,width,height:format=duration -of csv=p=0 "$captured" |
      tr '\n' ' ')
    read -r video duration <<<"$probe"
    if [[ -z ${video:-} || -z ${duration:-} ]] ||
      ! awk -v d="$duration" 'BEGIN { exit !(d > 0.5) }'; then
      problems+=("ffprobe does not read a video of some length in $captured: '$probe'")
      capture_text="unreadable"
    else
      capture_text="$(basename "$captured"): ${video//,/ } video, $duration s (ffprobe)"
    fi
  else
    capture_text="$(basename "$captured"), $(stat -c %s "$captured") bytes (ffprobe missing, not probed)"
  fi
fi

say "remote control state: ${state:-no answer}; capture: $capture_text"
say "the program $ended"
if ((${#problems[@]} > 0)); then
  echo "--- last lines of its output ($scratch/kadrillo.log):" >&2
  tail -n 20 "$scratch/kadrillo.log" >&2 || true
  if [[ -s $scratch/remote.log ]]; then
    echo "--- what the remote control said:" >&2
    cat "$scratch/remote.log" >&2
  fi
  for p in "${problems[@]}"; do echo "install-package: problem: $p" >&2; done
  die "kadrillo $version is installed but did not run as it should; scratch files kept in $scratch"
fi
rm -rf "$scratch"
say "OK: kadrillo $version installed from $(basename "$deb") and runs; remove it with: sudo apt-get remove kadrillo"
