#!/bin/bash
# A failing msiexec's exit code comes back from setup.exe unchanged, all 32
# bits of it: each case is compared with what msiexec itself returns for the
# same request, and each code is above 255, where Wine's own exit status
# would cut it. A code left out never turns an uninstall into an install.
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

# A command line longer than the system takes: nothing starts and the run
# fails, rather than msiexec running what is left after the cut. Each /L1
# becomes " /g 1" in msiexec's parameters; /v fills the rest up to the length.
rm -f "$WINEPREFIX/drive_c/$(dirname "$sample_installed_file")"
make_package "$package" "build 1"
languages=()
for _ in $(seq 4000); do languages+=(/L1); done
# expect_command_length LENGTH CODE [CHARACTER]: msiexec's path, a blank and
# the parameters, padded with CHARACTER (p), make LENGTH characters; the last
# parameter is END=1.
expect_command_length() {
  local start padding
  start="C:\\windows\\system32\\msiexec.exe /package $(winepath -w "$package")\\drv.msi $(printf ' /g 1%.0s' "${languages[@]}") /qn /l*v msiexec.log PAD="
  printf -v padding '%*s' $(($1 - ${#start} - 6)) ''
  padding=${padding// /${3:-p}}
  rm -f "$package/msiexec.log"
  run_setup "$package" /S "${languages[@]}" "/v/qn /l*v msiexec.log PAD=$padding END=1"
  expect_eq "$CODE" "$2" "a command of $1 characters: exit code"
}
# The shell quotes msiexec's path and the system counts the terminator.
expect_command_length 32764 0
grep -aq "END = 1" "$package/msiexec.log" || fail "msiexec did not get the whole command"
product_installed "${SAMPLE_CODES[1]}" || fail "the product is not installed"
run_setup "$package" /S /x /v/qn
expect_eq "$CODE" 0 "uninstall: exit code"
expect_command_length 32765 1
[ ! -e "$package/msiexec.log" ] || fail "msiexec ran with a command too long"
! product_installed "${SAMPLE_CODES[1]}" || fail "a command too long installed the product"
# Without the UTF-8 manifest, in code page 1252, "°" and "ÿ" are one unit each.
"$root/tests/without_utf8_code_page.py" "$SETUP_EXE" "$package/setup.exe"
expect_command_length 32765 1 °
expect_command_length 32764 0 ÿ
run_setup "$package" /S /x /v/qn

# A package code left out: the /x in its place counts as missing, so nothing
# starts, rather than /x taken for the code and the product installed.
run_in "$package" '.\setup.exe' drv.msi "${SAMPLE_CODES[@]:0:2}" /x /S /v/qn
expect_eq "$CODE" 101 "a package code left out: exit code"
! product_installed "${SAMPLE_CODES[1]}" || fail "a package code left out: the product was installed"
