#!/bin/bash
# /debuglog makes its file where its path says, by default in the current
# folder, and a log that cannot be opened ends the run with 4.
. "$(dirname "$0")/e2e-lib.sh"
e2e_begin
package=$WORK/package
make_package "$package" "build 1"

run_setup "$package" /S /debuglog /v/qn
expect_eq "$CODE" 0 "install with the default log: exit code"
[ -f "$package/vntr_oriel2_setup.txt" ] || fail "no vntr_oriel2_setup.txt in the current folder"

mkdir "$package/logs"
run_setup "$package" /S '/debugloglogs\setup log.txt' /x /v/qn
expect_eq "$CODE" 0 "uninstall with a named log: exit code"
[ -f "$package/logs/setup log.txt" ] || fail "no log at the path given"

run_setup "$package" /S '/debuglogmissing\setup.txt' /v/qn
expect_eq "$CODE" 4 "a log in a folder that does not exist: exit code"
