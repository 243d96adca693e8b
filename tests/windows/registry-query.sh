#!/bin/sh
# Settings the DLL keeps appear in the registry as the design names them: the example program
# opens one simulated camera and releases it, then Wine's own reg.exe reads the keys back.
# Usage: registry-query.sh <wine64> <example_snapshot.exe> <output folder>
set -eu
wine=$1 program=$2 out=$3
root='Software\LumoraTests\registry-query'
product="HKCU\\$root\\Software\\Quenta\\LumoraM5XIRTEC3T2Sdk\\Camera_00"
mkdir -p "$out"
"$wine" reg.exe delete "HKCU\\$root" /f >/dev/null 2>&1 || true
LUMORA_REGISTRY_ROOT=$root LUMORA_SIM_CAMERAS=1 "$wine" "$program" "$out/registry-query.png"

fail=0
expect() {  # key below Camera_00, value name, type, data
  line=$("$wine" reg.exe query "$product$1" /v "$2" 2>/dev/null | tr -d '\r' | grep -E "^ +$2 " || true)
  if echo "$line" | grep -Eq "^ +$2 +$3 +$4\$"; then
    echo "ok: $1 $2 $3 $4"
  else
    echo "FAIL: $1 $2: expected $3 $4, found '${line:-nothing}'"
    fail=1
  fi
}
expect '\Size_00' TH REG_DWORD 0xa00
expect '\Size_00' TV REG_DWORD 0x800
expect '\Size_00' Buf REG_DWORD 0x4
expect '' Size REG_DWORD 0x0
expect '\Gray' Mode REG_DWORD 0x0
expect '\Gray' GainR1 REG_DWORD 0x80
expect '\Filter' Gamma REG_DWORD 0x64
expect '\Gain' Global REG_DWORD '0x[0-9a-f]+'
expect '\Gain' ExposureEx REG_BINARY '[0-9A-F]{16}'
"$wine" reg.exe delete "HKCU\\$root" /f >/dev/null 2>&1 || true
exit $fail
