#!/bin/bash
# fwcheck as a command: usage errors, the JSON report, exit codes, debug log.
# fwcheck_cli_test.sh FWCHECK FAKE_TOOL [RUNNER...]
# RUNNER (for example the Wine runner) is put in front of FWCHECK.
set -u
fwcheck=$1
fake_tool=$2
shift 2
runner=("$@")

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# run EXPECTED_EXIT ARGS...: runs fwcheck, keeps its standard output in $out
# and its standard error in $err (the Wine runner joins both, so there $err
# holds both).
run() {
  local expected=$1
  shift
  "${runner[@]}" "$fwcheck" "$@" >"$scratch/out" 2>"$scratch/err"
  local status=$?
  out=$(tr -d '\r' <"$scratch/out")
  err=$(tr -d '\r' <"$scratch/err")
  [ ${#runner[@]} -eq 0 ] || err="$out$err"
  [ "$status" -eq "$expected" ] || fail "fwcheck $* exited $status, expected $expected; output: $out $err"
}

expect_in() {
  case "$1" in *"$2"*) ;; *) fail "expected '$2' in: $1" ;; esac
}

tool="$scratch/tool"
mkdir -p "$tool"
cp "$fake_tool" "$tool/flashkeeper.exe"
printf 'Device #1:\n  Part Number:   MCX-100\n  PSID:          QV_0001\n  Status:        Update required\n' >"$tool/report.txt"

run 2
expect_in "$err" "fwcheck: no tool folder given"
expect_in "$err" "usage: fwcheck"
run 2 --supported A --skip B "$tool"
expect_in "$err" "cannot be given together"
run 2 --bogus "$tool"
expect_in "$err" "unknown option --bogus"
run 2 "$tool" --supported
expect_in "$err" "missing part number"

run 0 --json "$tool"
expect_in "$out" '"status": 2'
expect_in "$out" '"result": 0'
[ "$(printf '%s\n' "$out" | grep -c '{')" -eq 1 ] || fail "more than one JSON object: $out"

run 0 --update --debuglog "$scratch/fw.log" "$tool"
expect_in "$out" "status: 1 (an update was reported)"
expect_in "$(tr -d '\r' <"$tool/args.txt")" "-u -y"
expect_in "$(tr -d '\r' <"$scratch/fw.log")" "Action started: CheckAndUpdateFirmware"

run 0 --skip MCX-100 "$tool"
expect_in "$out" "status: 0 (no problem seen)"

# Folders whose names the ANSI code page 1252 cannot hold (中) or holds in
# another byte than UTF-8 (é): the tool is found all the same. (Wine reads
# Linux paths in the locale's character set: UTF-8 here, whatever the caller's.)
export LC_ALL=C.UTF-8
for name in "outil é" "工具中"; do
  mkdir -p "$scratch/$name"
  cp "$tool/flashkeeper.exe" "$tool/report.txt" "$scratch/$name/"
  run 0 "$scratch/$name"
  expect_in "$out" "status: 2 (an update is required)"
  expect_in "$(tr -d '\r' <"$scratch/$name/args.txt" 2>/dev/null)" "--no"
done

run 1 --json "$scratch/no_tool_here"
expect_in "$out" '"status": 4'
expect_in "$out" '"result": 5000'

[ "$failures" -eq 0 ] && echo "fwcheck: all checks passed"
exit $((failures > 0))
