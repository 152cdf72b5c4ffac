#!/usr/bin/env bash
# make demo: writes a demo installation into ./Archivos with the demo-data
# tool (DEMO_CALLS calls). Refuses to overwrite an existing ./Archivos unless
# FORCE=1.
set -euo pipefail
build=${1:-build}
calls=${2:-100000}
force=${3:-}
if [ ! -x "$build/bin/demodata" ]; then
  echo "La herramienta de datos de demostración todavía no está construida."
  exit 1
fi
args=(--out Archivos --calls "$calls")
[ "$force" = 1 ] && args+=(--force)
exec "$build/bin/demodata" "${args[@]}"
