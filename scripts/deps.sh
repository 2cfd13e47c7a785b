# Debian packages the build, the tests and the demo need; sourced by the
# scripts, which install whatever is missing.
FIRSTLOAD_PACKAGES=(
  g++ cmake make pkg-config
  googletest libgtest-dev libbenchmark-dev
  libcurl4-openssl-dev libxml2-dev libgtk-3-dev libproxy-dev
  python3 xvfb x11-utils xdotool fonts-liberation locales strace openssl
  # The proxy cases: a real squid, and libproxy's GNOME settings and PAC runner.
  squid libproxy1-plugin-gsettings libproxy1-plugin-webkit
  # A Kerberos realm of the tests' own, for a proxy that wants Negotiate.
  krb5-kdc krb5-admin-server krb5-user
)

# What the Windows build and its tests under Wine need besides.
FIRSTLOAD_WINDOWS_PACKAGES=(
  g++-mingw-w64-x86-64 dpkg-dev wine wine64
)

# Signing the packages, when a key is given; the signing tests' token besides.
FIRSTLOAD_SIGNING_PACKAGES=(
  osslsigncode libengine-pkcs11-openssl gnupg
)
FIRSTLOAD_SIGNING_TEST_PACKAGES=(
  softhsm2 gpgv
)

ensure_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
}
