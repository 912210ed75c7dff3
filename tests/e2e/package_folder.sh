#!/bin/bash
# setup.exe finds the package beside itself, whatever the folder and the
# program file are called, and starts only the system's msiexec.
. "$(dirname "$0")/e2e-lib.sh"
e2e_begin

# A folder with a blank, holding an msiexec.exe of its own that is also in the
# current folder.
package="$WORK/driver package"
make_package "$package" "build 1"
product=${SAMPLE_CODES[1]}
cp "$FIXTURES/planted_msiexec.exe" "$package/msiexec.exe"
run_setup "$package" /S /v/qn
[ ! -e "$package/planted-msiexec-ran" ] || fail "the planted msiexec.exe ran"
expect_eq "$CODE" 0 "install from a folder with a blank: exit code"
product_installed "$product" || fail "install from a folder with a blank: not installed"

# Renamed, in a folder whose name the ANSI code page 1252 cannot hold: the
# manifest's UTF-8 code page keeps the path whole, so msiexec finds drv.msi.
renamed="$WORK/paquet é 中"
mkdir -p "$renamed"
cp "$SETUP_EXE" "$renamed/install.exe"
cp "$package/drv.msi" "$renamed/drv.msi"
run_in "$renamed" '.\install.exe' drv.msi "${SAMPLE_CODES[@]}" /x /S /v/qn
expect_eq "$CODE" 0 "uninstall by install.exe: exit code"
! product_installed "$product" || fail "uninstall by install.exe: still installed"

# On a Windows that ignores the UTF-8 manifest (a copy whose manifest names no
# code page runs in 1252 here) an MSI name the code page holds (é) installs;
# one it cannot hold (ő) starts nothing, never the look-alike "drv o.msi".
legacy=$WORK/legacy
mkdir -p "$legacy"
"$root/tests/without_utf8_code_page.py" "$SETUP_EXE" "$legacy/setup.exe"
cp "$package/drv.msi" "$legacy/drv o.msi"
cp "$package/drv.msi" "$legacy/drv é.msi"
run_in "$legacy" '.\setup.exe' "drv ő.msi" "${SAMPLE_CODES[@]}" /S /v/qn
expect_eq "$CODE" 1 "an MSI name code page 1252 cannot hold: exit code"
! product_installed "$product" || fail "an MSI name code page 1252 cannot hold: drv o.msi was installed"
run_in "$legacy" '.\setup.exe' "drv é.msi" "${SAMPLE_CODES[@]}" /S /v/qn
expect_eq "$CODE" 0 "an MSI name code page 1252 holds: exit code"
product_installed "$product" || fail "an MSI name code page 1252 holds: not installed"
