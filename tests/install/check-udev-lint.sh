#!/usr/bin/env bash
# The udev rule checker must accept Kadrillo's rule and refuse it once broken
# in the ways a hand edit breaks rules, each with the problem named, or the
# install checks that rely on it would pass anything.
#
# Usage: check-udev-lint.sh SOURCE_DIR BUILD_DIR
set -uo pipefail

src=${1:?usage: check-udev-lint.sh SOURCE_DIR BUILD_DIR}
build=${2:?usage: check-udev-lint.sh SOURCE_DIR BUILD_DIR}
lint=$src/tests/install/lint-udev-rules.sh
rule=$src/data/60-kadrillo-firewire.rules

scratch=$(mktemp -d "$build/udev-lint.XXXXXX") || exit 1
trap 'rm -rf "$scratch"' EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

out=$(timeout 30 "$lint" "$rule" 2>&1) || fail "the shipped rule is refused: $out"

# NAME  SED-EXPRESSION  WORDS-THE-REPORT-MUST-HOLD
while IFS='|' read -r name expr expected; do
  broken=$scratch/$name.rules
  sed -e "$expr" "$rule" >"$broken"
  if cmp -s "$rule" "$broken"; then
    fail "$name: the edit '$expr' changed nothing (the rule's text moved on)"
    continue
  fi
  if out=$(timeout 30 "$lint" "$broken" 2>&1); then
    fail "$name: accepted"
  elif [[ $out != *"$expected"* ]]; then
    fail "$name: refused, but the report does not say '$expected': $out"
  fi
done <<'EOF'
assigned-match-key|s/SUBSYSTEM!="firewire"/SUBSYSTEM="firewire"/|SUBSYSTEM cannot be assigned with =
matched-assignment|s/GROUP="video"/GROUP=="video"/|GROUP cannot be matched with ==
missing-comma|s/ENV{IEEE1394_UNIT_FUNCTION_VIDEO}!="?\*", /ENV{IEEE1394_UNIT_FUNCTION_VIDEO}!="?*" /|expected a comma
unknown-group|s/GROUP="video"/GROUP="vidoe"/|GROUP "vidoe" is not a group
unquoted-value|s/MODE="0660"/MODE=0660/|MODE: the value must be in double quotes
bad-mode|s/MODE="0660"/MODE="rw-rw----"/|is not octal
misspelt-label|s/^LABEL="kadrillo_firewire_end"/LABEL="kadrillo_firewire_done"/|has no LABEL after it
unknown-key|s/ATTR{units}==/ATRR{units}==/|unknown key ATRR
env-without-name|s/ENV{IEEE1394_UNIT_FUNCTION_MIDI}!=/ENV!=/|ENV needs an {attribute}
dangling-backslash|$s/$/ \\/|ends in a backslash
EOF

if ((failures > 0)); then
  echo "$failures udev checker case(s) failed" >&2
  exit 1
fi
echo "udev rule checker: the rule passes, every broken variant is refused"
