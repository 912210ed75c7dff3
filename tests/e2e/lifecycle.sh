#!/bin/bash
# Install, reinstall from a rebuilt package, uninstall: setup.exe with Wine's
# msiexec, each step checked by what it leaves on the machine.
. "$(dirname "$0")/e2e-lib.sh"
e2e_begin
package=$WORK/package
make_package "$package" "build 1"
product=${SAMPLE_CODES[1]}

# A language switch without an ID would take msiexec's /qn for one: refused.
run_setup "$package" /S /l /v/qn
expect_eq "$CODE" 87 "a language switch without an ID: exit code"
run_setup "$package" /S /L1033 "/v/qn /l*v install.log"
expect_eq "$CODE" 0 "install: exit code"
product_installed "$product" || fail "install: the product is not installed"
grep -aq "UILevel = 2" "$package/install.log" || fail "install: not without user interface"
expect_eq "$(sample_installed_text)" "build 1" "install: installed file"

# The same product from a new package code: only REINSTALL=ALL makes msiexec
# replace the installed file. The codes typed in lower case name it all the same,
# and a setup.exe in another folder installs the package given by its full path.
sample_package "$package" "build 2"
mkdir "$WORK/other" && cp "$SETUP_EXE" "$WORK/other/setup.exe"
run_in "$package" "$(winepath -w "$WORK/other")\setup.exe" "$(winepath -w "$package")\drv.msi" \
  "${SAMPLE_CODES[@],,}" /S "/v/qn /l*v reinstall.log"
expect_eq "$CODE" 0 "reinstall: exit code"
grep -aq "REINSTALL = ALL" "$package/reinstall.log" || fail "reinstall: msiexec saw no REINSTALL=ALL"
grep -aq "REINSTALLMODE = vomus" "$package/reinstall.log" ||
  fail "reinstall: msiexec saw no REINSTALLMODE=vomus"
expect_eq "$(sample_installed_text)" "build 2" "reinstall: installed file"

# Uninstall from yet another build of the product: no reinstall brings it back.
# Without /v setup adds msiexec's log switch itself, to a file in LocalAppData,
# here a folder whose name has characters outside ASCII.
# Without a display msiexec's full interface shows nothing and goes on.
sample_package "$package" "build 3"
local_app_data='C:\users\José_中文\AppData\Local'
mkdir -p "$WINEPREFIX/drive_c/users/José_中文/AppData/Local"
run_in "$package" cmd /c set "LocalAppData=$local_app_data&&" '.\setup.exe' drv.msi \
  "${SAMPLE_CODES[@]}" /x /S
expect_eq "$CODE" 0 "uninstall: exit code"
! product_installed "$product" || fail "uninstall: the product is still installed"
expect_eq "$(sample_installed_text)" "" "uninstall: installed file"
grep -aqs "REMOVE = ALL" "$WINEPREFIX/drive_c/users/José_中文/AppData/Local/VNTR_Oriel2.log" ||
  fail "uninstall: no msiexec log of it in LocalAppData"
