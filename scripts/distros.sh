# Root file systems of other Debian releases, made with debootstrap from
# Debian's archive and kept in build-distros/ while their recipe stays the
# same: one to build the shipped Linux programs in (Debian 11, the oldest
# system they are for), and bare ones of Debian 11 and 13 to run them in.
# Sourced after deps.sh.
FIRSTLOAD_DISTROS=${FIRSTLOAD_DISTROS:-"$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build-distros"}
FIRSTLOAD_DEBIAN_MIRROR=${FIRSTLOAD_DEBIAN_MIRROR:-http://deb.debian.org/debian}

FIRSTLOAD_DISTRO_PACKAGES=(debootstrap iproute2)

# The build system: Debian 11's compiler, CMake and -dev packages, natively
# and for arm64 beside them (multiarch, as on the machine), and what the
# SBOM is made with.
FIRSTLOAD_BUILD_ROOT=(bullseye
  g++ cmake make pkg-config gettext python3 dpkg-dev g++-aarch64-linux-gnu
  libcurl4-openssl-dev libgtk-3-dev libproxy-dev libsodium-dev
  libcurl4-openssl-dev:arm64 libgtk-3-dev:arm64 libproxy-dev:arm64 libsodium-dev:arm64)
# What a desktop of each release has that FirstLoad loads: GTK, libcurl,
# libproxy with GNOME's settings, a font.
FIRSTLOAD_RUN_ROOT_11=(bullseye
  libgtk-3-0 libcurl4 libproxy1v5 libproxy1-plugin-gsettings gsettings-desktop-schemas
  fonts-dejavu-core)
FIRSTLOAD_RUN_ROOT_13=(trixie
  libgtk-3-0t64 libcurl4t64 libproxy1v5 gsettings-desktop-schemas fonts-dejavu-core)

# in_root [--bind FOLDER:DIR]... ROOT COMMAND...: COMMAND in ROOT, in a mount
# namespace of its own with /proc, /dev and each FOLDER at DIR.
in_root() {
  local binds=()
  while [ "$1" = --bind ]; do binds+=("$2") && shift 2; done
  unshare --mount --fork bash -ec '
    root=$1 n=$2
    shift 2
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    for ((i = 0; i < n; i++)); do
      mkdir -p "$root/${1#*:}" && mount --bind "${1%%:*}" "$root/${1#*:}" && shift
    done
    exec chroot "$root" "$@"' bash "$1" "${#binds[@]}" "${binds[@]}" "${@:2}"
}

# distro_root NAME SUITE PACKAGES...: sets distro_dir to the root file system
# NAME, made now unless the one kept was made from the same recipe. Made
# aside and moved into place whole, so that an interrupted run leaves none
# to be taken for one.
distro_root() {
  local name=$1 suite=$2
  shift 2
  distro_dir="$FIRSTLOAD_DISTROS/$name"
  # The recipe: the release, the mirror, the packages and how they are put in.
  local recipe
  recipe="$suite $FIRSTLOAD_DEBIAN_MIRROR $* $(declare -f distro_root | sha256sum | cut -c1-16)"
  if [ "$(cat "$distro_dir/.recipe" 2>/dev/null)" = "$recipe" ]; then return 0; fi
  ensure_packages "${FIRSTLOAD_DISTRO_PACKAGES[@]}"
  phase "root file system $name ($suite)"
  local new="$distro_dir.new"
  rm -rf "$distro_dir" "$new"
  mkdir -p "$FIRSTLOAD_DISTROS"
  debootstrap --variant=minbase "$suite" "$new" "$FIRSTLOAD_DEBIAN_MIRROR" > "$new.log" 2>&1 ||
    { tail -20 "$new.log" >&2; return 1; }
  local foreign
  foreign=$(printf '%s\n' "$@" | sed -n 's/.*:\([a-z0-9]*\)$/\1/p' | sort -u)
  in_root "$new" sh -ec '
    for arch in '"$foreign"'; do dpkg --add-architecture "$arch"; done
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "$@"
    apt-get clean
    # A desktop has its font cache made; without it GTK makes it first.
    if command -v fc-cache > /dev/null; then fc-cache; fi
    rm -rf /var/lib/apt/lists/*' sh "$@" >> "$new.log" 2>&1 ||
    { tail -20 "$new.log" >&2; return 1; }
  rm -f "$new.log"
  printf '%s' "$recipe" > "$new/.recipe"
  mv "$new" "$distro_dir"
  phase_continue
}
