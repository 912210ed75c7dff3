#!/bin/bash
# check-binary.sh CHECK EXE: one check of a shipped program.
#   imports    it imports statically only kernel32 and the C runtime (msvcrt),
#              both served from System32 only, so no DLL beside the program is
#              loaded before it can forbid that; SetDefaultDllDirectories, which
#              forbids it, is looked up at run time, not imported, so a Windows
#              without it still starts the program.
#   resources  the manifest and the version resource are embedded, both of
#              the build's version.
#   size       stripped, it is at most 160 KB.
#              An Authenticode signature, dropped by stripping, is counted in.
#   action-imports  a custom action DLL, run inside the installer's process,
#              imports kernel32, the C runtime and msi.dll and nothing else.
#   exports    the custom actions are exported under their plain names.
#   version    the version resource is embedded, of the build's version (a
#              DLL has no manifest).
# OBJDUMP, OBJCOPY and STRIP name the toolchain's binutils; SETUP_VERSION is
# the version the build gave the programs (four numbers).
set -euo pipefail
: "${SETUP_VERSION:?the version the build gave the programs}"
check=$1
exe=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

name=$(basename "$exe")

# Known DLLs: the loader never looks for them in the program's folder.
allowed_dll='^(kernel32|msvcrt)\.dll$'

# resource TYPE NAME: the data of the program's resource of that type and name
# (IDs as objdump prints them, like 0x000018), read from the headers and the
# resource section saved in the scratch folder.
resource() {
  local section_start leaf
  section_start=$(awk '/Resource Directory \[\.rsrc\]/ { print $3; exit }' "$scratch/headers")
  # Type entries stand 3 blanks after the offset, name entries 5.
  leaf=$(awk -v want="$1,$2," '
      /^[0-9a-f]+   Entry: ID:/ { type = $4 }
      /^[0-9a-f]+     Entry: ID:/ { name = $4 }
      /Leaf: Addr:/ && type name == want { print $4, $6; exit }' "$scratch/headers" | tr -d ,)
  [ -n "$leaf" ] || fail "$name has no resource of type $1 and name $2"
  read -r address size <<<"$leaf"
  tail -c +$((address - 0x$section_start + 1)) "$scratch/rsrc" | head -c $((size))
}

# fixed_version OFFSET: the version of the fixed part of the version resource
# whose two 32-bit halves (most significant first) stand at OFFSET, as a.b.c.d.
fixed_version() {
  local high low
  read -r high low < <(od -An -tu4 -j"$1" -N8 "$scratch/version.bin")
  echo "$((high >> 16)).$((high & 0xFFFF)).$((low >> 16)).$((low & 0xFFFF))"
}

# RT_VERSION 1: the keys, and the build's version in the numbers and texts.
check_version() {
  resource 0x000010 0x000001 >"$scratch/version.bin"
  strings -el "$scratch/version.bin" >"$scratch/version"
  for key in VS_VERSION_INFO FileVersion ProductVersion ProductName; do
    grep -qx "$key" "$scratch/version" || fail "the version resource of $name lacks $key"
  done
  # The fixed part follows the 40-byte header and key "VS_VERSION_INFO".
  [ "$(od -An -tx4 -j40 -N4 "$scratch/version.bin" | tr -d ' ')" = feef04bd ] ||
    fail "the version resource of $name has no fixed part where it belongs"
  local numbers text
  for field in "FileVersion 48" "ProductVersion 56"; do
    numbers=$(fixed_version "${field#* }")
    [ "$numbers" = "$SETUP_VERSION" ] || fail "$name's ${field% *} number is $numbers, not $SETUP_VERSION"
    # In the texts the key is followed by its value.
    text=$(grep -x -A1 "${field% *}" "$scratch/version" | tail -n1)
    [ "$text" = "$SETUP_VERSION" ] || fail "$name's ${field% *} text is '$text', not $SETUP_VERSION"
  done
}

case $check in
  imports)
    "$OBJDUMP" -p "$exe" >"$scratch/headers"
    sed -n 's/^\tDLL Name: //p' "$scratch/headers" >"$scratch/dlls"
    [ -s "$scratch/dlls" ] || fail "no import table found in $name"
    others=$(tr 'A-Z' 'a-z' <"$scratch/dlls" | grep -Ev "$allowed_dll" || true)
    [ -z "$others" ] || fail "$name imports DLLs other than kernel32 and msvcrt:" $others
    ! grep -Eq '^\s+[0-9a-f]+\s+[0-9]+\s+SetDefaultDllDirectories$' "$scratch/headers" ||
      fail "$name imports SetDefaultDllDirectories: it would not start where it is missing"
    ;;
  action-imports)
    "$OBJDUMP" -p "$exe" >"$scratch/headers"
    others=$(sed -n 's/^\tDLL Name: //p' "$scratch/headers" | tr 'A-Z' 'a-z' |
      grep -Evx '(kernel32|msvcrt|msi)\.dll' || true)
    [ -z "$others" ] || fail "imports DLLs besides kernel32, msvcrt and msi: $(echo $others)"
    ;;
  exports)
    "$OBJDUMP" -p "$exe" >"$scratch/headers"
    for name in CheckFirmware UpdateFirmware ScheduleFirmwareRestart; do
      grep -Eq "^\s+\[\s*[0-9]+\] $name\$" "$scratch/headers" || fail "$name is not exported by that name"
    done
    ;;
  version)
    "$OBJDUMP" -p "$exe" >"$scratch/headers"
    "$OBJCOPY" -O binary --only-section=.rsrc "$exe" "$scratch/rsrc"
    check_version
    ;;
  resources)
    "$OBJDUMP" -p "$exe" >"$scratch/headers"
    "$OBJCOPY" -O binary --only-section=.rsrc "$exe" "$scratch/rsrc"
    # RT_MANIFEST 1: the manifest Windows applies to a program.
    resource 0x000018 0x000001 >"$scratch/manifest"
    for text in 'level="asInvoker"' \
        '<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>' \
        '>true</longPathAware>' \
        '>UTF-8</activeCodePage>' \
        "version=\"$SETUP_VERSION\" processorArchitecture"; do
      grep -qF "$text" "$scratch/manifest" || fail "the manifest of $name lacks $text"
    done
    check_version
    ;;
  size)
    "$STRIP" -o "$scratch/stripped.exe" "$exe"
    signature=$("$OBJDUMP" -p "$exe" | awk '/ Security Directory$/ { print $4 }')
    size=$(($(stat -c %s "$scratch/stripped.exe") + 0x${signature:-0}))
    limit=$((160 * 1024))
    echo "stripped size, signature included: $size bytes (limit $limit)"
    [ "$size" -le "$limit" ] || fail "stripped $name is $size bytes, more than $limit"
    ;;
  *)
    fail "unknown check: $check"
    ;;
esac
