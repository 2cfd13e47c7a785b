# Debian packages the build, the tests and the demo need; sourced by the
# scripts, which install whatever is missing.
source "$(dirname "${BASH_SOURCE[0]}")/phases.sh"

FIRSTLOAD_PACKAGES=(
  g++ cmake make pkg-config
  googletest libgtest-dev libbenchmark-dev
  libcurl4-openssl-dev libgtk-3-dev libproxy-dev
  # The HTML parser comes as Debian's source (ensure_gumbo_source): unpacked and
  # patched with these. libxml2 is only the benchmarks' yardstick.
  xz-utils patch libxml2-dev
  # The feature list's signature: libsodium, linked in; minisign signs the
  # tests' lists.
  libsodium-dev minisign
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
  # libsodium's source is built for Windows with its own autotools.
  autoconf automake libtool
)
# The display of the tests under Wine has a window manager, as a desktop has.
FIRSTLOAD_WINDOWS_TEST_PACKAGES=(
  openbox
)

# The arm64 build: Debian's cross compiler against the multiarch :arm64
# libraries, and the emulator that runs its programs and tests.
FIRSTLOAD_ARM64_PACKAGES=(
  g++-aarch64-linux-gnu qemu-user-static
  libcurl4-openssl-dev:arm64 libgtk-3-dev:arm64 libproxy-dev:arm64 libsodium-dev:arm64
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

# debian_source PACKAGE SUITE DEST [PATCH...]: the source package's upstream
# tarball from Debian's archive (the release SUITE), checked against the
# digest in the archive's signed source index and unpacked, with the patches
# applied, into DEST; made aside and moved into place when whole. The index's
# stanza lies beside it as the .dsc that tools/sbom.py reads, with the
# release it came from. A DEST made by the same recipe is kept.
debian_source() {
  local package=$1 suite=$2 dest=$3
  shift 3
  local stamp
  stamp="$package $suite $(cat /dev/null "$@" | sha256sum | cut -c1-16) $(declare -f debian_source | sha256sum | cut -c1-16)"
  [ "$(cat "$dest/.firstload-source" 2>/dev/null)" = "$stamp" ] && return 0
  phase "fetching the source of $package from Debian ($suite)"
  local mirror=${FIRSTLOAD_DEBIAN_MIRROR:-http://deb.debian.org/debian} work
  work=$(mktemp -d /tmp/firstload-source-XXXXXX)
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
  echo "deb-src $mirror $suite main" > "$work/sources.list"
  local conf=(-o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
              -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache")
  apt-get -q "${conf[@]}" -o APT::Sandbox::User="$(id -un)" update > /dev/null
  apt-cache "${conf[@]}" showsrc "$package" | awk '/^$/ { exit } { print }' > "$work/stanza"
  local dir line sum file version release
  dir=$(sed -n 's/^Directory: //p' "$work/stanza")
  line=$(awk '/^Checksums-Sha256:/ { on = 1; next } /^[^ ]/ { on = 0 } on && $3 ~ /\.orig\.tar\./ { print $1, $3 }' "$work/stanza")
  sum=${line%% *} file=${line#* }
  [ -n "$dir" ] && [ -n "$file" ] || { echo "no $package source in $suite" >&2; rm -rf "$work"; return 1; }
  curl -fsS -o "$work/$file" "$mirror/$dir/$file"
  echo "$sum  $work/$file" | sha256sum -c --quiet
  mkdir -p "$work/tree"
  tar -xf "$work/$file" -C "$work/tree" --strip-components=1
  local patch
  for patch in "$@"; do
    patch -s -d "$work/tree" -p1 < "$patch"
  done
  version=$(sed -n 's/^Version: //p' "$work/stanza")
  release=$(sed -n 's/^Version: \([0-9]*\).*/\1/p' "$work"/lists/*_InRelease | head -n1)
  { sed 's/^Package: /Source: /' "$work/stanza"; echo "X-Distro: debian-$release"; } \
    > "$work/tree/${package}_$version.dsc"
  echo "$stamp" > "$work/tree/.firstload-source"
  rm -rf "$dest"
  mkdir -p "$(dirname "$dest")"
  mv "$work/tree" "$dest"
  rm -rf "$work"
  phase_continue
}

# ensure_gumbo_source: the HTML parser's source, with the patches of
# cmake/gumbo/, in build-deps/gumbo-parser. Built into every program with the
# project's own compiler, so that the parser is the same on every platform
# and needs no newer C library than the rest.
FIRSTLOAD_GUMBO_SUITE=${FIRSTLOAD_GUMBO_SUITE:-trixie}
ensure_gumbo_source() {
  local root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  debian_source gumbo-parser "$FIRSTLOAD_GUMBO_SUITE" "$root/build-deps/gumbo-parser" \
    "$root"/cmake/gumbo/*.patch
}

# ensure_sodium_source: the Windows build's libsodium source (scripts/build-windows),
# in build-deps/libsodium; Linux links Debian's.
FIRSTLOAD_SODIUM_SUITE=${FIRSTLOAD_SODIUM_SUITE:-bookworm}
ensure_sodium_source() {
  local root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  debian_source libsodium "$FIRSTLOAD_SODIUM_SUITE" "$root/build-deps/libsodium"
}
