#!/bin/sh
# The Windows command writes the same files as the Linux one: one frame of a simulated camera,
# still (no moving element), saved in every format by both and compared byte for byte.
# Usage: snap-identical.sh WINE LUMORA.EXE LINUX-LUMORA FOLDER
wine="$1" windows="$2" linux="$3" dir="$4"
if [ ! -x "$linux" ]; then
  echo "no Linux command at $linux (build the default preset first): skipped"
  exit 77
fi
rm -rf "$dir" && mkdir -p "$dir/windows" "$dir/linux" "$dir/config-windows" "$dir/config-linux"
set -- frame.bmp frame.raw frame.png frame.tif frame.jpg wide.png deep.tif
snap() {  # FOLDER COMMAND...: the same frames of the same still camera, in every format
  out="$1"; shift
  (cd "$out" && "$@" --sim 1 snap -b 8 frame.bmp frame.raw frame.png frame.tif frame.jpg &&
    "$@" --sim 1 snap -b 16 -w 96,60,640,480 deep.tif &&
    "$@" --sim 1 snap --scale -b 16 wide.png)
}
LUMORA_SIM_STATIC=1 LUMORA_CONFIG_HOME="$dir/config-linux" snap "$dir/linux" "$linux" || exit 1
# Settings the runs keep go to a registry key of this test (Wine passes the variable on).
LUMORA_SIM_STATIC=1 LUMORA_REGISTRY_ROOT="Software\\LumoraTests\\snap-$$" \
  snap "$dir/windows" "$wine" "$windows" || exit 1
"$wine" reg delete "HKCU\\Software\\LumoraTests\\snap-$$" /f >/dev/null 2>&1
status=0
for name in "$@"; do
  if cmp "$dir/linux/$name" "$dir/windows/$name"; then
    echo "$name: identical ($(wc -c <"$dir/linux/$name") bytes)"
  else
    status=1
  fi
done
exit $status
