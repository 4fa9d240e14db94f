#!/usr/bin/env bash
# The same conversion through the window shown under a display (Xvfb at 96 dpi) and hidden offscreen.
set -euo pipefail
lines=${1:-30000}
build=${BUILD:-$(dirname "$0")/../build}
hidden=$(env -u DISPLAY -u WAYLAND_DISPLAY "$build/bench/window_bench" hidden "$lines" 2>/dev/null)
shown=$(xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" "$build/bench/window_bench" shown "$lines" 2>/dev/null)
echo "$hidden"
echo "$shown"
awk -v a="$(echo "$shown" | awk '{print $6}')" -v b="$(echo "$hidden" | awk '{print $6}')" \
    'BEGIN { printf "shown / hidden: %.2fx\n", a / b }'
