#!/usr/bin/env bash
# Installs the SDK into a temporary prefix and uses it from there as a new user would, without
# LD_LIBRARY_PATH: the installed lumora command, the Python module, the GStreamer element, and
# the examples built against the installed files twice, once with pkg-config, once with
# find_package(Lumora). Each must find the installed library by itself.
# Usage: install-test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libLumoraSdk_M5XIR_TEC.so' | head -1)")
unset LD_LIBRARY_PATH
export LUMORA_SIM_CAMERAS=1 LUMORA_CONFIG_HOME=$work/config

fail() { echo "FAIL: $*" >&2; exit 1; }
# The SDK library `$1` (a program or module) loads: the one in the prefix, nothing else.
loads_installed_library() {
    local resolved
    resolved=$(ldd "$1" | sed -n 's/.*libLumoraSdk_M5XIR_TEC[^ ]* => \([^ ]*\).*/\1/p')
    [ -n "$resolved" ] || fail "$1 does not find the SDK library: $(ldd "$1" | grep Lumora)"
    [ "$(realpath "$(dirname "$resolved")")" = "$(realpath "$libdir")" ] ||
        fail "$1 loads $resolved, not the installed library"
}

# The installed tree must not point back into the build or source tree.
if grep -rqs -e "$build" -e "$source/include" "$prefix"/lib*/pkgconfig "$prefix"/lib*/cmake; then
    fail "installed package files refer to the build or source tree"
fi

echo "== lumora from the prefix"
loads_installed_library "$prefix/bin/lumora"
"$prefix/bin/lumora" --sim 1 info >"$work/info.txt"
grep -q "sensor size      2560 x 2048" "$work/info.txt" || fail "lumora info: $(cat "$work/info.txt")"
"$prefix/bin/lumora" --sim 1 snap -b 16 "$work/lumora.png" >/dev/null
test -s "$work/lumora.png"

echo "== pkg-config"
export PKG_CONFIG_PATH=$libdir/pkgconfig
pkg-config --exists --print-errors lumora
mkdir -p "$work/pc"
for example in version snapshot; do
    # shellcheck disable=SC2046
    cc -std=c11 -Wall -Werror -o "$work/pc/$example" "$source/examples/$example.c" \
        $(pkg-config --cflags --libs lumora)
done
loads_installed_library "$work/pc/snapshot"
"$work/pc/version"
"$work/pc/snapshot" "$work/pc/frame.png"
test -s "$work/pc/frame.png"

echo "== find_package"
cmake -S "$source/tests/install/consumer" -B "$work/cm" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DEXAMPLES_DIR="$source/examples" >/dev/null
cmake --build "$work/cm" >/dev/null
loads_installed_library "$work/cm/snapshot"
"$work/cm/version"
"$work/cm/snapshot" "$work/cm/frame.png"
test -s "$work/cm/frame.png"

echo "== lumora-viewer from the prefix"
loads_installed_library "$prefix/bin/lumora-viewer"
"$prefix/bin/lumora-viewer" --help | grep -q -- "--sim"
test -s "$prefix/share/locale/ja/LC_MESSAGES/lumora-viewer.mo"
test -s "$prefix/share/applications/lumora-viewer.desktop"
echo "== python from the prefix"
# Debian's interpreter, the one with python3-numpy, as the README says.
pythonpath=$(dirname "$(find "$prefix" -path '*/lumora/__init__.py' | head -1)")/..
PYTHONPATH=$pythonpath /usr/bin/python3 - "$libdir" <<'EOF'
import os, sys
import lumora
assert os.path.dirname(os.path.realpath(lumora.library()._name)) == os.path.realpath(sys.argv[1]), \
    lumora.library()._name
assert lumora.device_count(sim=1) == 1
with lumora.Camera(sim=1) as cam:
    cam.bit_depth = 16
    frame = cam.snap()
    assert frame.shape == (2048, 2560) and frame.max() > 0, (frame.shape, frame.max())
print("python binding works from the prefix")
EOF

plugin=$(find "$prefix" -name libgstlumora.so | head -1)
if [ -z "$plugin" ]; then
    echo "== GStreamer element: not built (no GStreamer development files), not tested"
else
    echo "== GStreamer element from the prefix"
    command -v gst-launch-1.0 >/dev/null || fail "gst-launch-1.0 is missing (gstreamer1.0-tools)"
    loads_installed_library "$plugin"
    GST_PLUGIN_PATH=$(dirname "$plugin") GST_REGISTRY=$work/registry.bin \
        gst-launch-1.0 -q lumorasrc num-buffers=3 width=320 height=240 ! fakesink \
        || fail "gst-launch-1.0 with the installed lumorasrc"
fi
echo "installed SDK works without LD_LIBRARY_PATH"
