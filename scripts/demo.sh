#!/usr/bin/env bash
# Installs what is missing, builds Varlow and opens the GUI on the bundled sample stream. Without a
# display it prints the sample's pack list and the first header trees with varlow-cli instead.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
[ "${VARLOW_SKIP_INSTALL:-0}" = 1 ] || scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
sample="$top/samples/sample.m2v"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/src/varlow "$sample"
fi
echo "No display: the sample's first packs and header trees, as the window would show them."
build/cli/varlow-cli packs "$sample" --rows 20
for off in $(build/cli/varlow-cli packs "$sample" --rows 3 --json | grep -o '"offset":[0-9]*' | cut -d: -f2); do
  echo; echo "== headers of the pack at offset $off =="
  build/cli/varlow-cli headers "$sample" --offset "$off"
done
