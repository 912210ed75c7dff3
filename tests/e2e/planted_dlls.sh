#!/bin/bash
# setup.exe and fwcheck.exe load no DLL from their own folder or the current
# folder: marker DLLs planted in both under the names of system DLLs, and
# preferred by Wine to its own (n,b), must never be loaded (a loaded one leaves
# NAME.dll.loaded beside itself, NAME as the importer spelt it, naming the
# program that loaded it).
#
# msvcrt is not among them: Windows serves it from KnownDLLs, never from a
# program's folder, but Wine 8 with msvcrt=n,b loads a planted one into any
# program that imports it. WINEDEBUG=+loaddll shows for setup.exe:
#   Loaded L"Z:\\...\\package\\setup.exe" at 0000000140000000: native
#   Loaded L"Z:\\...\\package\\msvcrt.dll" at 0000000389450000: native
# Without the override Wine takes its own msvcrt and the planted one is left.
. "$(dirname "$0")/e2e-lib.sh"
e2e_begin
names=(shcore version imm32 sechost shlwapi advapi32 dbghelp userenv cryptbase msi)
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;$(IFS=,; echo "${names[*]}")=n,b"

# windows_path PATH: the Windows form of a Linux path, on Wine's Z: drive.
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }

# expect_no_marker WHAT: no planted DLL beside the programs or in the current
# folder was loaded. Checked before the run's outcome: a planted DLL lacks the
# entries its importer wants, so the run then fails for that reason.
expect_no_marker() {
  local loaded
  loaded=$(cd "$WORK" && find package current checker -iname '*.loaded' -exec grep -H . {} +) || true
  [ -z "$loaded" ] || fail "$1: planted DLLs were loaded: $loaded"
}

# plant DIR...: a marker DLL under every name in each DIR.
plant() {
  local dir name
  for dir in "$@"; do
    for name in "${names[@]}"; do cp "$FIXTURES/marker.dll" "$dir/$name.dll"; done
  done
}

package=$WORK/package
current=$WORK/current
checker=$WORK/checker
tool=$WORK/tool
control=$WORK/control
mkdir -p "$current" "$checker" "$tool" "$control"
make_package "$package" "build 1"
cp "$FWCHECK_EXE" "$checker/fwcheck.exe"
cp "$FAKE_TOOL" "$tool/flashkeeper.exe"
printf 'Device #1:\n  Part Number:   VN2-4100\n  PSID:          QV_0001\n  Status:        Update required\n' \
  >"$tool/report.txt"
plant "$package" "$current" "$checker" "$control"

# The markers work: a program that imports version.dll loads the planted one.
cp "$FIXTURES/imports_version.exe" "$control/"
run_in "$control" '.\imports_version.exe'
expect_eq "$CODE" 0 "control: exit code"
[ -n "$(find "$control" -iname version.dll.loaded)" ] ||
  fail "control: the planted version.dll was not loaded"

run_in "$current" "$(windows_path "$package/setup.exe")" drv.msi "${SAMPLE_CODES[@]}" /S /v/qn
expect_no_marker "silent install"
expect_eq "$CODE" 0 "silent install: exit code"
product_installed "${SAMPLE_CODES[1]}" || fail "silent install: the product is not installed"

# fwcheck's report comes first, through the parent's output; its exit code last.
run_in "$current" "$(windows_path "$checker/fwcheck.exe")" "$(windows_path "$tool")"
expect_no_marker fwcheck
expect_eq "${CODE##*$'\n'}" 0 "fwcheck: exit code"
expect_eq "${CODE%%$'\n'*}" "status: 2 (an update is required)" "fwcheck: status"
expect_eq "$(tr -d '\r' <"$tool/args.txt")" "--no" "fwcheck: the tool's arguments"
