#!/usr/bin/env bash
# The project's whole set-up, build and checks, for a Debian 12 machine (as
# root: it installs what is missing with apt-get).
#   ./dev.sh demo    build, then convert the sample image and show the result
#   ./dev.sh check   build, then run the whole test suite (also under ASan/UBSan,
#                    and the Windows build under Wine)
set -euo pipefail
cd "$(dirname "$0")"

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libcli11-dev libboost-dev libssl-dev qt6-base-dev
  libvmdk1 qemu-utils xvfb xauth xdotool xclip time
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine64 dpkg-dev make
)

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

# build DIR [CMAKE_OPTIONS...]
build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir"
}

case "${1:-}" in
  demo)
    install_missing
    build build
    bin=build/bin
    out=build/demo
    mkdir -p "$out"
    echo "== size of examples/sample.vmdk"
    "$bin/tessaly-cli" size examples/sample.vmdk
    echo "== convert examples/sample.vmdk -> $out/sample.dd"
    "$bin/tessaly-cli" convert examples/sample.vmdk -o "$out/sample.dd"
    echo "== SHA-256 of the raw image (expected $(cat examples/sample.sha256))"
    sha256sum "$out/sample.dd"
    ;;
  check)
    install_missing
    build build
    ctest --test-dir build --output-on-failure -j2
    build build-asan -DCMAKE_BUILD_TYPE=Debug -DTESSALY_SANITIZE=ON
    ctest --test-dir build-asan --output-on-failure -j2
    # The Windows build, cross-compiled, its tests run under Wine.
    cmake --preset windows >/dev/null
    cmake --build build-windows
    WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" /usr/lib/wine/wine64 wineboot --init
    ctest --test-dir build-windows --output-on-failure -j2
    ;;
  *)
    echo "usage: $0 demo|check" >&2
    exit 2
    ;;
esac
