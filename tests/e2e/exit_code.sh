#!/bin/bash
# A failing msiexec's exit code comes back from setup.exe unchanged, all 32
# bits of it: each case is compared with what msiexec itself returns for the
# same request, and each code is above 255, where Wine's own exit status
# would cut it.
. "$(dirname "$0")/e2e-lib.sh"
e2e_begin
package=$WORK/package
make_package "$package" "build 1"

# expect_passed_through CASE: setup.exe ends with the code that msiexec itself
# gives for the same package and the same request.
expect_passed_through() {
  run_in "$package" msiexec.exe /package drv.msi /qn
  local direct=$CODE
  [ "$direct" -gt 255 ] || fail "$1: msiexec's code $direct would not show a cut"
  run_setup "$package" /S /v/qn
  expect_eq "$CODE" "$direct" "$1: setup.exe's exit code"
}

# A file stands where the product's folder must go.
touch "$WINEPREFIX/drive_c/$(dirname "$sample_installed_file")"
expect_passed_through "failed install"
echo "not a package" >"$package/drv.msi"
expect_passed_through "not a Windows Installer database"
