#!/usr/bin/env bash
# Installs the SDK into a temporary prefix and builds the examples against the installed files
# twice, as applications do: once with pkg-config, once with find_package(Lumora). Both builds run.
# Usage: install-test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libLumoraSdk_M5XIR_TEC.so' | head -1)")
export LUMORA_SIM_CAMERAS=1 LUMORA_CONFIG_HOME=$work/config
export LD_LIBRARY_PATH=$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}

# The installed tree must not point back into the build or source tree.
if grep -rqs -e "$build" -e "$source/include" "$prefix"/lib*/pkgconfig "$prefix"/lib*/cmake; then
    echo "installed package files refer to the build or source tree" >&2
    exit 1
fi

echo "== pkg-config"
export PKG_CONFIG_PATH=$libdir/pkgconfig
pkg-config --exists --print-errors lumora
mkdir -p "$work/pc"
for example in version snapshot; do
    # shellcheck disable=SC2046
    cc -std=c11 -Wall -Werror -o "$work/pc/$example" "$source/examples/$example.c" \
        $(pkg-config --cflags --libs lumora)
done
"$work/pc/version"
"$work/pc/snapshot" "$work/pc/frame.png"
test -s "$work/pc/frame.png"

echo "== find_package"
cmake -S "$source/tests/install/consumer" -B "$work/cm" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DEXAMPLES_DIR="$source/examples" >/dev/null
cmake --build "$work/cm" >/dev/null
"$work/cm/version"
"$work/cm/snapshot" "$work/cm/frame.png"
test -s "$work/cm/frame.png"

echo "== lumora from the prefix"
"$prefix/bin/lumora" --sim 1 info >"$work/info.txt"
grep -q "sensor size      2560 x 2048" "$work/info.txt"
echo "== lumora-viewer from the prefix"
"$prefix/bin/lumora-viewer" --help | grep -q -- "--sim"
test -s "$prefix/share/locale/ja/LC_MESSAGES/lumora-viewer.mo"
test -s "$prefix/share/applications/lumora-viewer.desktop"
echo "== python from the prefix"
PYTHONPATH=$prefix/lib/python3/dist-packages python3 -c \
    'import lumora; assert lumora.device_count(sim=1) == 1; print("python binding works")'
echo "installed SDK works with pkg-config and find_package"
