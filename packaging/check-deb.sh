#!/usr/bin/env bash
# Installs the Debian package on this machine, checks that the installed programs run and that
# every file is where the desktop, udev, man and bash-completion expect it, then removes the
# package again.
#   packaging/check-deb.sh [PACKAGE.deb]
# Without an argument, builds the package first (Release build in build-pkg, then cpack).
# Needs root (or sudo) for dpkg, and xvfb-run for the demo. Refuses to run when the package is
# already installed, so that the machine is left as it was found.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
package_name=talkgate-utility
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"

failures=0
pass() { echo "ok:   $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

deb=${1:-}
if [ -z "$deb" ]; then
  build="$root/build-pkg"
  BUILD_TYPE=Release "$root/scripts/build.sh" "$build" -DTALKGATE_BUILD_TESTS=OFF \
    -DTALKGATE_BUILD_BENCH=OFF
  rm -f "$build"/${package_name}_*.deb
  (cd "$build" && cpack -G DEB >/dev/null)
  deb=$(ls "$build"/${package_name}_*.deb)
fi
deb=$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")
[ -f "$deb" ] || { echo "No package at $deb"; exit 2; }

if dpkg-query -W -f='${Status}' "$package_name" 2>/dev/null | grep -q "install ok installed"; then
  echo "$package_name is already installed; remove it first (dpkg --purge $package_name)."
  exit 2
fi

work=$(mktemp -d)
cleanup() {
  $sudo_cmd dpkg --purge "$package_name" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "== installing $deb"
if ! $sudo_cmd dpkg -i "$deb"; then
  echo "Installing missing dependencies"
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -f -y -qq
fi
check "package installed" dpkg-query -W "$package_name"

echo "== files"
listed=$(dpkg -L "$package_name")
for path in /usr/bin/talkgate-utility /usr/bin/talkgate-demo /usr/bin/talkgatectl \
    /usr/lib/udev/rules.d/70-talkgate.rules \
    /usr/share/applications/talkgate-utility.desktop \
    /usr/share/applications/talkgate-demo.desktop \
    /usr/share/icons/hicolor/scalable/apps/talkgate-utility.svg \
    /usr/share/man/man1/talkgatectl.1.gz \
    /usr/share/bash-completion/completions/talkgatectl \
    /usr/share/talkgate-utility/Lumesk.jpg \
    /usr/share/talkgate-utility/demo-images/talkgate_fw_1.1.0.txt; do
  check "$path" grep -qx "$path" <<<"$listed"
  [ -e "$path" ] || fail "$path listed but missing on disk"
done
stray=$(grep '^/usr/bin/' <<<"$listed" | grep -v -x -e /usr/bin/talkgate-utility \
  -e /usr/bin/talkgate-demo -e /usr/bin/talkgatectl || true)
check "nothing but the three programs in /usr/bin" test -z "$stray"

echo "== udev rule"
rule=/usr/lib/udev/rules.d/70-talkgate.rules
for product in 0922 0200; do
  check "hidraw access for 2047:$product" grep -Eq \
    "^KERNEL==\"hidraw\*\", ATTRS\{idVendor\}==\"2047\", ATTRS\{idProduct\}==\"$product\".*TAG\+=\"uaccess\"" \
    "$rule"
done

echo "== desktop entries and icon"
for entry in talkgate-utility talkgate-demo; do
  file=/usr/share/applications/$entry.desktop
  exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$file")
  check "$entry.desktop runs an installed program" test -x "/usr/bin/$exec_name"
  check "$entry.desktop names the installed icon" grep -qx "Icon=talkgate-utility" "$file"
  if command -v desktop-file-validate >/dev/null; then
    check "$entry.desktop is valid" desktop-file-validate "$file"
  fi
done
check "icon is an SVG picture" grep -q "<svg" /usr/share/icons/hicolor/scalable/apps/talkgate-utility.svg

echo "== manual page and completion"
check "manual page has its title" sh -c "zcat /usr/share/man/man1/talkgatectl.1.gz | grep -q '^\.TH TALKGATECTL 1'"
completed=$(bash -c 'source /usr/share/bash-completion/completions/talkgatectl
  COMP_WORDS=(talkgatectl con); COMP_CWORD=1; _talkgatectl; echo "${COMPREPLY[*]}"')
check "completion completes 'con' to 'config' (got '$completed')" test "$completed" = config

echo "== talkgatectl from a clean folder"
mkdir -p "$work/home" "$work/run"
cd "$work/run"
clean_env=(env -i "HOME=$work/home" "PATH=/usr/bin:/bin" "LANG=C.UTF-8")
if status=$("${clean_env[@]}" talkgatectl --simulate status 2>&1); then
  pass "talkgatectl --simulate status"
  echo "$status" | sed 's/^/      /'
  check "status names the firmware version" grep -q "1\.0\.4" <<<"$status"
else
  fail "talkgatectl --simulate status: $status"
fi
# The simulated Talkgate is built from the installed demo image, not from a source tree.
if command -v strace >/dev/null; then
  opened=$("${clean_env[@]}" strace -f -e trace=openat talkgatectl --simulate status 2>&1 >/dev/null |
    grep -o '"[^"]*talkgate_fw_[^"]*"' || true)
  check "talkgatectl reads the installed demo image (opened: ${opened:-nothing})" \
    test "$opened" = '"/usr/share/talkgate-utility/demo-images/talkgate_fw_1.0.4.txt"'
fi
upgrade_log=$("${clean_env[@]}" talkgatectl --simulate --json upgrade \
  /usr/share/talkgate-utility/demo-images/talkgate_fw_1.1.0.txt --yes 2>&1) || true
check "simulated upgrade to the installed 1.1.0 image" \
  grep -q '"firmware_version": *"1\.1\.0"' <<<"$upgrade_log"

echo "== talkgate-demo under Xvfb"
shot="$work/demo.png"
if command -v xvfb-run >/dev/null; then
  if timeout 60 "${clean_env[@]}" TALKGATE_SCREENSHOT="$shot" \
      xvfb-run -a talkgate-demo >"$work/demo.log" 2>&1; then
    pass "talkgate-demo started and ended"
  else
    fail "talkgate-demo: $(cat "$work/demo.log")"
  fi
  check "talkgate-demo saved a screenshot" test -s "$shot"
  check "talkgate-demo showed no message box" test -z "$(grep '^\[' "$work/demo.log" || true)"
  [ -s "$shot" ] && cp "$shot" "${SCREENSHOT_OUT:-/tmp/talkgate-demo-installed.png}" &&
    echo "      screenshot: ${SCREENSHOT_OUT:-/tmp/talkgate-demo-installed.png}"
else
  fail "xvfb-run not found (apt-get install xvfb xauth)"
fi
cd /

echo "== removing"
$sudo_cmd dpkg --purge "$package_name" >/dev/null
check "package purged (dpkg no longer knows it)" sh -c "! dpkg-query -W $package_name >/dev/null 2>&1"
check "programs gone" test ! -e /usr/bin/talkgatectl
check "udev rule gone" test ! -e "$rule"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
