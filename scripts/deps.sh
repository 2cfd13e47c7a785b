# Debian packages the build, the tests and the demo need; sourced by the
# scripts, which install whatever is missing.
source "$(dirname "${BASH_SOURCE[0]}")/phases.sh"

FIRSTLOAD_PACKAGES=(
  g++ cmake make pkg-config
  googletest libgtest-dev libbenchmark-dev
  libcurl4-openssl-dev libxml2-dev libgtk-3-dev libproxy-dev
  python3 xvfb x11-utils xdotool fonts-liberation locales strace openssl
  # The window's texts in other languages: msgfmt builds their catalogues,
  # and a font with Chinese, Japanese and Korean letters lays them out (GTK
  # and Wine alike), so that their width is measured and not a fallback's.
  gettext fonts-wqy-zenhei
  # The windowed runs are read as a screen reader reads them: a D-Bus session
  # bus and the AT-SPI bus of their own, GTK's bridge to it, and Debian's
  # python3 with pyatspi for the reader.
  dbus-daemon dbus-bin at-spi2-core libatk-adaptor libatk-bridge2.0-0 python3-pyatspi
  # curl's own command line, which the proxy rules are held against.
  curl
  # The proxy cases: a real squid, and libproxy's GNOME settings and PAC runner.
  squid libproxy1-plugin-gsettings libproxy1-plugin-webkit
  # A Kerberos realm of the tests' own, for a proxy that wants Negotiate.
  krb5-kdc krb5-admin-server krb5-user
)

# What the Windows build and its tests under Wine need besides.
FIRSTLOAD_WINDOWS_PACKAGES=(
  g++-mingw-w64-x86-64 dpkg-dev wine wine64
)
# The display of the tests under Wine has a window manager, as a desktop has.
FIRSTLOAD_WINDOWS_TEST_PACKAGES=(
  openbox
)

# The arm64 build: Debian's cross compiler against the multiarch :arm64
# libraries, and the emulator that runs its programs and tests.
FIRSTLOAD_ARM64_PACKAGES=(
  g++-aarch64-linux-gnu qemu-user-static
  libcurl4-openssl-dev:arm64 libxml2-dev:arm64 libgtk-3-dev:arm64 libproxy-dev:arm64
  libgtest-dev:arm64 libx11-dev:arm64
)

# What scripts/check-package reads the release binaries with.
FIRSTLOAD_RELEASE_CHECK_PACKAGES=(
  devscripts python3-pefile binutils-aarch64-linux-gnu
)

# The SBOM validator's runtime (scripts/check-package), installed only where
# no node and npm are found: a Node.js from elsewhere, with its own npm,
# conflicts with Debian's npm.
FIRSTLOAD_SBOM_PACKAGES=(
  nodejs npm
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
  phase "installing ${#missing[@]} packages"
  echo "${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
  phase_continue
}

# ensure_arm64: the arm64 architecture and its packages. Without binfmt (as
# in a container) their install scripts cannot run arm64 programs, so the
# one whose output the tests need, GdkPixbuf's loader list, runs here
# through the emulator.
ensure_arm64() {
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  dpkg --print-foreign-architectures | grep -qx arm64 || $sudo dpkg --add-architecture arm64
  ensure_packages "${FIRSTLOAD_ARM64_PACKAGES[@]}"
  local loaders=/usr/lib/aarch64-linux-gnu/gdk-pixbuf-2.0
  if ! grep -qs xpm "$loaders/2.10.0/loaders.cache"; then
    $sudo qemu-aarch64-static "$loaders/gdk-pixbuf-query-loaders" --update-cache
  fi
}
