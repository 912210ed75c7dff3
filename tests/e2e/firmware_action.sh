#!/bin/bash
# The firmware check inside a real install: Wine's msiexec runs CheckFirmware
# and UpdateFirmware from firmware_action.dll in a package that wixl builds,
# against the stand-in tool in a folder whose name holds a blank and brackets
# and whose full path is as long as MAX_PATH allows.
. "$(dirname "$0")/e2e-lib.sh"
e2e_begin
package=$WORK/package
firmware_package "$package" "$ACTION_DLL"
product=$(msi_property "$package/fw.msi" ProductCode)

# Explicit sequence numbers, where wixl puts them: the check after
# CostFinalize, the update inside the install script, the restart after
# InstallFinalize.
sequence=$(msiinfo export "$package/fw.msi" InstallExecuteSequence | tr -d '\r')
grep -qP '^CheckFirmware\tNOT REMOVE\t1010$' <<<"$sequence" || fail "CheckFirmware is not at 1010: $sequence"
grep -qP '^UpdateFirmware\tFIRMWARE_UPDATE_REQUIRED AND NOT REMOVE\t6590$' <<<"$sequence" ||
  fail "UpdateFirmware is not at 6590: $sequence"
grep -qP '^ScheduleFirmwareRestart\tNOT REMOVE\t6610$' <<<"$sequence" ||
  fail "ScheduleFirmwareRestart is not at 6610: $sequence"
# The README's fragment is the sample's, line by line (the DLL's path aside).
sed -n '/^```xml$/,/^```$/p' "$root/README.md" | sed '1d;$d' | grep -v '<Binary ' | sed 's/^ *//' |
  while IFS= read -r line; do
    sed 's/^ *//' "$firmware_wxs" | grep -qxF -- "$line" || fail "the README's fragment line is not in the sample: $line"
  done

# The tool's folder: its full path as long as the tool's path within
# MAX_PATH allows. The first install names it by a FIRMWARE_TOOL_DIR longer
# than 255 characters (the folder and "\..\" back into it): that property and
# the CustomActionData are longer than the installer's first answer holds,
# and are read whole. It lies on the prefix's C: drive, where only the
# installing account can change it, as the elevated installer demands (a
# folder above the build folder may be changeable by others).
drive_c=$WORK/prefix/drive_c
name="fw tool [x] $(printf 'd%.0s' $(seq $((242 - 2 - 13))))"
tool="$drive_c/$name"
mkdir -p "$tool"
cp "$FAKE_TOOL" "$tool/flashkeeper.exe"
tool_win="C:\\$name"
long_tool_dir=$tool_win
while [ ${#long_tool_dir} -le 255 ]; do long_tool_dir+="\\..\\$name"; done

# install NAME REPORT PROPERTIES...: installs the package with REPORT for the
# tool to replay, logging to NAME.log; sets CODE. The tool's arguments start
# afresh.
install() {
  local name=$1 report=$2
  shift 2
  cp "$report" "$tool/report.txt"
  rm -f "$tool/args.txt"
  run_in "$package" msiexec /i "${package_msi:-fw.msi}" /qn /l*v "$name.log" "$@"
}

uninstall() {
  run_in "$package" msiexec /x "${package_msi:-fw.msi}" /qn
  expect_eq "$CODE" 0 "uninstall: exit code"
}

# restart: Windows starts again; the end of the prefix's wineserver stands in for it.
restart() { wineserver -k && wineserver -w && wine_start_server; }

update_required=$root/samples/flashkeeper-report.txt
up_to_date=$WORK/up-to-date.txt
printf 'Device #1:\n  Part Number:   VN2-4410-B\n  PSID:          QV_0000000021\n  Status:        Up to date\n' >"$up_to_date"

# An update is required: the check says so, the update runs, and the install
# asks for a restart.
install update "$update_required" "FIRMWARE_TOOL_DIR=$long_tool_dir"
expect_eq "$CODE" 3010 "update required: exit code"
log=$(installer_log_lines "$package/update.log")
for line in "RunFlashKeeper: running command \"$tool_win\\flashkeeper.exe\" --no" \
    "CheckFirmware: status 2, result 0, update required: yes" \
    "RunFlashKeeper: running command \"$tool_win\\flashkeeper.exe\" -u -y" \
    "UpdateFirmware: the firmware update finished: status 1, result 0"; do
  grep -qxF "$line" <<<"$log" || fail "update required: the installer log lacks: $line"
done
expect_eq "$(firmware_registry_value FirmwareStatus)" 2 "update required: FIRMWARE_STATUS in the registry"
expect_eq "$(firmware_registry_value FirmwareCheckFailed)" "" "update required: FIRMWARE_CHECK_FAILED"
expect_eq "$(firmware_registry_value FirmwareDevicesReported)/$(firmware_registry_value FirmwareDevicesExamined)" \
  3/3 "update required: devices reported and examined"
expect_eq "$(tr -d '\r' <"$tool/args.txt")" $'--no\n-u -y' "update required: the tool's runs"
uninstall

# Until the restart, another install updates nothing and asks for the restart again.
install pending "$update_required" "FIRMWARE_TOOL_DIR=$tool_win"
expect_eq "$CODE" 3010 "restart pending: exit code"
expect_eq "$(firmware_registry_value FirmwareRestartPending)" 1 "restart pending: FIRMWARE_RESTART_PENDING"
expect_eq "$(tr -d '\r' <"$tool/args.txt")" "--no" "restart pending: the tool's runs"
uninstall
restart

# One device updated, another failed to open: the update failed, and the restart is asked for.
printf 'Device #1:\n  Status: Update required\nDevice #2:\n  Status: Failed to open device\n' >"$WORK/one-failed.txt"
install one-failed "$WORK/one-failed.txt" "FIRMWARE_TOOL_DIR=$tool_win"
expect_eq "$CODE" 3010 "one device failed to open: exit code"
uninstall
restart

# Up to date: no update runs.
install current "$up_to_date" "FIRMWARE_TOOL_DIR=$tool_win"
expect_eq "$CODE" 0 "up to date: exit code"
expect_eq "$(firmware_registry_value FirmwareStatus)" 0 "up to date: FIRMWARE_STATUS"
expect_eq "$(tr -d '\r' <"$tool/args.txt")" "--no" "up to date: the tool's runs"
uninstall

# No tool where the folder says: result 5000, the check failed, the install
# still succeeds.
install missing "$update_required" "FIRMWARE_TOOL_DIR=$tool_win\\missing"
expect_eq "$CODE" 0 "missing tool: exit code"
product_installed "$product" || fail "missing tool: the product is not installed"
expect_eq "$(firmware_registry_value FirmwareResult)" 5000 "missing tool: FIRMWARE_RESULT"
expect_eq "$(firmware_registry_value FirmwareCheckFailed)" 1 "missing tool: FIRMWARE_CHECK_FAILED"
[ ! -f "$tool/args.txt" ] || fail "missing tool: the tool in the other folder ran"
grep -q "^CheckFirmware: the check failed: " "$package/missing.log" ||
  fail "missing tool: no reason in the installer log"
uninstall

# Folders whose names the installer's code page (1252) cannot hold. The 8-bit
# property call would give look-alikes: "bf ő" as "bf o", a folder with a
# tool of its own. The check fails and runs nothing; the install succeeds.
export LC_ALL=C.UTF-8  # Wine reads Linux paths and arguments in the locale's character set
untranslatable=("$WORK/bf ő" "$WORK/工具中")
for dir in "$WORK/bf o" "${untranslatable[@]}"; do
  mkdir -p "$dir"
  cp "$FAKE_TOOL" "$dir/flashkeeper.exe"
  cp "$update_required" "$dir/report.txt"
done
# no_other_tool_ran CASE: none of these folders' tools ran.
no_other_tool_ran() {
  for dir in "$WORK/bf o" "${untranslatable[@]}"; do
    [ ! -f "$dir/args.txt" ] || fail "$1: the tool in $dir ran"
  done
}
for dir in "${untranslatable[@]}"; do
  install untranslatable "$update_required" "FIRMWARE_TOOL_DIR=$(winepath -w "$dir")"
  expect_eq "$CODE" 0 "$dir: exit code"
  expect_eq "$(firmware_registry_value FirmwareCheckFailed)" 1 "$dir: FIRMWARE_CHECK_FAILED"
  grep -qF "CheckFirmware: the check failed: FIRMWARE_TOOL_DIR holds a character that the installer's code page cannot hold; nothing was run" \
    "$package/untranslatable.log" || fail "$dir: no reason in the installer log"
  no_other_tool_ran "$dir"
  uninstall
done

# A failing update: CustomActionData written by hand, as an author may, names
# a folder without the tool, and must-succeed twice. Only
# FIRMWARE_UPDATE_MUST_SUCCEED=1, wherever it stands, fails the install, and
# then nothing of it stays.
sed -e 's|<InstallExecuteSequence>|<CustomAction Id="HandWrittenData" Property="UpdateFirmware" Value="FIRMWARE_TOOL_DIR=[UPDATE_DIR];FIRMWARE_UPDATE_MUST_SUCCEED=0;FIRMWARE_UPDATE_MUST_SUCCEED=[MUST]"/>\n&\n<Custom Action="HandWrittenData" Sequence="1020">UPDATE_DIR</Custom>|' \
  "$firmware_wxs" >"$WORK/hand-written.wxs"
firmware_package "$package" "$ACTION_DLL" "$WORK/hand-written.wxs"
install may-fail "$update_required" "FIRMWARE_TOOL_DIR=$tool_win" "UPDATE_DIR=$tool_win\\missing"
expect_eq "$CODE" 0 "failing update that may fail: exit code"
grep -qF "UpdateFirmware: FIRMWARE_UPDATE_MUST_SUCCEED is not set: the install goes on" "$package/may-fail.log" ||
  fail "failing update that may fail: not in the installer log"
uninstall
install must-succeed "$update_required" "FIRMWARE_TOOL_DIR=$tool_win" "UPDATE_DIR=$tool_win\\missing" MUST=1
expect_eq "$CODE" 1603 "failing update that must succeed: exit code"
grep -qF "UpdateFirmware: FIRMWARE_UPDATE_MUST_SUCCEED is set: the install fails" "$package/must-succeed.log" ||
  fail "failing update that must succeed: not in the installer log"
! product_installed "$product" || fail "failing update that must succeed: the product is installed"
expect_eq "$(firmware_registry_value FirmwareStatus)" "" "failing update that must succeed: registry left behind"

# Between the check and the update the tool folder becomes one that
# everyone can change (an action runs chmod, as Wine starts Linux programs;
# by a link, since the installer would take the brackets in the folder's
# name for its own): the update runs nothing, and must-succeed fails the
# install.
sed -e 's|<InstallExecuteSequence>|<CustomAction Id="OpenToolFolder" Property="CHMOD" ExeCommand="o+w [OPEN_DIR]"/>\n&\n<Custom Action="OpenToolFolder" Sequence="1020">OPEN_DIR</Custom>|' \
  "$firmware_wxs" >"$WORK/opened.wxs"
firmware_package "$package" "$ACTION_DLL" "$WORK/opened.wxs"
ln -sfn "$tool" "$WORK/tool-link"
install opened "$update_required" "FIRMWARE_TOOL_DIR=$tool_win" "OPEN_DIR=$WORK/tool-link" \
  'CHMOD=Z:\bin\chmod' FIRMWARE_UPDATE_MUST_SUCCEED=1
expect_eq "$CODE" 1603 "a tool folder opened to everyone before the update: exit code"
refusal="the tool folder can be changed by Everyone (add files, add folders, delete what it holds, delete or rename it): $tool_win; nothing was run"
grep -qF "UpdateFirmware: the firmware update failed: $refusal" "$package/opened.log" ||
  fail "a tool folder opened to everyone: no refusal in the installer log"
expect_eq "$(tr -d '\r' <"$tool/args.txt")" "--no" "a tool folder opened to everyone: the tool's runs"
# Still open: the check runs nothing and fails, the install goes on.
install refused "$update_required" "FIRMWARE_TOOL_DIR=$tool_win"
chmod o-w "$tool"
expect_eq "$CODE/$(firmware_registry_value FirmwareResult)" 0/5112 "a tool folder open to everyone: exit code/FIRMWARE_RESULT"
grep -qF "CheckFirmware: the check failed: $refusal" "$package/refused.log" && [ ! -f "$tool/args.txt" ] ||
  fail "a tool folder open to everyone: the check ran it or gave no reason"
uninstall
firmware_package "$package" "$ACTION_DLL" "$WORK/hand-written.wxs"

# Hand-written data naming a folder the code page cannot hold: the update runs
# nothing, and MUST=1 in it still fails the install.
update_dir=UPDATE_DIR=$(winepath -w "${untranslatable[0]}")
install untranslatable-must "$update_required" "FIRMWARE_TOOL_DIR=$tool_win" "$update_dir" MUST=1
expect_eq "$CODE" 1603 "data the code page cannot hold, must succeed: exit code"
grep -qF "UpdateFirmware: the firmware update failed: the CustomActionData holds a character that the installer's code page cannot hold; nothing was run" \
  "$package/untranslatable-must.log" || fail "data the code page cannot hold: no reason in the installer log"
! product_installed "$product" || fail "data the code page cannot hold, must succeed: the product is installed"
install untranslatable-may "$update_required" "FIRMWARE_TOOL_DIR=$tool_win" "$update_dir"
expect_eq "$CODE" 0 "data the code page cannot hold, may fail: exit code"
grep -qF "UpdateFirmware: FIRMWARE_UPDATE_MUST_SUCCEED is not set: the install goes on" "$package/untranslatable-may.log" ||
  fail "data the code page cannot hold, may fail: not in the installer log"
no_other_tool_ran "hand-written data"
uninstall

# Through setup.exe, as an admin runs it, with a relative tool folder, an
# update that runs just over a minute and a report line that the installer's
# formatting would eat. The update tells the installer that it runs and for
# how long, hides the Cancel button meanwhile, and the install asks for a
# restart without making one: 3010 comes through setup.exe.
setup_dir=$drive_c/setup
firmware_package "$setup_dir" "$ACTION_DLL"
cp "$SETUP_EXE" "$setup_dir/setup.exe"
mkdir -p "$setup_dir/tool"
cp "$FAKE_TOOL" "$setup_dir/tool/flashkeeper.exe"
odd_line='  Note: [1] {{a}} {x} [%PATH] [\[]'
{ cat "$update_required"; printf '%s\n' "$odd_line"; } >"$setup_dir/tool/report.txt"
printf 61000 >"$setup_dir/tool/update-sleep.txt"
run_in "$setup_dir" '.\setup.exe' fw.msi "$(msi_property "$setup_dir/fw.msi" UpgradeCode)" "$product" \
  "$(msi_package_code "$setup_dir/fw.msi")" /S "/v/qn /l*v setup.log FIRMWARE_TOOL_DIR=tool"
expect_eq "$CODE" 3010 "setup.exe: exit code"
product_installed "$product" || fail "setup.exe: the product is not installed"
log=$(installer_log_lines "$setup_dir/setup.log")
tool_command="$(winepath -w "$setup_dir/tool")\\flashkeeper.exe"
[[ $tool_command != *' '* ]] || tool_command="\"$tool_command\""
for line in "RunFlashKeeper: running command $tool_command -u -y" \
    "CheckFirmware: devices reported: 3, examined: 3" \
    "Updating device firmware. Do not turn off the computer." \
    "The firmware update has run for 1 minute." \
    "$odd_line" \
    "UpdateFirmware: the firmware update finished: status 1, result 0" \
    "ScheduleFirmwareRestart: a restart is asked for at the end (REBOOT=ReallySuppress)"; do
  grep -qxF -- "$line" <<<"$log" || fail "setup.exe: the installer log lacks: $line"
done
grep -qE '^Action [0-9:]+: UpdateFirmware\. Updating device firmware\. Do not turn off the computer\.$' <<<"$log" ||
  fail "setup.exe: no action start of UpdateFirmware in the installer log"
# Cancel hidden before the first report of the time, shown again after it.
at() { grep -nxF -- "$1" <<<"$log" | head -1 | cut -d: -f1; }
hidden=$(at "Message type: 2, Argument: 0")
minute=$(at "The firmware update has run for 1 minute.")
shown=$(at "Message type: 2, Argument: 1")
[ -n "$hidden" ] && [ -n "$shown" ] && [ "$hidden" -lt "$minute" ] && [ "$minute" -lt "$shown" ] ||
  fail "setup.exe: the Cancel button is not hidden around the update (lines $hidden, $minute, $shown)"
