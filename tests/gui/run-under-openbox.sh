#!/usr/bin/env bash
# Runs the window geometry test on a display of its own: Xvfb on a free display number, openbox as the
# window manager, once for each scale and desktop font size. The desktop's scale is set as a desktop
# sets it, through the Xft.dpi resource (96, 120 and 144 dpi give scales 1, 1.25 and 1.5); the font
# size reaches the test as the application font a platform theme would set. Cleans up whatever it started.
#   run-under-openbox.sh TEST_PROGRAM
set -euo pipefail
program=$1
for tool in Xvfb openbox xprop; do
    command -v "$tool" >/dev/null || { echo "missing $tool (Debian packages xvfb, openbox, x11-utils)" >&2; exit 1; }
done

scratch=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$scratch"
}
trap cleanup EXIT

# A display number nobody holds: no lock file and no socket. Another program may take the same number
# at the same moment; then Xvfb ends at once and the next number is tried.
display=""
for n in $(seq 90 190); do
    [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ] || continue
    # -noreset keeps the root window's resources between the test's connections.
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset >"$scratch/xvfb.log" 2>&1 &
    xvfb=$!
    for _ in $(seq 100); do
        DISPLAY=":$n" xprop -root >/dev/null 2>&1 && break
        kill -0 "$xvfb" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$xvfb" 2>/dev/null && DISPLAY=":$n" xprop -root >/dev/null 2>&1; then
        pids+=("$xvfb")
        display=$n
        break
    fi
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
done
[ -n "$display" ] || { echo "could not start Xvfb on a free display" >&2; cat "$scratch/xvfb.log" >&2; exit 1; }
export DISPLAY=":$display"

export HOME="$scratch" XDG_CONFIG_HOME="$scratch/config" XDG_RUNTIME_DIR="$scratch/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
openbox >"$scratch/openbox.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done

unset WAYLAND_DISPLAY QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_FONT_DPI QT_AUTO_SCREEN_SCALE_FACTOR
status=0
for case in "96 1 9" "96 1 10" "96 1 11" "120 1.25 10" "144 1.5 9" "144 1.5 10" "144 1.5 11"; do
    set -- $case
    xprop -root -format RESOURCE_MANAGER 8s -set RESOURCE_MANAGER "$(printf 'Xft.dpi:\t%s\n' "$1")"
    echo "== Xft.dpi $1 (scale $2), desktop font $3 pt"
    QT_QPA_PLATFORM=xcb TOLLAVAR_EXPECTED_SCALE=$2 TOLLAVAR_DESKTOP_FONT_POINTS=$3 "$program" \
        --gtest_filter='*TextAtTheDesktopSize*' || status=1
done
xprop -root -format RESOURCE_MANAGER 8s -set RESOURCE_MANAGER "$(printf 'Xft.dpi:\t96\n')"
echo "== the window over restarts and its folder chooser, at scale 1"
QT_QPA_PLATFORM=xcb "$program" --gtest_filter='*OverRestarts*:*FolderChooser*' || status=1
exit $status
