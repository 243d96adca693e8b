#!/usr/bin/env bash
# Builds the Debian packages from a build tree, unpacks them into a clean folder with dpkg -x
# and runs the lumora command from there against a simulated camera.
# Usage: package-test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$build" && cpack -G DEB -B "$work/dist" >"$work/cpack.log" 2>&1) || {
    cat "$work/cpack.log" >&2
    exit 1
}
shopt -s nullglob
debs=("$work"/dist/*.deb)
[ ${#debs[@]} -ge 4 ] || { echo "expected at least 4 packages, got ${#debs[@]}" >&2; exit 1; }
root=$work/root
for deb in "${debs[@]}"; do
    echo "$(dpkg-deb -f "$deb" Package): $(dpkg-deb -f "$deb" Depends)"
    dpkg -x "$deb" "$root"
done
# The tools and the headers need exactly the library package of the same version.
version=$(dpkg-deb -f "$work"/dist/liblumorasdk2_*.deb Version)
grep -q "liblumorasdk2 (= $version)" <<<"$(dpkg-deb -f "$work"/dist/lumora-tools_*.deb Depends)"
grep -q "liblumorasdk2 (= $version)" <<<"$(dpkg-deb -f "$work"/dist/liblumorasdk-dev_*.deb Depends)"
# The library's own dependencies were computed, not left empty.
grep -q "libusb-1.0-0" <<<"$(dpkg-deb -f "$work"/dist/liblumorasdk2_*.deb Depends)"
# The development link resolves to the library package's file.
link=$(find "$root" -name 'libLumoraSdk_M5XIR_TEC.so' | head -1)
[ -e "$link" ] || { echo "dangling development link" >&2; exit 1; }
# The unpacked programs find the unpacked library by their own run path.
unset LD_LIBRARY_PATH
export LUMORA_CONFIG_HOME=$work/config
"$root/usr/bin/lumora" --sim 1 info | tee "$work/info.txt"
grep -q "serial number    LUM00001" "$work/info.txt"
# The viewer comes with the tools, with its translations, and needs GTK.
"$root/usr/bin/lumora-viewer" --help | grep -q -- "--sim"
test -s "$root/usr/share/locale/ja/LC_MESSAGES/lumora-viewer.mo"
grep -q "libgtk-3-0" <<<"$(dpkg-deb -f "$work"/dist/lumora-tools_*.deb Depends)"
# The Python binding from the unpacked tree finds the unpacked library.
PYTHONPATH=$root/usr/lib/python3/dist-packages /usr/bin/python3 -c \
    'import lumora; assert lumora.device_count(sim=1) == 1; print("python binding works")'
echo "packages unpack and run"
# The GStreamer element, where it was built, loads from the unpacked tree.
if ls "$work"/dist/gstreamer1.0-lumora_*.deb >/dev/null 2>&1 && command -v gst-inspect-1.0 >/dev/null; then
    GST_PLUGIN_PATH=$(dirname "$(find "$root" -name libgstlumora.so | head -1)") \
        GST_REGISTRY=$work/registry.bin gst-inspect-1.0 lumorasrc >"$work/inspect.txt"
    grep -q "Lumora camera source" "$work/inspect.txt"
    echo "GStreamer element loads"
fi
