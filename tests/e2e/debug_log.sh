#!/bin/bash
# /debuglog makes its file where its path says, by default in the current
# folder, with the msiexec command and its exit code; a log that cannot be
# opened ends the run with 4, and a run without /debuglog writes no file; what
# the installed-product check logs before the log opens comes first in it.
. "$(dirname "$0")/e2e-lib.sh"
e2e_begin
package=$WORK/package
make_package "$package" "build 1"

run_setup "$package" /S /debuglog /v/qn
expect_eq "$CODE" 0 "install with the default log: exit code"
[ -f "$package/vntr_oriel2_setup.txt" ] || fail "no vntr_oriel2_setup.txt in the current folder"
expect_eq "$(cat "$package/vntr_oriel2_setup.txt")" \
  "RunMsiexec: starting \"C:\windows\system32\msiexec.exe\" /package $(winepath -w "$package")\drv.msi  /qn"$'\r\n'"RunMsiexec: msiexec exit code 0"$'\r' \
  "the default log"

mkdir "$package/logs"
run_setup "$package" /S '/debugloglogs\setup log.txt' /x /v/qn
expect_eq "$CODE" 0 "uninstall with a named log: exit code"
[ -f "$package/logs/setup log.txt" ] || fail "no log at the path given"
grep -aq "^RunMsiexec: msiexec exit code 0"$'\r'\$ "$package/logs/setup log.txt" ||
  fail "no exit code of msiexec in the named log"

before=$(ls -A "$package")
run_setup "$package" /S /v/qn
expect_eq "$CODE" 0 "install without a log: exit code"
expect_eq "$(ls -A "$package")" "$before" "files in the package folder after a run without a log"

run_setup "$package" /S '/debuglogmissing\setup.txt' /v/qn
expect_eq "$CODE" 4 "a log in a folder that does not exist: exit code"

# A log that would be the package or setup.exe, by whatever name, ends the run
# with 4 and leaves both as they were; a log already open says why.
cp "$package/drv.msi" "$WORK/drv.msi"
for name in DRV.MSI '..\package\drv.msi' "$(winepath -s "$(winepath -w "$package/setup.exe")")"; do
  run_setup "$package" /S "/debuglog$name" /v/qn
  expect_eq "$CODE" 4 "a log named $name: exit code"
  cmp -s "$package/drv.msi" "$WORK/drv.msi" && cmp -s "$package/setup.exe" "$SETUP_EXE" ||
    fail "a log named $name overwrote the package"
done
run_setup "$package" /S /debuglogwhy.txt /debuglogDrv.msi /v/qn
grep -aq "the debug log would overwrite the package" "$package/why.txt" || fail "no reason in the log"

# The installed-product check runs before /debuglog is read; what it logs is
# kept and written first. With msi.dll kept from loading, the query fails (and
# so does msiexec, whose failure comes back unchanged).
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;msi=d" \
  run_setup "$package" /S /debuglogearly.txt /v/qn
expect_eq "$CODE" 3221225781 "msiexec without msi.dll: exit code (0xC0000135)"
expect_eq "$(cat "$package/early.txt")" \
  "CheckMSIProductStatus: MsiEnumRelatedProducts failed "$'\r\n'"RunMsiexec: starting \"C:\windows\system32\msiexec.exe\" /package $(winepath -w "$package")\drv.msi  /qn"$'\r\n'"RunMsiexec: msiexec exit code 3221225781"$'\r' \
  "a log that begins with the product check's failure"
