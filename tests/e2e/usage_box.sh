#!/bin/bash
# The usage box is a real window with its caption and text, and Return closes
# it; silent mode anywhere among the switches suppresses it, and a silent run
# shows no window of the shell's either.
. "$(dirname "$0")/e2e-lib.sh"
caption="Vantreo Oriel2 installer"
usage=$'Command line parameters: \n /? , /h usage instructions\n /L Language ID \n/S Hide initialization dialog for silent mode use /S /v/qn \n /V Parameters for MsiExec.exe\n'

# A display of the test's own, set before its Wine server starts.
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$WORK.display" 2>/dev/null &
on_exit "kill $!; rm -f '$WORK.display'"
for _ in $(seq 100); do
  [ -s "$WORK.display" ] && break
  sleep 0.1
done
[ -s "$WORK.display" ] || fail "Xvfb did not start"
DISPLAY=":$(cat "$WORK.display")"
export DISPLAY
e2e_begin
package=$WORK/package
make_package "$package" "build 1"

box_id() { xdotool search --name "^$caption\$" 2>/dev/null | head -1 || true; }
# Windows on the screen that were not there when setup.exe started (Wine
# keeps one of its own), the shell's error box included.
visible_windows() { xdotool search --onlyvisible --name "" 2>/dev/null | sort || true; }
new_windows() { comm -13 <(printf '%s\n' "$screen_before") <(visible_windows); }

# run_bare DIR ARGUMENTS...: DIR's setup.exe without the package's arguments.
run_bare() {
  local dir=$1
  shift
  run_in "$dir" '.\setup.exe' "$@"
}

# start_setup SWITCHES...: setup.exe in the background (by $runner, run_setup
# unless set); its exit code goes to $WORK/code once it ends.
start_setup() {
  rm -f "$WORK/code"
  screen_before=$(visible_windows)
  ("${runner:-run_setup}" "$package" "$@" && echo "$CODE" >"$WORK/code") &
  setup_pid=$!
}

# await_setup NAME EXPECTED_CODE [silent]: waits up to 30 s for setup.exe to
# end with the code; when silent, fails as soon as any window shows.
await_setup() {
  for _ in $(seq 150); do
    kill -0 "$setup_pid" 2>/dev/null || break
    [ "${3-}" != silent ] || [ -z "$(new_windows)" ] || fail "$1: a window shows"
    sleep 0.2
  done
  ! kill -0 "$setup_pid" 2>/dev/null || fail "$1: setup.exe does not end"
  wait "$setup_pid" || true
  expect_eq "$(cat "$WORK/code" 2>/dev/null)" "$2" "$1: exit code"
}

# expect_box NAME SWITCHES... EXPECTED_CODE: the box shows with the usage text
# and a picture of it is taken; Return closes it and setup ends with the code.
expect_box() {
  local name=$1 id=""
  start_setup "${@:2:$#-2}"
  for _ in $(seq 150); do
    id=$(box_id)
    [ -n "$id" ] && break
    sleep 0.2
  done
  [ -n "$id" ] || fail "$name: no window captioned $caption"
  wine "$FIXTURES/window_text.exe" "$caption" </dev/null >"$WORK/$name.text" 2>&1 ||
    fail "$name: the box's text could not be read"
  # One of the texts, each ended by a line feed, is the usage text exactly;
  # the dot keeps the final line feeds from the command substitution.
  local texts
  texts=$(cat "$WORK/$name.text" && echo .)
  [[ $'\n'"${texts%.}" == *$'\n'"$usage"$'\n'* ]] ||
    fail "$name: the box does not show the usage text: ${texts%.}"
  # A box not yet painted gives a picture of one colour: try again briefly.
  for _ in $(seq 25); do
    import -window "$id" "$WORK/$name.png"
    [ "$(identify -format %k "$WORK/$name.png")" -le 1 ] || break
    sleep 0.2
  done
  [ "$(identify -format %k "$WORK/$name.png")" -gt 1 ] || fail "$name: the picture is blank"
  xdotool key --window "$id" Return 2>/dev/null
  await_setup "$name" "${!#}"
}

expect_box help /? 0
expect_box unknown-switch /unknown 87
runner=run_bare expect_box help-without-package /? 0
start_setup /S /?
await_setup "silent help" 0 silent
# The walk stops at the unknown switch, but /S after it makes the run silent.
start_setup /q /S /v/qn
await_setup "silent with an unknown switch" 87 silent
runner=run_bare start_setup /? /S
await_setup "silent help without a package" 0 silent
runner=run_bare start_setup /S
await_setup "too few arguments" 101 silent

# msiexec cannot be started: the shell's error box would wait for a click.
system32=$WINEPREFIX/drive_c/windows/system32
mv "$system32/msiexec.exe" "$system32/msiexec.exe.away"
start_setup /S /v/qn
await_setup "silent run without msiexec" 1 silent
mv "$system32/msiexec.exe.away" "$system32/msiexec.exe"
