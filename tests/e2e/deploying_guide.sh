#!/bin/bash
# docs/deploying.md, run: every command line of the guide's named fenced blocks,
# with the sample package's codes in place of the placeholders, ends as the
# guide says. Where a deployment tool cannot run here, the command line that
# tool would start runs instead.
. "$(dirname "$0")/e2e-lib.sh"
guide=$root/docs/deploying.md

# block NAME: the lines of the fenced block named NAME ("```LANGUAGE NAME").
block() {
  local lines
  lines=$(awk -v name="$1" '/^```/ { inside = !inside && $2 == name; next } inside' "$guide")
  [ -n "$lines" ] || fail "no block named $1 in the guide"
  printf '%s\n' "$lines"
}

# Every fenced block is named, by a name this test runs, and each is there.
known=" intune-install intune-uninstall configmgr psadt winget powershell-setup detect remediate fleet fleet-output "
while read -r language name; do
  [[ -n $name && $known == *" $name "* ]] ||
    fail "the guide's block '$language $name' is not run by this test"
done < <(awk '/^```/ { if (!inside) print substr($0, 4); inside = !inside }' "$guide")
for name in $known; do block "$name" >/dev/null; done

# ps_argument BLOCK PARAMETER: each single-quoted value of -PARAMETER in BLOCK.
ps_argument() { block "$1" | grep -oP -- "-$2 '\K[^']*"; }

# ps_calls BLOCK: BLOCK's calls (& 'PROGRAM' ARGUMENTS) as PowerShell hands them
# to the program: its single-quoted arguments in double quotes, and without
# the redirection of its standard error, which cmd would make its own.
ps_calls() {
  block "$1" | grep -oP "&\s+\K'[^']*'(\s+('[^']*'|[^\s'|]+))*" | sed -E "s/'([^']*)'/\"\1\"/g; s/ 2>\\\$null//"
}

# filled LINE: LINE with the sample package's codes for the placeholders.
filled() {
  local line=$1 unknown
  unknown=$(grep -oP '\{[A-Z]+(-[A-Z]+)+\}' <<<"$line" | grep -vxE '\{(UPGRADE|PRODUCT|PACKAGE)-CODE\}') || true
  [ -z "$unknown" ] || fail "a placeholder the test does not know: $unknown"
  line=${line//"{UPGRADE-CODE}"/${SAMPLE_CODES[0]}}
  line=${line//"{PRODUCT-CODE}"/${SAMPLE_CODES[1]}}
  line=${line//"{PACKAGE-CODE}"/${SAMPLE_CODES[2]}}
  printf '%s' "$line"
}

# run_line DIR LINE: LINE from DIR as the current folder, the command line
# exactly as written, as a deployment tool hands it to the system: cmd reads it
# from a batch file and passes it on unchanged, for it holds none of the
# characters cmd acts on. Sets CODE to the exit code and OUTPUT to the output.
run_line() {
  [[ $2 != *[%^\&\|\<\>]* ]] || fail "cmd would change this command line: $2"
  printf '@%s\r\n' "$2" >"$1/guide-line.cmd"
  run_in "$1" cmd /c guide-line.cmd
  rm "$1/guide-line.cmd"
  OUTPUT=${CODE%$'\n'*}
  CODE=${CODE##*$'\n'}
}

# expect_setup NAME CODE INSTALLED: the setup.exe command line NAME, filled in
# and run from its folder, ends with CODE, and the product is then installed or
# not (yes, no) as detection by its product code sees it. A debug log added to
# the line shows msiexec's command: it holds the /v text, and no reinstall,
# since the product is only ever installed from this very package, so a
# package code that is not the package's shows.
expect_setup() {
  local line installed=no command
  line=$(filled "${lines[$1]}")
  rm -f "$WORK/setup-debug.txt"
  run_line "${folders[$1]}" "$line \"/debuglog$debug_log\""
  expect_eq "$CODE" "$2" "$1: exit code"
  product_installed "$product" && installed=yes
  expect_eq "$installed" "$3" "$1: product installed"
  command=$(grep -a '^RunMsiexec: starting ' "$WORK/setup-debug.txt" | tr -d '\r')
  [[ $command != *REINSTALL* ]] || fail "$1: a reinstall, the package code is not the package's: $command"
  [[ ! $line =~ /v\"([^\"]*)\" || $command == *" ${BASH_REMATCH[1]}" ]] ||
    fail "$1: msiexec did not get the /v text: $command"
}

e2e_begin
package=$WORK/package
make_package "$package" "build 1"
product=${SAMPLE_CODES[1]}
debug_log=$(winepath -w "$WORK/setup-debug.txt")

# The setup.exe command lines, and the folder each runs from. Intune and
# Configuration Manager run the command from the content's folder.
declare -A lines folders
lines[intune-install]=$(block intune-install)
lines[intune-uninstall]=$(block intune-uninstall)
lines[configmgr-install]=$(ps_argument configmgr InstallCommand)
lines[configmgr-uninstall]=$(ps_argument configmgr UninstallCommand)
expect_eq "$(filled "$(ps_argument configmgr ProductCode)")" "$product" "ConfigMgr detection: product code"

# The toolkit starts its file from its Files folder with the argument list;
# install, then uninstall.
mapfile -t programs < <(block psadt | grep -oP '"\$\(\$adtSession\.DirFiles\)\\\K[^"]+')
mapfile -t arguments < <(ps_argument psadt ArgumentList)
expect_eq "${#programs[@]} ${#arguments[@]}" "2 2" "toolkit: calls and argument lists"
lines[toolkit-install]="${programs[0]} ${arguments[0]}"
lines[toolkit-uninstall]="${programs[1]} ${arguments[1]}"
for name in "${!lines[@]}"; do folders[$name]=$package; done

# Start-Process joins its argument list with blanks and starts setup.exe by its
# full path, here a copy of the release folder, from a folder of its own.
setup_path=$(ps_argument powershell-setup FilePath)
mapfile -t argument_list < <(block powershell-setup | tr '\n' ' ' | grep -oP -- '-ArgumentList\K.*' |
  grep -oP "'[^']*'" | tr -d "'")
lines[powershell]="\"$setup_path\" ${argument_list[*]}"
folders[powershell]=$WORK
copy=$(winepath -u "${setup_path%\\*}")
mkdir -p "$copy" && cp "$package/setup.exe" "$package/drv.msi" "$copy"

# winget extracts the whole zip into one folder and starts the nested installer
# by its full path, with the switches after it, from a folder of its own. The
# zip holds the release folder: setup.exe and drv.msi.
block winget >"$WORK/winget.yaml"
mapfile -t manifest < <(python3 - "$WORK/winget.yaml" "$package" "$WORK/winget" <<'EOF'
import os, sys, yaml, zipfile
manifest, package, winget = sys.argv[1:]
installer = yaml.safe_load(open(manifest))["Installers"][0]
os.makedirs(winget)
with zipfile.ZipFile(os.path.join(winget, "package.zip"), "w") as archive:
    for name in ("setup.exe", "drv.msi"):
        archive.write(os.path.join(package, name), name)
zipfile.ZipFile(os.path.join(winget, "package.zip")).extractall(os.path.join(winget, "extracted"))
print(installer["InstallerType"], installer["NestedInstallerType"])
print(installer["NestedInstallerFiles"][0]["RelativeFilePath"])
for mode in ("SilentWithProgress", "Silent", "Interactive"):
    print(installer["InstallerSwitches"][mode])
EOF
)
expect_eq "${manifest[0]}" "zip exe" "winget: installer and nested installer types"
installer=$(winepath -w "$WORK/winget/extracted/${manifest[1]}")
lines[winget]="\"$installer\" ${manifest[2]}"
lines[winget-silent]="\"$installer\" ${manifest[3]}"
lines[winget-interactive]="\"$installer\" ${manifest[4]}"
for name in winget winget-silent winget-interactive; do folders[$name]=$WORK/winget; done

# Each install line runs at least once with the product installed already.
expect_setup intune-install 0 yes
expect_setup configmgr-install 0 yes
expect_setup toolkit-install 0 yes
expect_setup winget 0 yes
expect_setup winget-silent 0 yes
expect_setup winget-interactive 0 yes
expect_setup intune-uninstall 0 no
expect_setup toolkit-install 0 yes
expect_setup configmgr-uninstall 0 no
expect_setup intune-install 0 yes
expect_setup toolkit-uninstall 0 no
expect_setup powershell 0 yes

# fwcheck where the scripts look for it, and the stand-in tool, replaying the
# sample report (an update required), where they name the tool folder.
detect=$(ps_calls detect)
program=$(winepath -u "$(cut -d'"' -f2 <<<"$detect")")
tools_win=$(rev <<<"$detect" | cut -d'"' -f2 | rev)
tools=$(winepath -u "$tools_win")
mkdir -p "$(dirname "$program")" "$tools"
cp "$FWCHECK_EXE" "$program"
# No tool in the folder yet: the check fails, the update too, and the JSON the
# scripts read holds the reason.
for script in detect remediate; do
  run_line "$WORK" "$(ps_calls $script)"
  expect_eq "$CODE" 1 "$script: exit code (the check failed)"
  [[ $OUTPUT == *'"failed": true, "reason": "'* ]] || fail "$script: no reason in the JSON: $OUTPUT"
done
cp "$FAKE_TOOL" "$tools/flashkeeper.exe"
cp "$root/samples/flashkeeper-report.txt" "$tools/report.txt"

run_line "$WORK" "$detect"
expect_eq "$CODE" 3 "detection: exit code (an update is required)"
run_line "$WORK" "$(ps_calls remediate)"
expect_eq "$CODE" 3 "remediation: exit code (an update was made)"
expect_eq "$(tr -d '\r' <"$tools/args.txt")" $'--no\n-u -y' "the tool's runs"
# Until the restart the detection sees it pending and a second remediation
# runs nothing; the wineserver's end stands in for the restart.
run_line "$WORK" "$detect"
expect_eq "$CODE" 5 "detection after the remediation: exit code (a restart is pending)"
run_line "$WORK" "$(ps_calls remediate)"
expect_eq "$CODE" 5 "a second remediation: exit code (a restart is pending)"
expect_eq "$(tr -d '\r' <"$tools/args.txt")" $'--no\n-u -y\n--no' "the tool's runs until the restart"
wineserver -k && wineserver -w && wine_start_server
run_line "$WORK" "$detect"
expect_eq "$CODE" 3 "detection after the restart: exit code"

# The guide's JSON is what fwcheck prints: every member it shows, with its value.
run_line "$WORK" "$(ps_calls fleet)"
expect_eq "$CODE" 0 "fleet: exit code"
block fleet-output >"$WORK/fleet-output.json"
python3 - "$OUTPUT" "$WORK/fleet-output.json" <<'EOF' || fail "the guide's JSON is not what fwcheck prints"
import json, sys
def differences(shown, printed, where="$"):
    if isinstance(shown, dict) and isinstance(printed, dict):
        return [d for key in shown for d in
                (differences(shown[key], printed[key], f"{where}.{key}") if key in printed
                 else [f"{where}.{key}: not printed"])]
    if isinstance(shown, list) and isinstance(printed, list) and len(shown) == len(printed):
        return [d for i, pair in enumerate(zip(shown, printed)) for d in differences(*pair, f"{where}[{i}]")]
    return [] if shown == printed else [f"{where}: guide {shown!r}, fwcheck {printed!r}"]
found = differences(json.load(open(sys.argv[2])), json.loads(sys.argv[1]))
if found:
    sys.exit("\n".join(found))
EOF

# An install whose firmware update updated a device ends with 3010: the
# firmware sample as the release's drv.msi, its tool folder the scripts' one.
sed "s|<Binary |<Property Id=\"FIRMWARE_TOOL_DIR\" Value=\"${tools_win//\\/\\\\}\"/>&|" "$firmware_wxs" >"$WORK/firmware.wxs"
firmware_package "$WORK/firmware" "$ACTION_DLL" "$WORK/firmware.wxs"
mv "$WORK/firmware/fw.msi" "$WORK/firmware/drv.msi"
cp "$SETUP_EXE" "$WORK/firmware/setup.exe"
SAMPLE_CODES=("$(msi_property "$WORK/firmware/drv.msi" UpgradeCode)"
  "$(msi_property "$WORK/firmware/drv.msi" ProductCode)" "$(msi_package_code "$WORK/firmware/drv.msi")")
product=${SAMPLE_CODES[1]} folders[intune-install]=$WORK/firmware
expect_setup intune-install 3010 yes
