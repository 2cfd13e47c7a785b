# Signing for scripts/package, sourced by it. Nothing is signed unless a key
# is given; then every input is tried before the builds start, so that a wrong
# password, a missing token or a timestamp authority that does not answer
# stops the run at once. The variables, all optional:
#   FIRSTLOAD_SIGN_PKCS12          a PKCS#12 file with the code-signing key and
#                                  its certificate (and the chain to add)
#   FIRSTLOAD_SIGN_PKCS11_MODULE   or a key on a PKCS#11 token: the module, e.g.
#   FIRSTLOAD_SIGN_PKCS11_KEY        /usr/lib/softhsm/libsofthsm2.so, the key's
#   FIRSTLOAD_SIGN_CERT              pkcs11: URI and its certificate (PEM, with
#                                    the chain to add)
#   FIRSTLOAD_SIGN_PASSWORD_FILE   the PKCS#12 password or the token's PIN, in a
#   FIRSTLOAD_SIGN_PASSWORD          file or a variable; it reaches osslsigncode
#                                    through a pipe, never its command line
#   FIRSTLOAD_SIGN_TIMESTAMP_URL   an RFC 3161 timestamp authority
#   FIRSTLOAD_SIGN_TIMEOUT         seconds one signature may take (60)
#   FIRSTLOAD_GPG_KEY              an OpenPGP key (of the gpg keyring in use)
#                                  that signs SHA256SUMS into SHA256SUMS.asc
# FirstLoad.exe and recordfile.exe get an Authenticode signature (SHA-256)
# appended and nothing else changed: removing it gives back the unsigned build.

FIRSTLOAD_SIGN_TIMEOUT=${FIRSTLOAD_SIGN_TIMEOUT:-60}
# The password stays in this shell; the builds and tools started later do not
# inherit it.
signing_password_given=${FIRSTLOAD_SIGN_PASSWORD+yes}
signing_password=${FIRSTLOAD_SIGN_PASSWORD-}
unset FIRSTLOAD_SIGN_PASSWORD

signing_fail() {
  echo "package: $*" >&2
  return 1
}

# Whether the Windows programs are signed.
signing_authenticode() {
  [ -n "${FIRSTLOAD_SIGN_PKCS12:-}${FIRSTLOAD_SIGN_PKCS11_KEY:-}" ]
}

# Checks the signing variables and signs a small program and a small file as
# the packages will be. Exits with the reason when anything is amiss.
signing_preflight() {
  signing_check_variables || exit 1
  if ! signing_authenticode && [ -z "${FIRSTLOAD_GPG_KEY:-}" ]; then return 0; fi
  source "$(dirname "${BASH_SOURCE[0]}")/deps.sh"
  ensure_packages "${FIRSTLOAD_SIGNING_PACKAGES[@]}"
  local trial status=0
  trial=$(mktemp -d /tmp/firstload-sign-XXXXXX)
  signing_trial "$trial" || status=$?
  rm -rf "$trial"
  [ "$status" -eq 0 ] || exit 1
}

# What osslsigncode would not report itself. The file and the key named are
# tried by the trial signature.
signing_check_variables() {
  if [ -n "${FIRSTLOAD_SIGN_PKCS12:-}" ] && [ -n "${FIRSTLOAD_SIGN_PKCS11_KEY:-}" ]; then
    signing_fail "FIRSTLOAD_SIGN_PKCS12 and FIRSTLOAD_SIGN_PKCS11_KEY are both set; give one key"
    return
  fi
  # A signing option without a key would give unsigned packages unnoticed.
  if ! signing_authenticode; then
    local name
    for name in FIRSTLOAD_SIGN_PKCS11_MODULE FIRSTLOAD_SIGN_CERT FIRSTLOAD_SIGN_PASSWORD_FILE \
                FIRSTLOAD_SIGN_TIMESTAMP_URL; do
      [ -z "${!name:-}" ] || { signing_fail "$name is set but no key is given" \
        "(FIRSTLOAD_SIGN_PKCS12 or FIRSTLOAD_SIGN_PKCS11_KEY)"; return; }
    done
    return 0
  fi
  [ -n "${FIRSTLOAD_SIGN_PKCS12:-}" ] && return 0
  [ -n "${FIRSTLOAD_SIGN_CERT:-}" ] ||
    { signing_fail "a PKCS#11 key needs its certificate in FIRSTLOAD_SIGN_CERT"; return; }
  [ -r "${FIRSTLOAD_SIGN_PKCS11_MODULE:-}" ] ||
    signing_fail "no PKCS#11 module at '${FIRSTLOAD_SIGN_PKCS11_MODULE:-}'" \
      "(FIRSTLOAD_SIGN_PKCS11_MODULE)"
}

# osslsigncode with the key's options and the password on a pipe; its output
# is shown only when it fails.
signing_osslsigncode() {  # signing_osslsigncode WHAT ARGS...
  local what=$1 output status=0
  shift
  local key=()
  if [ -n "${FIRSTLOAD_SIGN_PKCS12:-}" ]; then
    key=(-pkcs12 "$FIRSTLOAD_SIGN_PKCS12")
  else
    key=(-pkcs11module "$FIRSTLOAD_SIGN_PKCS11_MODULE" -key "$FIRSTLOAD_SIGN_PKCS11_KEY"
         -certs "$FIRSTLOAD_SIGN_CERT")
  fi
  if [ -n "${FIRSTLOAD_SIGN_PASSWORD_FILE:-}" ]; then
    key+=(-readpass "$FIRSTLOAD_SIGN_PASSWORD_FILE")
  elif [ -n "$signing_password_given" ]; then
    key+=(-readpass /dev/stdin)
  fi
  output=$(printf '%s' "$signing_password" |
           timeout "$FIRSTLOAD_SIGN_TIMEOUT" osslsigncode sign "${key[@]}" "$@" 2>&1) || status=$?
  [ "$status" -eq 0 ] && return 0
  [ "$status" -ne 124 ] || output="no answer within $FIRSTLOAD_SIGN_TIMEOUT s"
  signing_fail "$what: $output"
}

signing_trial() {  # signing_trial FOLDER
  local dir=$1
  if signing_authenticode; then
    echo 'int main(void) { return 0; }' > "$dir/trial.c"
    x86_64-w64-mingw32-gcc -s -o "$dir/trial.exe" "$dir/trial.c" ||
      signing_fail "cannot build a program to try the signing key on" || return
    # The key first, then the timestamp, so that the message names the one
    # that failed.
    signing_osslsigncode "the signing key cannot sign" -h sha256 \
      -in "$dir/trial.exe" -out "$dir/signed.exe" || return
    if [ -n "${FIRSTLOAD_SIGN_TIMESTAMP_URL:-}" ]; then
      local output status=0
      output=$(timeout "$FIRSTLOAD_SIGN_TIMEOUT" osslsigncode add -h sha256 \
               -ts "$FIRSTLOAD_SIGN_TIMESTAMP_URL" -in "$dir/signed.exe" \
               -out "$dir/stamped.exe" 2>&1) || status=$?
      [ "$status" -ne 124 ] || output="no answer within $FIRSTLOAD_SIGN_TIMEOUT s"
      [ "$status" -eq 0 ] || signing_fail "the timestamp authority" \
        "$FIRSTLOAD_SIGN_TIMESTAMP_URL gave no timestamp: $output" || return
    fi
  fi
  if [ -n "${FIRSTLOAD_GPG_KEY:-}" ]; then
    echo trial > "$dir/trial.txt"
    signing_gpg "$dir/trial.txt" || return
  fi
}

signing_gpg() {  # signing_gpg FILE: writes FILE.asc
  local output status=0
  output=$(timeout "$FIRSTLOAD_SIGN_TIMEOUT" gpg --batch --yes --armor \
           --local-user "$FIRSTLOAD_GPG_KEY" --output "$1.asc" --detach-sign "$1" 2>&1) ||
    status=$?
  [ "$status" -ne 124 ] || output="no answer within $FIRSTLOAD_SIGN_TIMEOUT s"
  [ "$status" -eq 0 ] || { rm -f "$1.asc"; signing_fail "the OpenPGP key $FIRSTLOAD_GPG_KEY" \
    "cannot sign: $output"; }
}

# Signs each program in place; a program whose signing fails is left as it
# was.
sign_windows() {  # sign_windows EXE...
  signing_authenticode || return 0
  local exe stamp=()
  [ -z "${FIRSTLOAD_SIGN_TIMESTAMP_URL:-}" ] || stamp=(-ts "$FIRSTLOAD_SIGN_TIMESTAMP_URL")
  for exe in "$@"; do
    rm -f "$exe.signed"
    signing_osslsigncode "signing $(basename "$exe") failed" -h sha256 "${stamp[@]}" \
      -in "$exe" -out "$exe.signed" || { rm -f "$exe.signed"; return 1; }
    mv "$exe.signed" "$exe"
  done
}

# A detached signature of the checksums, FILE.asc, when an OpenPGP key is given.
sign_checksums() {  # sign_checksums FILE
  [ -z "${FIRSTLOAD_GPG_KEY:-}" ] || signing_gpg "$1"
}
