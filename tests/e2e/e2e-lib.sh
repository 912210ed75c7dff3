# Sourced by the end-to-end tests. ctest gives each test in its environment:
# SETUP_EXE, FWCHECK_EXE, ACTION_DLL (firmware_action.dll), FAKE_TOOL (the
# stand-in firmware tool), FIXTURES (the folder of the fixture programs),
# WINE_STATE (the build's shared Wine state) and WORK (the test's own folder,
# made afresh).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$root/scripts/wine-env"
. "$root/scripts/package-env"
# Only a test that looks at windows gets a display, and a server of its own.
unset DISPLAY

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

expect_eq() {
  [ "$1" = "$2" ] || fail "$3: expected '$2', got '$1'"
}

# Clean-up commands, run when the test ends, the last registered first.
cleanups=()
on_exit() { cleanups=("$1" "${cleanups[@]}"); }
trap 'for command in "${cleanups[@]}"; do eval "$command" || true; done' EXIT

# WORK afresh, with a Wine prefix of its own: the tests install products and
# run side by side. The prefix goes at the end; the rest stays for a look.
e2e_begin() {
  rm -rf "$WORK"
  mkdir -p "$WORK"
  wine_private_prefix "$WINE_STATE" "$WORK"
  on_exit 'wineserver -k; rm -rf "$WORK/prefix"'
}

# make_package DIR TEXT: DIR with setup.exe beside drv.msi, a build of the
# sample with TEXT in its file; sets SAMPLE_CODES (scripts/package-env).
make_package() {
  mkdir -p "$1"
  cp "$SETUP_EXE" "$1/setup.exe"
  sample_package "$1" "$2"
}

# run_in DIR COMMAND...: runs the Windows command line from DIR as the current
# folder and sets CODE to its full 32-bit exit code.
run_in() {
  local dir=$1
  shift
  CODE=$(exit_code_of "$FIXTURES/exitcode.exe" "$dir" "$@") || fail "exitcode.exe could not run $*"
}

# run_setup DIR SWITCHES...: DIR's setup.exe for its drv.msi; sets CODE.
run_setup() {
  local dir=$1
  shift
  run_in "$dir" '.\setup.exe' drv.msi "${SAMPLE_CODES[@]}" "$@"
}
