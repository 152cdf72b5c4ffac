#!/usr/bin/env bash
# Writes a PNG of every agenda window and of the report choosers, at 1024x768, over a small demo
# installation, into docs/screens (or the folder given):
#   tools/screenshot/screenshot.sh [BUILD_DIR] [OUT_DIR]
# Runs on Qt's offscreen platform with a 1024x768 screen, so it needs no
# display and gives the same pictures on every machine.
set -euo pipefail
build=$(realpath "${1:-build}")
out=$(realpath -m "${2:-docs/screens}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$build/bin/demodata" --out Archivos --calls 500 --companies 40 --contacts 60 > /dev/null
"$build/bin/demodata" --textos --out Archivos --companies 12 > /dev/null
export NVRUN_PROFILE="$work/fonvex.ini"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
cat > screen.json <<'JSON'
{ "screens": [ { "name": "pantalla", "x": 0, "y": 0, "width": 1024, "height": 768,
                 "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1 } ] }
JSON
mkdir -p "$out"
rm -f "$out"/*.png
QT_QPA_PLATFORM="offscreen:configfile=$work/screen.json" timeout 120 \
  "$build/bin/agenda_screenshot" "$out" 2> >(grep -v propagateSizeHints >&2)
QT_QPA_PLATFORM="offscreen:configfile=$work/screen.json" timeout 120 \
  "$build/bin/fxr4_screenshot" "$out" 2> >(grep -v propagateSizeHints >&2)
