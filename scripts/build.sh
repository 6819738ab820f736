#!/usr/bin/env bash
# Configures and builds one build folder: scripts/build.sh DIR [cmake options...]
# BUILD_TYPE picks the build type (RelWithDebInfo), BUILD_TARGET one target, TALKGATE_WERROR=ON
# makes warnings errors.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} \
  ${TALKGATE_WERROR:+-DTALKGATE_WERROR=$TALKGATE_WERROR} "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)" ${BUILD_TARGET:+--target $BUILD_TARGET}
