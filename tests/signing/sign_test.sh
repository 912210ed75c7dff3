#!/bin/bash
# sign_test.sh CASE FILE [CHECK...]: scripts/sign on a copy of a built program,
# with a throwaway certificate made here.
#   signed     the copy, signed with the password in a file, in a variable or
#              with none, each time over the last signature, verifies with a
#              SHA-256 digest, keeps its mode, passes the CHECKs of
#              check-binary.sh, is the program built once its signature is
#              removed, and fails to verify once a byte of its code changes.
#              The work folder a killed run left beside it goes, and the run
#              says so; one that a running signer holds stays.
#   failures   each way signing can fail exits non-zero and leaves the file as it was.
#   timestamp  signing against a local RFC 3161 server gives a time stamp that verifies.
#   release    scripts/release, in a tree whose build copies the program, with
#              each row of release_table.
# Every run of scripts/sign goes through a recording osslsigncode: the password
# must appear neither on a command line nor in what the script prints.
# SIGN, RELEASE and CHECK_BINARY name the scripts; OBJDUMP, OBJCOPY and STRIP the binutils.
set -euo pipefail
test_case=$1
program=$2
shift 2
unset "${!SETUP_SIGN_@}"

scratch=$(mktemp -d)
servers=()
trap 'kill "${servers[@]}" 2>/dev/null || true; rm -rf "$scratch"' EXIT
here=$(cd "$(dirname "$0")" && pwd)

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

password=Quartz-Lantern-7193
printf '%s\n' "$password" >"$scratch/password"
printf '%s\n' "wrong-$password" >"$scratch/wrong-password"
openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Throwaway Test Signer" \
  -addext extendedKeyUsage=codeSigning -days 2 \
  -keyout "$scratch/signer.key" -out "$scratch/signer.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$scratch/signer.key" -in "$scratch/signer.pem" \
  -passout "file:$scratch/password" -out "$scratch/signer.p12"

mkdir "$scratch/bin" "$scratch/files"
cat >"$scratch/bin/osslsigncode" <<EOF
#!/bin/bash
printf '%s\n' "\$*" >>"$scratch/command-lines"
exec $(command -v osslsigncode) "\$@"
EOF
chmod +x "$scratch/bin/osslsigncode"
: >"$scratch/command-lines"
PATH=$scratch/bin:$PATH

target=$scratch/files/$(basename "$program")
cp "$program" "$target"

# sign ENV...: scripts/sign (or $script) with the environment ENV (NAME=VALUE
# words) and the arguments in the array args; its status in $status, its output
# in the scratch folder.
sign() {
  status=0
  env "$@" "${script:-$SIGN}" "${args[@]}" >"$scratch/out" 2>"$scratch/err" || status=$?
  ! grep -qF -- "$password" "$scratch/out" "$scratch/err" "$scratch/command-lines" ||
    fail "the password was printed or put on a command line"
}

verify() {
  osslsigncode verify -CAfile "$1" -TSA-CAfile "$1" -in "$2" >"$scratch/verify" 2>&1
}

certificate=(SETUP_SIGN_PKCS12="$scratch/signer.p12" SETUP_SIGN_CAFILE="$scratch/signer.pem")

signed() {
  chmod 751 "$target"
  args=("$target")
  openssl pkcs12 -export -inkey "$scratch/signer.key" -in "$scratch/signer.pem" \
    -passout pass: -out "$scratch/open.p12"
  local leftover=$scratch/files/.sign.Kq7Zp2 live=$scratch/files/.sign.Lv4Wn8 reports=1 lock
  mkdir "$leftover" "$live"
  head -c 4096 "$program" >"$leftover/$(basename "$target")"
  exec {lock}<"$live"
  flock --exclusive "$lock"
  # Each way to give the password, or none; from the second on, the file is
  # signed already and must come out with one signature all the same.
  for password_given in SETUP_SIGN_PASSWORD_FILE="$scratch/password" \
      SETUP_SIGN_PASSWORD="$password" SETUP_SIGN_PKCS12="$scratch/open.p12"; do
    sign "${certificate[@]}" "$password_given"
    [ "$status" -eq 0 ] || { cat "$scratch/err" >&2; fail "signing with ${password_given%%=*} failed"; }
    verify "$scratch/signer.pem" "$target" ||
      { cat "$scratch/verify" >&2; fail "the file signed with ${password_given%%=*} does not verify"; }
    ! grep -q 'Signature Index: 1' "$scratch/verify" || fail "signing again nested a second signature"
    [ "$(grep -c "removed .*/.sign" "$scratch/err")" -eq "$reports" ] ||
      fail "not one line on the leftover of a killed run: $(cat "$scratch/err")"
    reports=0
  done
  [ ! -e "$leftover" ] || fail "the leftover of a killed run is still there"
  [ -d "$live" ] || fail "the work folder of a running signer was removed"
  grep -q "without a time stamp" "$scratch/err" || fail "no word that the file has no time stamp"
  grep -Eq '^Message digest algorithm *: SHA256' "$scratch/verify" || fail "the digest is not SHA-256"
  [ "$(stat -c %a "$target")" = 751 ] || fail "signing changed the file's mode"
  for check in "$@"; do
    bash "$CHECK_BINARY" "$check" "$target" >"$scratch/check" ||
      fail "the signed file fails the $check check"
    # Built stripped, the signed file ships as it is: the size counted is its own.
    [ "$check" != size ] || grep -q " $(stat -c %s "$target") bytes" "$scratch/check" ||
      fail "the size check does not count the signature: $(cat "$scratch/check")"
  done

  # Without its signature the file is the build's own again: a signed release
  # can be checked against a build of the same sources.
  osslsigncode remove-signature -in "$target" -out "$scratch/unsigned" >/dev/null
  cmp -s "$scratch/unsigned" "$program" || fail "without its signature the file is not the program built"

  # A byte in the middle of the code section, far from the signature at the end.
  read -r size offset < <("$OBJDUMP" -h "$target" | awk '$2 == ".text" { print $3, $6 }')
  local at=$((0x$offset + 0x$size / 2)) byte
  byte=$(od -An -tu1 -j "$at" -N 1 "$target")
  # shellcheck disable=SC2059 # the format is the escape of the flipped byte
  printf "$(printf '\\x%02x' $((byte ^ 0xff)))" | dd of="$target" bs=1 seek="$at" conv=notrunc status=none
  ! verify "$scratch/signer.pem" "$target" || fail "the file verifies with a byte of its code changed"
}

# NAME | STATUS | ENVIRONMENT (besides the certificate) | FILES (target: the copy)
failure_table() {
  cat <<EOF
no certificate                |2| SETUP_SIGN_PKCS12=                                  | target
no file to sign               |2|                                                     |
wrong password                |1| SETUP_SIGN_PASSWORD=wrong-$password                 | target
wrong password in a file      |1| SETUP_SIGN_PASSWORD_FILE=$scratch/wrong-password    | target
no password file              |1| SETUP_SIGN_PASSWORD_FILE=$scratch/missing           | target
no certificate file           |1| SETUP_SIGN_PKCS12=$scratch/missing.p12              | target
certificate not PKCS#12       |1| SETUP_SIGN_PKCS12=$scratch/signer.pem               | target
missing file among others     |1| SETUP_SIGN_PASSWORD=$password                       | target $scratch/files/missing.exe
not a program among others    |1| SETUP_SIGN_PASSWORD=$password                       | target $scratch/files/notes.txt
untrusted signer              |1| SETUP_SIGN_PASSWORD=$password SETUP_SIGN_CAFILE=    | target
untrusted time-stamp server   |1| SETUP_SIGN_PASSWORD=$password SETUP_SIGN_TIMESTAMP_URL=http://127.0.0.1:$tsa_port/ | target
unreachable time-stamp server |1| SETUP_SIGN_PASSWORD=$password SETUP_SIGN_TIMESTAMP_URL=http://127.0.0.1:1/ | target
silent time-stamp server      |1| SETUP_SIGN_PASSWORD=$password SETUP_SIGN_TIMESTAMP_URL=http://127.0.0.1:$silent_port/ SETUP_SIGN_TIMEOUT=2 | target
EOF
}

# The names in the folder of the copy, hidden ones too, and the sums of its files.
listing() {
  (cd "$scratch/files" && ls -A && sha256sum -- *)
}

failures() {
  echo "plain text" >"$scratch/files/notes.txt"
  start_server silent
  silent_port=$port
  start_server
  tsa_port=$port
  local before
  before=$(listing)
  while IFS='|' read -r name expected environment files; do
    read -ra args <<<"${files//target/$target}"
    # shellcheck disable=SC2086 # the environment column is a list of words
    sign "${certificate[@]}" $environment
    [ "$status" -eq "$expected" ] || fail "$name: exit status $status, not $expected"
    [ -s "$scratch/err" ] || fail "$name: no message"
    [ "$(listing)" = "$before" ] ||
      fail "$name: the files changed or a temporary file was left behind"
  done < <(failure_table)
}

# start_server [silent]: a time-stamp server on 127.0.0.1 with a throwaway
# certificate of its own, its port in $port.
start_server() {
  [ -f "$scratch/tsa.pem" ] ||
    openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Throwaway Test TSA" \
      -addext "extendedKeyUsage=critical,timeStamping" -days 2 \
      -keyout "$scratch/tsa.key" -out "$scratch/tsa.pem" 2>/dev/null
  cat >"$scratch/tsa.cnf" <<EOF
[ tsa ]
default_tsa = throwaway
[ throwaway ]
serial = $scratch/tsa-serial
signer_cert = $scratch/tsa.pem
signer_key = $scratch/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256
ess_cert_id_alg = sha256
EOF
  python3 "$here/tsa_server.py" "$scratch/tsa.cnf" "$@" >"$scratch/port" 2>"$scratch/tsa.log" &
  servers+=($!)
  for _ in $(seq 100); do
    port=$(head -n 1 "$scratch/port")
    [ -z "$port" ] || return 0
    sleep 0.1
  done
  fail "the time-stamp server did not start: $(cat "$scratch/tsa.log")"
}

timestamp() {
  start_server
  cat "$scratch/signer.pem" "$scratch/tsa.pem" >"$scratch/ca.pem"
  args=("$target")
  sign SETUP_SIGN_PKCS12="$scratch/signer.p12" SETUP_SIGN_CAFILE="$scratch/ca.pem" \
    SETUP_SIGN_PASSWORD="$password" SETUP_SIGN_TIMESTAMP_URL="http://127.0.0.1:$port/"
  [ "$status" -eq 0 ] || { cat "$scratch/err" "$scratch/tsa.log" >&2; fail "signing with a time stamp failed"; }
  ! grep -q "without a time stamp" "$scratch/err" || fail "claims to sign without a time stamp"
  verify "$scratch/ca.pem" "$target" || { cat "$scratch/verify" >&2; fail "the time-stamped file does not verify"; }
  grep -q '^Timestamp Server Signature verification: ok' "$scratch/verify" ||
    fail "no verified time stamp: $(cat "$scratch/verify")"
}

# NAME | STATUS | ENVIRONMENT; run from the scratch folder, outside the tree.
release_table() {
  cat <<EOF
relative paths                 |0| SETUP_SIGN_PKCS12=signer.p12 SETUP_SIGN_PASSWORD_FILE=password SETUP_SIGN_CAFILE=signer.pem
password but no certificate    |2| SETUP_SIGN_PKCS12= SETUP_SIGN_PASSWORD=$password
time stamp but no certificate  |2| SETUP_SIGN_TIMESTAMP_URL=http://127.0.0.1:1/
relative path to no file       |1| SETUP_SIGN_PKCS12=signer.p12 SETUP_SIGN_CAFILE=files/signer.pem
EOF
}

# Each release either fails before anything is built or signs every program
# it built so that it verifies.
release() {
  local tree=$scratch/tree/checkout dist=$scratch/tree/checkout/build/release/dist
  mkdir -p "$tree/scripts"
  cp "$RELEASE" "$SIGN" "$tree/scripts/"
  printf '#!/bin/bash\necho install-deps >>"%s"\n' "$scratch/built" >"$tree/scripts/install-deps"
  cat >"$scratch/bin/cmake" <<EOF
#!/bin/bash
echo cmake >>"$scratch/built"
for built in setup/setup.exe firmware/fwcheck.exe firmware/custom_action/firmware_action.dll; do
  mkdir -p "build/release/\$(dirname "\$built")" && cp "$program" "build/release/\$built"
done
EOF
  chmod +x "$tree/scripts/install-deps" "$scratch/bin/cmake"
  cd "$scratch"
  script=$tree/scripts/release
  args=()
  while IFS='|' read -r name expected environment; do
    rm -f "$scratch/built"
    # shellcheck disable=SC2086 # the environment column is a list of words
    sign $environment
    [ "$status" -eq "$expected" ] || { cat "$scratch/err" >&2; fail "$name: exit status $status, not $expected"; }
    if [ "$expected" -ne 0 ]; then
      [ -s "$scratch/err" ] || fail "$name: no message"
      [ ! -e "$scratch/built" ] || fail "$name: built before failing"
      continue
    fi
    for file in setup.exe fwcheck.exe firmware_action.dll; do
      verify "$scratch/signer.pem" "$dist/$file" || fail "$name: $file is not signed"
    done
  done < <(release_table)
}

case $test_case in
  signed | failures | timestamp | release) "$test_case" "$@" ;;
  *) fail "unknown case: $test_case" ;;
esac
echo "passed: $test_case $(basename "$program")"
