# Shared set-up for scripts/run and scripts/test: installs the Debian packages the project
# needs when they are missing, then configures and builds. Source it; do not run it.

# Everything the build, the tests and the benchmarks need.
TOVANEL_PACKAGES=(
  g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libpulse-dev libsoxr-dev
  pulseaudio pulseaudio-utils
  pipewire pipewire-pulse wireplumber dbus-daemon
  procps
)

tovanel_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null 2>&1; then
    sudo "$@"
  else
    echo "error: '$*' needs root, and sudo is not available" >&2
    return 1
  fi
}

# Installs the packages of TOVANEL_PACKAGES (and any given as arguments) that are missing.
ensure_packages() {
  local wanted=("${TOVANEL_PACKAGES[@]}" "$@") missing=() package
  if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "note: not a Debian system; make sure these are installed: ${wanted[*]}" >&2
    return 0
  fi
  for package in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  if [ "${#missing[@]}" -eq 0 ]; then
    return 0
  fi
  echo "Installing missing packages: ${missing[*]}"
  as_root apt-get update -q
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    "${missing[@]}"
}

# configure_and_build <build directory> [cmake arguments...] [-- targets...]
configure_and_build() {
  local dir=$1
  shift
  local configure=() targets=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do configure+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  targets=("$@")
  cmake -S "$tovanel_root" -B "$tovanel_root/$dir" -G Ninja "${configure[@]}" >/dev/null
  if [ "${#targets[@]}" -gt 0 ]; then
    cmake --build "$tovanel_root/$dir" --target "${targets[@]}"
  else
    cmake --build "$tovanel_root/$dir"
  fi
}

tovanel_jobs() {
  nproc 2>/dev/null || echo 2
}
