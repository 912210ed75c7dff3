#!/bin/bash
# Install, reinstall from a rebuilt package, uninstall: setup.exe with Wine's
# msiexec, each step checked by what it leaves on the machine.
. "$(dirname "$0")/e2e-lib.sh"
e2e_begin
package=$WORK/package
make_package "$package" "build 1"
product=${SAMPLE_CODES[1]}

run_setup "$package" /S /v/qn
expect_eq "$CODE" 0 "install: exit code"
product_installed "$product" || fail "install: the product is not installed"
expect_eq "$(sample_installed_text)" "build 1" "install: installed file"

# The same product from a new package code: only REINSTALL=ALL makes msiexec
# replace the installed file.
sample_package "$package" "build 2"
run_setup "$package" /S "/v/qn /l*v reinstall.log"
expect_eq "$CODE" 0 "reinstall: exit code"
grep -aq "REINSTALL = ALL" "$package/reinstall.log" || fail "reinstall: msiexec saw no REINSTALL=ALL"
grep -aq "REINSTALLMODE = vomus" "$package/reinstall.log" ||
  fail "reinstall: msiexec saw no REINSTALLMODE=vomus"
expect_eq "$(sample_installed_text)" "build 2" "reinstall: installed file"

# Without /v setup adds msiexec's log switch itself, to a file in LocalAppData.
# Without a display msiexec's full interface shows nothing and goes on.
run_setup "$package" /x /S
expect_eq "$CODE" 0 "uninstall: exit code"
! product_installed "$product" || fail "uninstall: the product is still installed"
expect_eq "$(sample_installed_text)" "" "uninstall: installed file"
grep -aqs "REMOVE = ALL" "$WINEPREFIX"/drive_c/users/*/AppData/Local/VNTR_Oriel2.log ||
  fail "uninstall: no msiexec log of it in LocalAppData"
