#!/usr/bin/env bash
# Writes a PNG of the agenda's main window over a small demo installation.
#   tools/screenshot/screenshot.sh [BUILD_DIR] [OUT.png] [TAB]
# Runs under Xvfb when xvfb-run is installed, else on Qt's offscreen platform.
set -euo pipefail
build=$(realpath "${1:-build}")
out=$(realpath -m "${2:-agenda.png}")
tab=${3:-1}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$build/bin/demodata" --out Archivos --calls 2000 --companies 120 --contacts 160 > /dev/null
export NVRUN_PROFILE="$work/fonvex.ini"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
if command -v xvfb-run > /dev/null; then
  timeout 60 xvfb-run -a -s "-screen 0 1024x768x24" "$build/bin/agenda_screenshot" "$out" 1 "$tab"
else
  QT_QPA_PLATFORM=offscreen timeout 60 "$build/bin/agenda_screenshot" "$out" 1 "$tab"
fi
