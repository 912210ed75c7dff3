#!/bin/bash
# fwcheck as a command: usage errors, the JSON report, exit codes, debug log.
# fwcheck_cli_test.sh FWCHECK FAKE_TOOL [RUNNER...]
# RUNNER (for example the Wine runner) is put in front of FWCHECK.
# SETUP_VERSION holds the version the build gave it.
set -u
fwcheck=$1
fake_tool=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
runner=("$@")

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

# Under Wine, a prefix of the test's own: an update leaves a restart pending
# there, and the end of its wineserver stands in for the restart.
if [ ${#runner[@]} -gt 0 ]; then
  . "$(dirname "$0")/../scripts/wine-env"
  mkdir -p "$scratch/wine"
  wine_private_prefix "${runner[1]}" "$scratch/wine"
  runner=("${runner[0]}" "$scratch/wine")
  trap 'wineserver -k; rm -rf "$scratch"' EXIT
fi
restart() { [ ${#runner[@]} -eq 0 ] || { wineserver -k && wineserver -w; }; }

# Tool folders lie where no account but the test's own can change them, as
# an elevated check demands: under Wine on the prefix's C: drive, named
# alike from Linux and Windows by working in its dosdevices folder (every
# Z:\tmp path has /tmp above it, which Wine shows as changeable by Everyone).
tools="$scratch/tools"
if [ ${#runner[@]} -gt 0 ]; then
  cd "$WINEPREFIX/dosdevices" || exit 1
  tools=c:/fwcheck
fi
mkdir -p "$tools"

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
  # The next case starts without the restart an update left pending, unless kept.
  case "$out" in *'"restart_needed": true'* | *'a restart is needed'*)
    [ -n "${keep_pending:-}" ] || [ ${#runner[@]} -eq 0 ] ||
      "${runner[@]}" reg delete 'HKLM\SOFTWARE\Vantreo\Oriel2\FirmwareRestartPending' /f >/dev/null ;;
  esac
}

expect_in() {
  case "$1" in *"$2"*) ;; *) fail "expected '$2' in: $1" ;; esac
}

# check_json: $out holds exactly one JSON object with every member; $json
# gets them as name=value pairs. Under the Wine runner standard error is
# mixed in, so only the line with the object is taken there.
check_json() {
  local text=$out
  [ ${#runner[@]} -eq 0 ] || text=$(printf '%s\n' "$out" | grep '^{')
  json=$(printf '%s\n' "$text" | python3 -c '
import json, sys
o = json.load(sys.stdin)
keys = ["format_version", "status", "result", "tool_exit_code", "devices_reported",
        "devices_examined", "failed", "reason", "devices", "restart_pending", "restart_needed"]
missing = [k for k in keys if k not in o]
if missing:
    sys.exit("missing " + " ".join(missing))
print(" ".join("%s=%s" % (k, json.dumps(o[k], separators=(",", ":"))) for k in keys))
') || fail "not one JSON object with every member: $out"
}

# tool_script REPORT_PRINTF_FORMAT [EXIT_CODE [SLEEP_MS]]: what the stand-in tool does next.
tool_script() {
  printf "$1" >"$tool/report.txt"
  printf '%s' "${2:-0}" >"$tool/exitcode.txt"
  rm -f "$tool/sleep.txt"
  [ -z "${3:-}" ] || printf '%s' "$3" >"$tool/sleep.txt"
}

tool="$tools/tool"
mkdir -p "$tool"
cp "$fake_tool" "$tool/flashkeeper.exe"
printf 'Device #1:\n  Part Number:   VN2-100\n  PSID:          QV_0001\n  Status:        Update required\n' >"$tool/report.txt"

for args in "--version" "--version --bogus" "--json --version $tool"; do
  run 0 $args
  [ "$out" = "fwcheck $SETUP_VERSION" ] || fail "fwcheck $args printed '$out', not the version $SETUP_VERSION"
done

run 2
expect_in "$err" "fwcheck: no tool folder given"
expect_in "$err" "usage: fwcheck"
run 2 --supported A --skip B "$tool"
expect_in "$err" "cannot be given together"
run 2 --bogus "$tool"
expect_in "$err" "unknown option --bogus"
run 2 "$tool" --supported
expect_in "$err" "missing part number"

# Bad usage: exit 2 with the reason, also as JSON when asked for.
device='Device #1:\n  Part Number:   VN2-100\n  PSID:          QV_0001\n  Status:        Update required\n'
usage_cases=(
  "unknown option -x|-x $tool"
  "unknown option -|- $tool"
  "empty part number after --supported|--supported '' $tool"
  "empty part number after --skip|--skip '' $tool"
  "blank part number after --skip|--skip ' ' $tool"
  "empty tool folder|''"
  "blank tool folder|'  '"
  "--timeout cannot be given with --update|--update --timeout 5 $tool"
  "--timeout needs a whole number of seconds from 1: 0|--timeout 0 $tool"
  "--timeout needs a whole number of seconds from 1: 1s|--timeout 1s $tool"
  "missing number of seconds after --timeout|$tool --timeout"
  "more than one tool folder: C:\\a|$tool 'C:\\a'"
)
for case in "${usage_cases[@]}"; do
  eval "args=(${case#*|})"
  run 2 "${args[@]}"
  expect_in "$err" "fwcheck: ${case%%|*}"
  run 2 --json "${args[@]}"
  check_json
  # The reason as JSON writes it: read back, it is the text unchanged.
  reason=$(python3 -c 'import json, sys; print(json.dumps(sys.argv[1]))' "${case%%|*}")
  expect_in "$json" "format_version=1 status=null result=null tool_exit_code=null devices_reported=null devices_examined=null failed=true reason=${reason%\"}"
  expect_in "$json" "devices=null restart_pending=null restart_needed=null"
done

# "--" ends the options: a folder may then begin with "-", and a relative
# folder is taken from the current folder.
mkdir -p "$tools/-tool"
cp "$fake_tool" "$tools/-tool/flashkeeper.exe"
printf "$device" >"$tools/-tool/report.txt"
(cd "$tools" && run 0 --json -- -tool && check_json && expect_in "$json" "status=2" &&
  expect_in "$json" "failed=false") || fail "relative folder after --"
[ -f "$tools/-tool/args.txt" ] || fail "the tool in the relative folder did not run"

# The check's outcome: exit code, status meaning, reason (query mode unless --update).
outcome_cases=(
  # exit|tool exit code|report|options|expected in the JSON members|expected in the text
  "1|0xC0000005|$device||reason=\"the tool ended with a Windows exception code\"|not determined"
  "1|0xC0000005|$device|--update|tool_exit_code=32212254|not determined"
  "1|1|error: no adapter found\n||reason=\"the tool's report holds no \\\"Device #\\\" line\"|not determined"
  "1|0|||devices_reported=0|not determined"
  "1|1|$device|--update|reason=\"the update ended with an exit code other than 0\"|status: not determined"
  "0|3|$device||tool_exit_code=3|status: 2 (an update is required)"
  "0|0|$device|--update|failed=false|status: 1 (an update was reported)"
  "1|0|Device #1:\n  Status:        Up to date\n\0\nDevice #2:\n  Status:        Update required\n||reason=\"the tool's report held a NUL byte\"|status: not determined"
  "1|0|D\0e\0v\0i\0c\0e\0 \0#\0001\0:\0\n\0||reason=\"the tool's report held a NUL byte\"|not determined"
  "0|0|$device|--skip VN2-100|devices_examined=0|status: 0 (no problem seen)"
  "1|1|${device}Device #2:\n  Part Number:||reason=\"device 2 reported no status\"|device 2: part number (none), PSID (none), no status, examined"
  "1|0|${device}Device #2:\n  Status: Failed to open device\n|--update|reason=\"the update reported a device problem: failed to open device (device 2)\"|not determined"
  "0|0|Device #1:\n  Status: Multiple images files found\n|--update|status=0|status: 0 (no update was reported, and a device reported a problem)"
  # A device updated: a restart is needed, whatever else failed.
  "1|1|$device|--update|restart_needed=true|a restart is needed to finish the update"
  "1|0|${device}Device #2:\n  Status: Failed to open device\n|--update|restart_needed=true|a restart is needed to finish the update"
  "0|0|Device #1:\n  Status: Update required\n  Part Number: VN2-100\n|--update --skip VN2-100|restart_needed=false|status: 0 (no problem seen)"
  "0|0|Device #1:\r\n  Part Number: VN2-1\n|--update|status=0|status: 0 (no update was reported, and device 1 reported no status)"
  "1|0|Device #1:\r  Part Number:   VN2-4420-A\r  PSID: QV_0017\r  Status:        Failed to open device\r|--update|reason=\"the update reported a device problem: failed to open device (device 1)\"|not determined"
  "0|0|Device #1:\n  Status: Failed to open device\n  Part Number: VN2-1\nDevice #2:\n  Status: Update required\n|--update --skip VN2-1|status=1|status: 1 (an update was reported)"
  "0|0|  Status: Failed to open device\nDevice #1:\n  Status: Up to date\n  Status: Update required\n  Status: Failed to open device\n  Part Number: VN2-1\n|--skip VN2-1|status=0|status \"Failed to open device\" (5), also needs an update, left out by the part-number list"
)
for case in "${outcome_cases[@]}"; do
  IFS='|' read -r exit code report options in_json in_text <<<"$case"
  tool_script "$report" "$code"
  # shellcheck disable=SC2086
  run "$exit" --json $options "$tool"
  check_json
  expect_in "$json" "$in_json"
  expect_in "$json" "failed=$([ "$exit" -eq 0 ] && echo false || echo true)"
  expect_in "$json" "restart_pending=false"
  # shellcheck disable=SC2086
  run "$exit" $options "$tool"
  expect_in "$out" "$in_text"
done

# A tool that writes its report and keeps running is ended in query mode.
tool_script "$device" 0 60000
run 1 --json --timeout 1 "$tool"
check_json
expect_in "$json" 'reason="timed out"'
expect_in "$json" "result=5003"
tool_script "$device"

# A debug log that cannot be opened: nothing runs.
rm -f "$tool/args.txt"
run 1 --json --debuglog "$scratch/no_such_folder/fw.log" "$tool"
check_json
expect_in "$json" 'reason="the debug log could not be opened"'
[ ! -f "$tool/args.txt" ] || fail "the tool ran although the debug log could not be opened"
run 1 --debuglog "$scratch/no_such_folder/fw.log" "$tool"
expect_in "$err" "fwcheck: the debug log could not be opened"

run 0 --json "$tool"
check_json
expect_in "$json" 'status=2'
expect_in "$json" 'result=0'
expect_in "$json" 'devices_reported=1'

# An elevated check (Wine's token always is; natively root's) runs no tool
# that another account can change: here Everyone, by the mode's other bits.
if [ ${#runner[@]} -gt 0 ] || [ "$(id -u)" -eq 0 ]; then
  for target in "$tool|the tool folder can be changed by Everyone (add files" \
    "$tool/flashkeeper.exe|the tool can be changed by Everyone (write, append" \
    "$tools|a folder above the tool can be changed by Everyone (delete what it holds"; do
    chmod o+w "${target%%|*}"
    rm -f "$tool/args.txt"
    run 1 --json "$tool"
    check_json
    expect_in "$json" "result=5112"
    expect_in "$json" "reason=\"${target#*|}"
    [ ! -f "$tool/args.txt" ] || fail "a tool that others can change ran: ${target#*|}"
    chmod o-w "${target%%|*}"
  done
fi

run 0 --update --debuglog "$scratch/fw.log" "$tool"
expect_in "$out" "status: 1 (an update was reported)"
expect_in "$(tr -d '\r' <"$tool/args.txt")" "-u -y"
expect_in "$(tr -d '\r' <"$scratch/fw.log")" "Action started: CheckAndUpdateFirmware"

run 0 --skip VN2-100 "$tool"
expect_in "$out" "status: 0 (no problem seen)"
expect_in "$err" "fwcheck: the report held 1 devices, and the part-number list or the OEM filter left out every one"

# --detailed-exitcode follows the status reported; a failed check stays 1.
detailed_cases=(
  # exit|report|options
  "3|$device|"
  "3|${device}Device #2:\n  Status: Failed to open device\n|"
  "4|Device #1:\n  Status: N/A (Mixed versions)\n|"
  "4|Device #1:\n  Status: Rebooting\n|"
  "0|Device #1:\n  Status: Up to date\n|"
  "0|$device|--skip VN2-100"
  "3|$device|--update"
  "0|Device #1:\n  Status: No matching image found\n|--update"
  "1|Device #1:\n|"
)
for case in "${detailed_cases[@]}"; do
  IFS='|' read -r exit report options <<<"$case"
  tool_script "$report"
  # shellcheck disable=SC2086
  run "$exit" --detailed-exitcode $options "$tool"
done

# After an update that changed a device a restart is pending until the
# system starts again: queries tell so (5 with --detailed-exitcode, whatever
# the status; 1 and 2 keep their meanings) and --update runs nothing.
if [ ${#runner[@]} -gt 0 ]; then
  keep_pending=1
  tool_script "$device"
  run 0 --update "$tool"
  rm -f "$tool/args.txt"
  pending_cases=(
    # exit|options|expected in the output
    "5|--json --detailed-exitcode|\"status\": 2, \"status_meaning\": \"an update is required\""
    "0||a restart is pending after a firmware update (since 20"
    "5|--update --json --detailed-exitcode|\"status\": null, \"status_meaning\": \"not determined\""
    "0|--update|a restart is pending after a firmware update (since 20"
  )
  for case in "${pending_cases[@]}"; do
    IFS='|' read -r exit options expected <<<"$case"
    # shellcheck disable=SC2086
    run "$exit" $options "$tool"
    expect_in "$err" "$expected"
    [[ $options != *--json* ]] || { check_json && expect_in "$json" "restart_pending=true"; }
  done
  tool_script "$device" 0xC0000005
  run 1 --detailed-exitcode "$tool"
  [ "$(tr -d '\r' <"$tool/args.txt")" = $'--no\n--no\n--no' ] || fail "an update ran while a restart was pending"
  restart
  tool_script "$device"
  run 3 --detailed-exitcode "$tool"
  unset keep_pending
fi

# The devices as reported, with what was decided about each.
cp "$here/../samples/flashkeeper-report.txt" "$tool/report.txt"
run 0 --json --oem-filter "$tool"
check_json
expect_in "$json" 'devices=[{"index":1,"part_number":"VN2-4420-A","psid":"QV_0000000017","status_text":"Update required","status":2,"update_required":true,"examined":true,"left_out_by":null},'
expect_in "$json" '{"index":3,"part_number":"VN2-4410-B","psid":"RS_0000000003","status_text":null,"status":null,"update_required":false,"examined":false,"left_out_by":"OEM filter"}]'
# Bytes beyond ASCII: valid UTF-8 as \uXXXX, each byte of no valid sequence as \ufffd.
tool_script 'Device #1:\n  Part Number: VN2-\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80\xff-\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80\n'
run 1 --json "$tool"
check_json
! LC_ALL=C grep -q '[^ -~]' <<<"$out" || fail "--json wrote bytes beyond ASCII: $out"
expect_in "$json" "\"part_number\":\"VN2-$(printf '\\ufffd%.0s' {1..10})-\\u00e9\\u4e2d\\ud83d\\ude00\""
tool_script "$device"

# Folders whose names the ANSI code page 1252 cannot hold (中) or holds in
# another byte than UTF-8 (é): the tool is found all the same. (Wine reads
# Linux paths in the locale's character set: UTF-8 here, whatever the caller's.)
export LC_ALL=C.UTF-8
for name in "outil é" "工具中"; do
  mkdir -p "$tools/$name"
  cp "$tool/flashkeeper.exe" "$tool/report.txt" "$tools/$name/"
  run 0 "$tools/$name"
  expect_in "$out" "status: 2 (an update is required)"
  expect_in "$(tr -d '\r' <"$tools/$name/args.txt" 2>/dev/null)" "--no"
done

# On a Windows that ignores the UTF-8 manifest the code page is the system's,
# 1252 here for a copy whose manifest names none. An argument it
# cannot hold (ő, 中) is refused, never read as a look-alike ("bf o", a folder
# with a tool of its own); one it holds (é) still runs as given.
if [ ${#runner[@]} -gt 0 ]; then
  real=$fwcheck
  fwcheck="$scratch/legacy/fwcheck.exe"
  mkdir -p "$scratch/legacy" "$tools/bf o" "$tools/bf ő"
  "$here/without_utf8_code_page.py" "$real" "$fwcheck" || fail "no copy without the UTF-8 code page"
  for name in "bf o" "bf ő"; do cp "$tool/flashkeeper.exe" "$tool/report.txt" "$tools/$name/"; done
  rm -f "$tools"/*/args.txt
  for name in "bf ő" "工具中"; do
    run 2 "$tools/$name"
    expect_in "$err" "fwcheck: an argument holds a character that this system's code page cannot hold"
    run 2 --json "$tools/$name"
    check_json
    expect_in "$json" "reason=\"an argument holds a character that this system's code page cannot hold\""
  done
  [ -z "$(ls "$tools"/*/args.txt 2>/dev/null)" ] || fail "a refused folder ran a tool: $(ls "$tools"/*/args.txt)"
  run 0 "$tools/outil é"
  [ -f "$tools/outil é/args.txt" ] || fail "the tool in a folder that code page 1252 holds did not run"
  fwcheck=$real
fi

run 1 --json "$tools/no_tool_here"
check_json
expect_in "$json" 'status=4'
expect_in "$json" 'result=5000'
expect_in "$json" 'reason="the tool could not be started"'

[ "$failures" -eq 0 ] && echo "fwcheck: all checks passed"
exit $((failures > 0))
