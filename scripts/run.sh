#!/usr/bin/env bash
# make run: the agenda over the embedded default data in ./Archivos (created
# with the demo-data tool when empty). Before the agenda exists in this tree,
# it shows the file drivers the runtime finds.
set -euo pipefail
build=${1:-build}
bin="$build/bin"
if [ -x "$bin/agenda" ]; then
  if [ ! -d Archivos ] || [ -z "$(ls -A Archivos 2>/dev/null)" ]; then
    if [ -x "$bin/demodata" ]; then "$bin/demodata" --out Archivos; fi
  fi
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No hay pantalla disponible. Para usar la agenda sin pantalla:"
    echo "  xvfb-run -a $bin/agenda"
    exit 0
  fi
  exec "$bin/agenda"
fi
exec "$bin/nvdrivers"
