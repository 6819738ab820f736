#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those that are missing (mingw-w64, wine
# and googletest for the Windows build of scripts/test-windows).
set -euo pipefail
packages=(cmake ninja-build g++ clang pkg-config qt6-base-dev libhidapi-dev libgtest-dev libgmock-dev
          libbenchmark-dev xvfb xauth libgl1-mesa-dev libclang-rt-14-dev libxcb1-dev openbox xdotool
          x11-utils
          dpkg-dev file qemu-system-x86 linux-image-amd64 busybox-static mingw-w64 wine wine64
          googletest)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  install() {
    $sudo_cmd apt-get update -qq &&
      DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
  }
  # TALKGATE_QUIET=1 keeps apt's own output in a log that is shown only when it fails.
  if [ "${TALKGATE_QUIET:-0}" = 1 ]; then
    log=$(mktemp)
    install >"$log" 2>&1 || { cat "$log"; rm -f "$log"; exit 1; }
    rm -f "$log"
  else
    install
  fi
fi
