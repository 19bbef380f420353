#!/usr/bin/env bash
# Refuses includes that point up Kadrillo's library order, so that the
# elements stay plain GStreamer, the graph and everything below it build and
# run without a window, and the virtual devices never reach the shipped
# program except through the one registration call at its start.
#
# Usage: check-layers.sh SOURCE_DIR [QT_WIDGETS_INCLUDE_DIR]
#   SOURCE_DIR              the tree holding src/
#   QT_WIDGETS_INCLUDE_DIR  the installed QtWidgets header folder (default:
#                           Debian's /usr/include/x86_64-linux-gnu/qt6/QtWidgets)
#
# Files go to libraries by folder, as CMakeLists.txt builds them. Prints one
# line per forbidden include and exits 1, or prints a summary and exits 0.
set -uo pipefail

root=${1:?usage: check-layers.sh SOURCE_DIR [QT_WIDGETS_INCLUDE_DIR]}
widgets_dir=${2:-/usr/include/x86_64-linux-gnu/qt6/QtWidgets}
src=$root/src

if [[ ! -d $src ]]; then
  echo "check-layers: $src is not a folder" >&2
  exit 2
fi
if [[ ! -d $widgets_dir ]]; then
  echo "check-layers: no QtWidgets headers in $widgets_dir (pass the folder as second argument)" >&2
  exit 2
fi

# Qt Widgets headers by name. The QtWidgets folder also keeps forwarding
# headers for classes that moved to Qt Gui (QAction, QShortcut...); those
# are Gui and allowed below the user interface.
declare -A widget_header=()
qt_parent=$(dirname "$widgets_dir")
for h in "$widgets_dir"/*; do
  name=${h##*/}
  [[ -e $qt_parent/QtGui/$name || -e $qt_parent/QtCore/$name ]] && continue
  widget_header[$name]=1
done
widget_header[QtWidgets]=1

# Includes across the order that stay, "FILE -> INCLUDED" (relative to src/).
# The program's start-up registers the virtual devices when
# KADRILLO_VIRTUAL_DEVICES is set; nothing else shipped may see them.
declare -A permitted=(
  ["app/main.cpp -> virtual/virtual_plugin.h"]=1
)
# Known upward includes waiting to be undone, in the same form, each with
# why it is still there. An entry that no longer matches fails the check,
# so the list only shrinks.
declare -A known_exception=()
declare -A exception_used=()

# layer_of PATH (relative to src/) -> the library part it belongs to.
layer_of() {
  case $1 in
    app/*) layer=app ;;
    ui/*) layer=ui ;;
    session/*) layer=session ;;
    platform/os/*) layer=os ;;
    system/devices/*) layer=devices ;;
    system/*) layer=system ;;
    settings/*) layer=settings ;;
    media/dv/*) layer=dv ;;
    elements/*) layer=elements ;;
    virtual/*) layer=virtual ;;
    plugins/*) layer=plugins ;;
    platform/media/gst_ptr.h) layer=gst_ptr ;;
    platform/media/*) layer=media_platform ;;
    graph/*) layer=graph ;;
    *) layer=unknown ;;
  esac
}

# What each part may include besides itself. gst_ptr.h is the header-only
# set of GStreamer reference wrappers, usable from the elements up.
core="os system settings"
declare -A allowed=(
  [os]="gst_ptr"
  [system]="os gst_ptr"
  [settings]="os system gst_ptr"
  [dv]=""
  [elements]="dv gst_ptr"
  [virtual]="elements dv gst_ptr"
  [plugins]="elements dv gst_ptr"
  [media_platform]="$core elements dv gst_ptr"
  [devices]="$core elements dv gst_ptr media_platform"
  [graph]="$core elements dv gst_ptr media_platform devices"
  [session]="$core elements dv gst_ptr media_platform devices graph"
  [ui]="$core elements dv gst_ptr media_platform devices graph session"
  [app]="$core elements dv gst_ptr media_platform devices graph session ui"
  [gst_ptr]=""
)
# The layers that may use Qt Widgets.
declare -A widgets_ok=([ui]=1 [app]=1)
# Parts that are GStreamer only: no Qt header at all.
declare -A no_qt=([dv]=1 [elements]=1 [virtual]=1 [plugins]=1 [gst_ptr]=1)

violations=0
checked=0
report() {
  echo "$1:$2: $3" >&2
  violations=$((violations + 1))
}

# Every include line as "FILE:LINE:TEXT", FILE relative to src/.
while IFS= read -r hit; do
  rel=${hit%%:*}
  rest=${hit#*:}
  n=${rest%%:*}
  line=${rest#*:}
  [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*([\"\<])([^\"\>]+)[\"\>] ]] || continue
  checked=$((checked + 1))
  kind=${BASH_REMATCH[1]}
  inc=${BASH_REMATCH[2]}
  layer_of "$rel"
  from=$layer
  if [[ $kind == "<" ]]; then
    base=${inc#QtWidgets/}
    if [[ -z ${widgets_ok[$from]+x} && ( -n ${widget_header[$base]+x} || $inc == QtWidgets/* ) ]]; then
      report "src/$rel" "$n" "<$inc> is a Qt Widgets header, only the user interface (src/ui) and the program's assembly (src/app) may include it"
    elif [[ -n ${no_qt[$from]+x} && $inc =~ ^Q ]]; then
      report "src/$rel" "$n" "<$inc>: $from code is GStreamer only, no Qt"
    fi
    continue
  fi
  # Quoted includes are rooted at src/, or beside the including file.
  if [[ -e $src/$inc ]]; then
    target=$inc
  elif [[ -e $src/$(dirname "$rel")/$inc ]]; then
    target=$(dirname "$rel")/$inc
  else
    continue
  fi
  layer_of "$target"
  to=$layer
  [[ $to == "$from" ]] && continue
  key="$rel -> $target"
  [[ -n ${permitted[$key]+x} ]] && continue
  if [[ -n ${known_exception[$key]+x} ]]; then
    exception_used[$key]=1
    continue
  fi
  if [[ " ${allowed[$from]-} " != *" $to "* ]]; then
    report "src/$rel" "$n" "\"$inc\" ($to) is above or beside $from, which may include only: ${allowed[$from]:-itself}"
  fi
done < <(cd "$src" && grep -rnE '^[[:space:]]*#[[:space:]]*include' \
  --include='*.cpp' --include='*.h' --include='*.c' --include='*.inc' . | sed 's#^\./##' | sort)

for key in "${!known_exception[@]}"; do
  if [[ -z ${exception_used[$key]+x} ]]; then
    echo "check-layers: the known exception \"$key\" no longer occurs; remove it from $0" >&2
    violations=$((violations + 1))
  fi
done

if ((violations > 0)); then
  echo "check-layers: $violations forbidden include(s)" >&2
  exit 1
fi
echo "check-layers: $checked includes follow the library order"
