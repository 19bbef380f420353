#!/usr/bin/env bash
# Reads udev rules files the way udev's parser does and reports what it would
# ignore or refuse, since Debian 12's udevadm has no command that checks a file
# without installing it. Each rule is a comma-separated list of KEY OP "VALUE"
# (lines joined where they end in a backslash); a match key takes == or !=,
# an assignment key =, +=, -= or := (PROGRAM, like udev, either); keys that
# carry an {attribute} must have one; every GOTO needs a LABEL further down;
# GROUP must name a group this system knows and MODE must be octal.
#
# Usage: lint-udev-rules.sh FILE...   (exit status 1 and one line per problem)
set -uo pipefail

(($# > 0)) || {
  echo "usage: lint-udev-rules.sh FILE..." >&2
  exit 2
}

status=0
for file in "$@"; do
  if [[ ! -r $file ]]; then
    echo "$file: cannot be read" >&2
    status=1
    continue
  fi
  groups=$(getent group | cut -d: -f1 | tr '\n' ' ')
  if ! awk -v file="$file" -v groups=" $groups" '
    function problem(text) {
      printf "%s:%d: %s\n", file, start, text > "/dev/stderr"
      bad = 1
    }
    # Key name -> kind: m match only, a assignment only, b both.
    BEGIN {
      split("ACTION DEVPATH KERNEL KERNELS SUBSYSTEM SUBSYSTEMS DRIVER DRIVERS ATTRS TAGS CONST TEST RESULT", m)
      for (i in m) kind[m[i]] = "m"
      split("OWNER GROUP MODE SECLABEL RUN LABEL GOTO IMPORT OPTIONS", a)
      for (i in a) kind[a[i]] = "a"
      split("NAME SYMLINK ATTR SYSCTL TAG ENV PROGRAM", both)
      for (i in both) kind[both[i]] = "b"
      split("ATTR ATTRS SYSCTL ENV CONST SECLABEL", n)
      for (i in n) needsArg[n[i]] = 1
      split("TEST RUN IMPORT", o)
      for (i in o) mayArg[o[i]] = 1
    }
    {
      line = $0
      if (rule == "") start = NR
      if (line ~ /\\$/) {
        rule = rule substr(line, 1, length(line) - 1)
        next
      }
      rule = rule line
      text = rule
      rule = ""
      sub(/^[ \t]+/, "", text)
      if (text == "" || text ~ /^#/) next
      check(text)
    }
    function check(text,    key, arg, op, value, sep) {
      while (text != "") {
        if (!match(text, /^[A-Z_]+/)) { problem("expected a key at \"" text "\""); return }
        key = substr(text, 1, RLENGTH); text = substr(text, RLENGTH + 1)
        arg = ""
        if (text ~ /^\{/) {
          if (!match(text, /^\{[^}]*\}/)) { problem(key ": unclosed {"); return }
          arg = substr(text, 2, RLENGTH - 2); text = substr(text, RLENGTH + 1)
          if (arg == "") problem(key ": empty {}")
        }
        if (!(key in kind)) problem("unknown key " key)
        else if (arg == "" && (key in needsArg)) problem(key " needs an {attribute}")
        else if (arg != "" && !(key in needsArg) && !(key in mayArg)) problem(key " takes no {attribute}")
        sub(/^[ \t]+/, "", text)
        if (!match(text, /^(==|!=|\+=|-=|:=|=)/)) { problem(key ": expected an operator"); return }
        op = substr(text, 1, RLENGTH); text = substr(text, RLENGTH + 1)
        sub(/^[ \t]+/, "", text)
        if (!match(text, /^e?"([^"\\]|\\.)*"/)) { problem(key ": the value must be in double quotes"); return }
        value = substr(text, 1, RLENGTH); text = substr(text, RLENGTH + 1)
        sub(/^e?"/, "", value); sub(/"$/, "", value)
        if (key in kind) {
          if ((op == "==" || op == "!=") && kind[key] == "a") problem(key " cannot be matched with " op)
          if (op != "==" && op != "!=" && kind[key] == "m") problem(key " cannot be assigned with " op)
        }
        if (key == "GOTO") gotos[value] = start
        if (key == "LABEL") delete gotos[value]
        if (key == "GROUP" && op != "==" && index(groups, " " value " ") == 0 && value !~ /^[0-9]+$/)
          problem("GROUP \"" value "\" is not a group of this system")
        if (key == "MODE" && value !~ /^0?[0-7][0-7][0-7]$/) problem("MODE \"" value "\" is not octal")
        sub(/^[ \t]+/, "", text)
        if (text == "") break
        if (text !~ /^,/) { problem("expected a comma before \"" text "\""); return }
        text = substr(text, 2); sub(/^[ \t]+/, "", text)
        if (text == "") problem("trailing comma")
      }
    }
    END {
      if (rule != "") { start = NR; problem("the last line ends in a backslash") }
      for (g in gotos) { start = gotos[g]; problem("GOTO \"" g "\" has no LABEL after it") }
      exit bad
    }
  ' "$file"; then
    status=1
  fi
done
exit $status
