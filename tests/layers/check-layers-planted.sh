#!/usr/bin/env bash
# The layer checker must pass Kadrillo's tree and refuse a copy of it with one
# forbidden include planted, naming the file and the include, or the layer
# check of ./test would pass anything.
#
# Usage: check-layers-planted.sh SOURCE_DIR BUILD_DIR [QT_WIDGETS_INCLUDE_DIR]
set -uo pipefail

root=${1:?usage: check-layers-planted.sh SOURCE_DIR BUILD_DIR [QT_WIDGETS_INCLUDE_DIR]}
build=${2:?usage: check-layers-planted.sh SOURCE_DIR BUILD_DIR [QT_WIDGETS_INCLUDE_DIR]}
widgets=(${3:+"$3"})
check=$root/scripts/check-layers.sh

scratch=$(mktemp -d "$build/layers.XXXXXX") || exit 1
trap 'rm -rf "$scratch"' EXIT
cp -r "$root/src" "$scratch/src" || exit 1

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

out=$(timeout 60 "$check" "$scratch" "${widgets[@]}" 2>&1) || fail "the tree as it is is refused: $out"

# NAME | FILE (under src/) | LINE ADDED | accept or refuse
# A FILE named probe_* is created with that one line; any other must exist.
while IFS='|' read -r name file line verdict; do
  target=$scratch/src/$file
  if [[ -e $target ]]; then
    cp "$target" "$scratch/saved"
    existed=1
  elif [[ ${file##*/} != probe_* ]]; then
    fail "$name: src/$file is gone (the tree moved on)"
    continue
  else
    existed=0
  fi
  printf '%s\n' "$line" >>"$target"
  if out=$(timeout 60 "$check" "$scratch" "${widgets[@]}" 2>&1); then
    [[ $verdict == refuse ]] && fail "$name: accepted"
  elif [[ $verdict == accept ]]; then
    fail "$name: refused: $out"
  elif [[ $out != *"src/$file:"* ]]; then
    fail "$name: refused, but the report does not name src/$file: $out"
  else
    inc=${line#*include }
    inc=${inc#[\"<]}
    inc=${inc%[\">]}
    [[ $out == *"$inc"* ]] || fail "$name: refused, but the report does not name $inc: $out"
  fi
  if ((existed)); then
    mv "$scratch/saved" "$target"
  else
    rm -f "$target"
  fi
done <<'EOF'
element-sees-virtual|elements/smart_tee.cpp|#include "virtual/virtual_src.h"|refuse
element-sees-graph|elements/smart_tee.cpp|#include "graph/dm_cam.h"|refuse
element-sees-settings|elements/smart_tee.cpp|#include "settings/preferences.h"|refuse
element-uses-qt|elements/smart_tee.cpp|#include <QString>|refuse
dv-sees-elements|media/dv/dv_packs.cpp|#include "elements/avi_writer.h"|refuse
dv-uses-qt|media/dv/dv_packs.cpp|#include <QByteArray>|refuse
virtual-sees-graph|virtual/virtual_tap.cpp|#include "graph/dm_cam.h"|refuse
plugin-sees-virtual|plugins/gstkadrillo.cpp|#include "virtual/virtual_plugin.h"|refuse
program-sees-virtual|app/program.cpp|#include "virtual/virtual_device_provider.h"|refuse
graph-sees-app|graph/dm_cam.cpp|#include "app/program.h"|refuse
graph-sees-panel|graph/dm_cam.cpp|#include "ui/grab_panel.h"|refuse
graph-sees-session|graph/dm_cam.cpp|#include "session/schedule.h"|refuse
session-sees-ui|session/schedule.cpp|#include "ui/capture_form.h"|refuse
ui-sees-app|ui/capture_form.cpp|#include "app/program.h"|refuse
devices-see-graph|system/devices/video_sources.cpp|#include "graph/dm_cam.h"|refuse
core-sees-media|settings/naming.cpp|#include "platform/media/beeps.h"|refuse
registry-sees-log|platform/os/registry.cpp|#include "system/log.h"|refuse
log-uses-widget|system/log.cpp|#  include  <QLabel>|refuse
session-uses-widgets-module|session/schedule.cpp|#include <QtWidgets/QPushButton>|refuse
session-uses-widgets-all|session/schedule.cpp|#include <QtWidgets>|refuse
new-graph-file-uses-widget|graph/probe_source.cpp|#include <QDialog>|refuse
new-graph-panel-uses-widget|graph/probe_panel.cpp|#include <QDialog>|refuse
graph-uses-gui-action|graph/dm_cam.cpp|#include <QAction>|accept
session-sees-graph|session/schedule.cpp|#include "graph/dm_cam.h"|accept
virtual-sees-elements|virtual/virtual_tap.cpp|#include "media/dv/dv_packs.h"|accept
ui-sees-session|ui/capture_form.cpp|#include "session/stills.h"|accept
EOF

if ((failures > 0)); then
  echo "$failures layer checker case(s) failed" >&2
  exit 1
fi
echo "layer checker: the tree passes, every planted upward include is refused"
