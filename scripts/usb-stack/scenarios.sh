#!/bin/bash
# The USB stack scenarios, run as root inside the test VM that scripts/test-usb-stack boots:
# the simulated Talkgate served as a USB gadget on dummy_hcd (talkgate-gadget) and the product's
# programs using it through usbcore, usbhid, hidraw and hidapi, as on a user's computer.
# One line per scenario goes to /results/results.txt ("PASS name" or "FAIL name: why"), the
# measured figures to /results/measured.txt.
set -u -o pipefail
root=$tg_root
bin=$tg_build/bin
ctl=$bin/talkgatectl
gadget=$bin/talkgate-gadget
results=/results/results.txt
measured=/results/measured.txt
work=/tmp/usb-stack
mkdir -p "$work/home" "$work/loader"
cd "$work" || exit 1
chmod 755 "$work" "$work/home"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
export QT_QPA_PLATFORM=offscreen
image_old=$work/talkgate_fw_1.0.4.txt
image_new=$work/talkgate_fw_1.1.0.txt
configfs=/sys/kernel/config/usb_gadget
gadget_pid=

log() { echo "$*" >>/results/guest.log; }
now_ms() { local t=${EPOCHREALTIME/./}; echo $((t / 1000)); }

# ---- the USB host and device controllers
load_usb() {  # load_usb DUMMY_HCD_OPTIONS...
  modprobe -r usb_f_hid libcomposite dummy_hcd 2>/dev/null
  modprobe dummy_hcd "$@" && modprobe libcomposite && modprobe usb_f_hid &&
    modprobe usbhid && modprobe hid_generic || return 1
  mountpoint -q /sys/kernel/config || mount -t configfs none /sys/kernel/config
}

# ---- the gadget
# hid_nodes VID:PID: how many hidraw nodes the host has for it.
hid_nodes() {
  local want="HID_ID=0003:0000${1%%:*}:0000${1##*:}" n=0 f line
  for f in /sys/class/hidraw/*/device/uevent; do
    [ -r "$f" ] || continue
    while read -r line; do [ "${line^^}" = "${want^^}" ] && n=$((n + 1)); done <"$f"
  done
  echo "$n"
}
# wait_nodes VID:PID COUNT [SECONDS]: until the host has COUNT hidraw nodes of it.
wait_nodes() {
  local deadline=$(( $(now_ms) + ${3:-20} * 1000 ))
  while [ "$(hid_nodes "$1")" -lt "$2" ]; do
    [ "$(now_ms)" -gt "$deadline" ] && return 1
    sleep 0.05
  done
}
# gadget_start ARGS...: starts talkgate-gadget and waits for the Talkgate (or a loader) on the
# host side; the gadget's lines go to gadget.log with the time they were printed.
gadget_start() {
  : >"$work/gadget.log"
  # The simulated part starts only the RAM loader this run generated, as a real part runs
  # only the loader that was made for it.
  ( "$gadget" --ram-loader "$work/loader/RAM_BSL.txt" "$@" 2>&1 & echo $! >"$work/gadget.pid"; wait ) |
    while IFS= read -r line; do echo "$(now_ms) $line"; done >>"$work/gadget.log" &
  sleep 0.2
  gadget_pid=$(cat "$work/gadget.pid")
  local deadline=$(( $(now_ms) + 20000 ))
  while [ "$(hid_nodes 2047:0922)" -lt 2 ] && [ "$(hid_nodes 2047:0200)" -lt 1 ]; do
    if ! kill -0 "$gadget_pid" 2>/dev/null || [ "$(now_ms)" -gt "$deadline" ]; then
      cat "$work/gadget.log"
      return 1
    fi
    sleep 0.05
  done
  cat "$work/gadget.log"
}
gadget_stop() {  # gadget_stop [SIGNAL]
  [ -n "$gadget_pid" ] || return 0
  kill -"${1:-TERM}" "$gadget_pid" 2>/dev/null
  local i
  for i in $(seq 100); do kill -0 "$gadget_pid" 2>/dev/null || break; sleep 0.05; done
  gadget_pid=
  sleep 0.1
  cat "$work/gadget.log"
  # Its gadgets are gone from configfs and from the host.
  [ -z "$(ls "$configfs")" ] && wait_gone
}
wait_gone() {
  local i
  for i in $(seq 100); do
    [ "$(hid_nodes 2047:0922)" = 0 ] && [ "$(hid_nodes 2047:0200)" = 0 ] && return 0
    sleep 0.05
  done
  return 1
}
# unplug_after SECONDS: pulls the cable behind the gadget's back (unbinds every gadget) that
# long after the Talkgate received its next request (the gadget's --verbose log shows it);
# fails, unplugging nothing, when no request comes within 30 s.
unplug_after() {
  local before; before=$(grep -c ': request ' "$work/gadget.log")
  local deadline=$(( $(now_ms) + 30000 ))
  while [ "$(grep -c ': request ' "$work/gadget.log")" -le "$before" ]; do
    [ "$(now_ms)" -gt "$deadline" ] && { echo "the Talkgate received no request"; return 1; }
    sleep 0.05
  done
  sleep "$1"
  local udc
  for udc in "$configfs"/*/UDC; do [ -n "$(cat "$udc")" ] && echo >"$udc"; done
}
as_user() { setpriv --reuid=65534 --regid=65534 --clear-groups -- "$@"; }

# ---- the images an upgrade of a real part needs, made here: two firmware images (the demo
# images' code and versions, 1.0.4 and 1.1.0, with interrupt vectors of their own, so that their
# password is none of the built-in stand-ins), the world whose part runs the first, and the loader
# images: the password is the part's interrupt vectors (0xFFE0-0xFFFF), the RAM loader any code
# at 0x2500 starting at 0x2504 (its version in the first four bytes).
hex_awk='function hex(text,   i, v) { v = 0; for (i = 1; i <= length(text); i++) v = v * 16 + index("0123456789ABCDEF", toupper(substr(text, i, 1))) - 1; return v }'
make_images() {
  local pair
  for pair in "$root/sim/images/talkgate_fw_1.0.4.txt:$image_old" "$root/sim/images/talkgate_fw_1.1.0.txt:$image_new"; do
    awk "$hex_awk"'
      { sub(/\r$/, "") }
      /^@/ { address = hex(substr($1, 2)); print; next }
      /^q/ { print; next }
      { line = ""
        for (i = 1; i <= NF; i++) {
          b = $i
          if (address >= 65504 && address < 65534) b = sprintf("%02X", (address * 7 + 90) % 256)
          line = line (i > 1 ? " " : "") b; address++
        }
        print line }' "${pair%%:*}" >"${pair##*:}"
  done
  awk 'BEGIN { printf "{\"version\": 2, \"talkgates\": [{\"mode\": \"firmware\", \"flash\": [" }
       { printf "%s\"%s\"", (NR > 1 ? ", " : ""), $0 }
       END { print "]}]}" }' "$image_old" >"$work/world-start.json"
  awk "$hex_awk"'
    /^@/ { address = hex(substr($1, 2)); next }
    /^q/ { next }
    { for (i = 1; i <= NF; i++) { if (address >= 65504 && address < 65536) bytes[address - 65504] = $i; address++ } }
    END { printf "@FFE0\n"; for (i = 0; i < 32; i++) printf "%s%s", bytes[i], (i % 16 == 15) ? "\n" : " "; print "q" }
  ' "$image_old" >"$work/loader/password.txt"
  awk 'BEGIN {
    printf "@2500\n00 06 05 34"; x = 7
    for (i = 4; i < 2048; i++) { x = (x * 75 + 74) % 65537; printf "%s%02X", (i % 16 == 0) ? "\n" : " ", x % 256 }
    print "\nq" }' >"$work/loader/RAM_BSL.txt"
}

# set_and_read SETTING VALUE: the change, then the status it shows.
set_and_read() { "$ctl" set "$1" "$2" && "$ctl" --json status; }

# The desktop program: it must open the vendor interface's hidraw node (its open files show it)
# and read the status (the Talkgate's log, from talkgate-gadget --verbose, shows request 01).
utility_reads_status() {
  local before; before=$(grep -c ': request 01$' "$work/gadget.log")
  "$bin/talkgate-utility" &
  local pid=$! i nodes=""
  for i in $(seq 600); do
    [ "$(grep -c ': request 01$' "$work/gadget.log")" -gt "$before" ] &&
      nodes=$(ls -l /proc/$pid/fd 2>/dev/null | grep -o '/dev/hidraw[0-9]*' | sort -u) &&
      [ -n "$nodes" ] && break
    kill -0 $pid 2>/dev/null || break
    sleep 0.1
  done
  kill -TERM $pid 2>/dev/null; wait $pid
  echo "open: $nodes; vendor interface: $(vendor_node)"
  tail -n 3 "$work/gadget.log"
  [ -n "$nodes" ] && [ "$nodes" = "$(vendor_node)" ] &&
    [ "$(grep -c ': request 01$' "$work/gadget.log")" -gt "$before" ]
}
# The hidraw node of the Talkgate's interface 1, from sysfs (bInterfaceNumber of its USB interface).
vendor_node() {
  local f
  for f in /sys/class/hidraw/hidraw*; do
    grep -qi 'HID_ID=0003:00002047:00000922' "$f/device/uevent" 2>/dev/null || continue
    [ "$(cat "$f/device/../bInterfaceNumber" 2>/dev/null)" = 01 ] && echo "/dev/${f##*/}"
  done
}

# ---- the USB port: what 'list --json' tells (hidapi) against the hidraw node's place in sysfs.
# json_locations ROLE: the "location" of each interface of that role, one a line.
json_locations() {
  "$ctl" --json list | awk -v role="\"$1\"," '
    $1 == "\"role\":" { mine = ($2 == role) }
    $1 == "\"location\":" && mine { gsub(/"/, "", $2); print $2 }'
}
# sysfs_port VID:PID: the name of the USB device (bus and port chain) each hidraw node of it hangs
# on: the parent of the node's USB interface.
sysfs_port() {
  local f
  for f in /sys/class/hidraw/hidraw*; do
    grep -qi "HID_ID=0003:0000${1%%:*}:0000${1##*:}" "$f/device/uevent" 2>/dev/null || continue
    basename "$(dirname "$(dirname "$(readlink -f "$f/device")")")"
  done | sort -u
}
# same_port ROLE VID:PID: one port for the role in 'list --json', not null, and sysfs agrees.
same_port() {
  local listed; listed=$(json_locations "$1" | sort -u)
  echo "list --json: $(echo $listed); sysfs: $(echo $(sysfs_port "$2"))"
  [ -n "$listed" ] && [ "$(echo "$listed" | wc -l)" = 1 ] && [ "$listed" != null ] &&
    [ "$listed" = "$(sysfs_port "$2")" ] && echo "$listed" >"$work/port.$1"
}
# two_ports: two Talkgates, two different ports, each as sysfs has it.
two_ports() {
  local listed; listed=$(json_locations configuration | sort -u)
  echo "list --json: $(echo $listed); sysfs: $(echo $(sysfs_port 2047:0922))"
  [ "$(echo "$listed" | grep -cv '^null$')" = 2 ] && [ "$listed" = "$(sysfs_port 2047:0922)" ]
}

# ---- the scenario table: name | exit status | output must match (ERE; "!" first: must not) | command
# A program killed by a signal (the kernel logs it) or a sanitizer report, in the scenario's
# output or the gadget's, fails the scenario whatever its exit status, also where a failure is
# the expected outcome.
crash_report() {  # crash_report GADGET_LOG_OFFSET
  local size; size=$(stat -c %s "$work/gadget.log" 2>/dev/null || echo 0)
  [ "$size" -ge "$1" ] || set -- 0
  { dmesg -c 2>/dev/null | grep -E 'segfault at|traps:|general protection'
    { cat "$work/out"; tail -c +$(($1 + 1)) "$work/gadget.log" 2>/dev/null; } |
      grep -E 'ERROR: [A-Za-z]+Sanitizer|runtime error:'; } | head -n 3 | tr '\n' ' '
}
run_table() {
  local name expect pattern cmd status gadget_offset crash
  dmesg -c >/dev/null 2>&1
  while IFS='|' read -r -u 3 name expect pattern cmd; do
    name=$(echo $name); expect=$(echo $expect); pattern=$(echo "$pattern" | sed -E 's/^ +| +$//g')
    [ -z "$name" ] || [ "${name:0:1}" = "#" ] && continue
    log "== $name: $cmd ($(now_ms))"
    gadget_offset=$(stat -c %s "$work/gadget.log" 2>/dev/null || echo 0)
    eval "$cmd" </dev/null >"$work/out" 2>&1
    status=$?
    cat "$work/out" >>/results/guest.log
    local why=""
    [ "$status" = "$expect" ] || why="exit status $status, not $expect"
    crash=$(crash_report "$gadget_offset")
    [ -z "$crash" ] || why="crashed: $crash${why:+; $why}"
    if [ -z "$why" ] && [ -n "$pattern" ]; then
      if [ "${pattern:0:1}" = "!" ]; then
        grep -Eq -- "${pattern:1}" "$work/out" && why="output matches '${pattern:1}'"
      else
        grep -Eq -- "$pattern" "$work/out" || why="output lacks '$pattern'"
      fi
    fi
    if [ -z "$why" ]; then
      echo "PASS $name" >>"$results"
    else
      echo "FAIL $name: $why; output: $(tail -c 600 "$work/out" | tr '\n' ' ')" >>"$results"
    fi
  done
}

log "kernel $(uname -r)"

make_images
world=$work/world.json
cp "$work/world-start.json" "$world"
cp "$work/world-start.json" "$work/fs.json"
on0="--sim-state $world --udc dummy_udc.0 --verbose"
# status_unplugged_midway: a status request the Talkgate never answers, the cable pulled a second
# after it arrived; the tool must see the device go (I/O error) and not wait out its 5 s.
status_unplugged_midway() {
  unplug_after 1 &
  local unplugger=$! start; start=$(now_ms)
  "$ctl" status; local status=$?
  wait $unplugger || return 99
  echo "ended $(( $(now_ms) - start )) ms after the request"
  return $status
}
# upgrade_interrupted N IMAGE: an upgrade the loader leaves the bus at (its Nth report), then
# the part powered again and the same upgrade run again, which must finish it.
upgrade_interrupted() {
  gadget_stop && gadget_start $on0 --sim-fault "unplug@$1" || return 1
  "$ctl" --loader-dir "$work/loader" upgrade "$2" --yes && { echo "the interrupted upgrade succeeded"; return 1; }
  gadget_stop && gadget_start $on0 && "$ctl" --loader-dir "$work/loader" upgrade "$2" --yes
}
# A second gadget on a controller the first one holds: it fails to bind, says why and leaves
# nothing behind in configfs.
second_gadget_refused() {
  "$gadget" --sim-state "$work/other.json" --udc dummy_udc.0
  local status=$?
  ls "$configfs"
  [ "$(ls "$configfs" | wc -l)" = 1 ] || { echo "a gadget was left behind"; return 99; }
  return $status
}
uevent_gone() {
  LD_PRELOAD=$bin/usb_stack_uevent_gone.so ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 "$@"
}
as_nobody() { env -i PATH="$PATH" HOME=/tmp setpriv --reuid=65534 --regid=65534 --clear-groups -- "$@"; }

run_table 3<<'TABLE'
# The gadget on two buses (dummy_hcd num=2): what it refuses, then the Talkgate on the first.
two USB buses                   | 0 |                                    | load_usb num=2
gadget refuses without root     | 1 | needs root                         | as_nobody "$gadget"
gadget names the controllers    | 1 | there are: dummy_udc.0, dummy_udc.1 | "$gadget" --sim-state "$world"
gadget serves the Talkgate      | 0 | TG260001 on dummy_udc.0: 2047:0922 Talkgate | gadget_start $on0
second gadget on a busy bus     | 1 | Device or resource busy            | second_gadget_refused
# The product through usbcore, usbhid, hidraw and hidapi.
list shows interfaces 0 and 1   | 0 | 1 +configuration                   | "$ctl" list
list --json tells the USB port  | 0 |                                    | same_port configuration 2047:0922
# A device's uevent unreadable, as when it leaves the bus while being listed or opened.
list while a device goes        | 0 | 1 +configuration                   | uevent_gone "$ctl" list
status while a device goes      | 0 | Manufacturer +Velkor.*Serial number +TG260001 | uevent_gone "$ctl" status | tr '\n' ' '
status on interface 1           | 0 | "serial_number": "TG260001"        | "$ctl" --json status
settings one way                | 0 | "symbol_led_brightness": 0, *"ambient": 1, *"keypad_type": 1, | "$ctl" set brightness 0 && "$ctl" set ambient enable && "$ctl" set keypad custom && "$ctl" --json status | tr -d '\n'
settings the other way          | 0 | "symbol_led_brightness": 9, *"ambient": 0, *"keypad_type": 0, | "$ctl" set brightness 9 && "$ctl" set ambient disable && "$ctl" set keypad default && "$ctl" --json status | tr -d '\n'
key table written and read back | 0 | Detected a 0x04 LeftShift;.*Night Enter 0x28 None | "$ctl" set keypad custom && "$ctl" table set detected=a+LeftShift night=Enter && "$ctl" table show | tr -s ' ' | tr '\n' ';'
config save and restore         | 0 | "symbol_led_brightness": 3,        | "$ctl" set brightness 3 && "$ctl" config save && "$ctl" set brightness 8 && "$ctl" config restore && "$ctl" --json status
desktop program reads status    | 0 |                                    | utility_reads_status
node the user may not open      | 1 | Permission denied opening the Talkgate | as_nobody "$ctl" status
# A late reply must not answer the next request (the probe uses the product's transport).
late reply                      | 0 | each request got its own reply     | gadget_stop INT && gadget_start $on0 --sim-fault late-reply && "$bin/usb_stack_probe"
# A Talkgate that never answers; the cable pulled during an exchange; a run after replugging.
device that never answers       | 1 | timeout \(-6\)                     | gadget_stop && gadget_start $on0 --sim-fault no-reply && "$ctl" status
unplug during an exchange       | 1 | no device or I/O error \(-1\)      | status_unplugged_midway
re-run after replugging         | 0 | "serial_number": "TG260001"        | gadget_stop && gadget_start $on0 && "$ctl" --json status
# The whole upgrade through the real stack: loader images made here, re-enumerations for real.
enter the loader                | 0 | left HID operation                 | "$ctl" --loader-dir "$work/loader" enter-loader
list shows the loader           | 0 | Loader                             | wait_nodes 2047:0200 1 && "$ctl" list
loader on the Talkgate's port   | 0 |                                    | same_port loader 2047:0200 && [ "$(cat "$work/port.loader")" = "$(cat "$work/port.configuration")" ]
upgrade the waiting loader      | 0 | runs firmware 1.1.0               | "$ctl" --loader-dir "$work/loader" upgrade "$image_new" --yes
back with its saved settings    | 0 | "symbol_led_brightness": 3,.*"firmware_version": "1.1.0", *"serial_number": "TG260001" | "$ctl" config restore && "$ctl" --json status | tr -d '\n'
upgrade keeping the settings    | 0 | Previous settings restored         | "$ctl" --loader-dir "$work/loader" upgrade "$image_old" --yes --restore-settings
back with version and settings  | 0 | "symbol_led_brightness": 3,.*"firmware_version": "1.0.4", *"serial_number": "TG260001" | "$ctl" --json status | tr -d '\n'
# Unplugged in the middle of an upgrade (the loader leaves the bus at its Nth report), powered
# again, the same upgrade run again finishes it.
unplug at the ROM password      | 0 |                                    | upgrade_interrupted 1 "$image_new"
unplug loading the RAM loader   | 0 |                                    | upgrade_interrupted 12 "$image_old"
unplug while programming        | 0 |                                    | upgrade_interrupted 100 "$image_new"
recovered with the new version  | 0 | "firmware_version": "1.1.0"        | "$ctl" --json status
# Two Talkgates, one per bus.
two Talkgates                   | 0 | TG260002 on dummy_udc.1            | gadget_stop && gadget_start --sim-state "$work/fleet.json" --sim-devices 2 && wait_nodes 2047:0922 4
--all                           | 0 | "serial_number": "TG260002"        | "$ctl" --all set brightness 6 && "$ctl" --all --json status
two Talkgates on two ports      | 0 |                                    | two_ports
gadget removes its gadgets      | 0 |                                    | gadget_stop
TABLE

# ---- measured on a full-speed bus (is_high_speed=0), like the Talkgate's own: the host's view
# of each re-enumeration (hidraw nodes polled every 10 ms) and the upgrade's send phase (its
# progress lines timed as they come: 70 % opens the send, 75 % the verify).
watch_nodes() {
  mkfifo "$work/tick"; exec 7<>"$work/tick"
  local prev="" cur f line t l
  while :; do
    t=0; l=0
    for f in /sys/class/hidraw/*/device/uevent; do
      [ -r "$f" ] || continue
      while read -r line; do
        case "${line^^}" in
          HID_ID=0003:00002047:00000922) t=$((t + 1)) ;;
          HID_ID=0003:00002047:00000200) l=$((l + 1)) ;;
        esac
      done <"$f"
    done
    cur="talkgate=$t loader=$l"
    [ "$cur" != "$prev" ] && echo "$(now_ms) $cur"
    prev=$cur
    read -r -t 0.01 -u 7
  done
}
measure_full_speed() {
  # 28 KiB more at 0x5400, so that the send phase lasts long enough to time.
  local big=$work/talkgate_fw_big.txt
  { grep -v '^q' "$image_new"
    awk 'BEGIN { print "@5400"; x = 11
      for (i = 0; i < 28672; i++) { x = (x * 75 + 74) % 65537; printf "%02X%s", x % 256, (i % 16 == 15) ? "\n" : " " }
      print "q" }'; } >"$big"
  watch_nodes >"$work/nodes.log" 2>/dev/null &
  local watcher=$!
  local start; start=$(now_ms)
  "$ctl" --loader-dir "$work/loader" enter-loader || return 1
  local entered; entered=$(now_ms)
  "$ctl" --json --loader-dir "$work/loader" upgrade "$big" --yes |
    while IFS= read -r line; do echo "$(now_ms) $line"; done >"$work/upgrade.log"
  local upgraded=$?
  sleep 0.5
  kill $watcher; wait $watcher 2>/dev/null
  cat "$work/nodes.log" "$work/upgrade.log" >>/results/guest.log
  [ "$upgraded" = 0 ] || return 1
  local bytes send_ms
  bytes=$(awk '!/^[@q]/ { n += NF } END { print n }' "$big")
  send_ms=$(awk '/"progress": / { p = $3 + 0; if (p >= 70 && !a) a = $1; if (p >= 75 && !b) b = $1 } END { print b - a }' "$work/upgrade.log")
  {
    echo "full-speed bus (dummy_hcd is_high_speed=0), TCG guest:"
    echo "  enter-loader (request to loader open): $((entered - start)) ms"
    echo "  upgrade send phase: $bytes bytes in $send_ms ms = $(( bytes * 1000 / (send_ms > 0 ? send_ms : 1) / 1000 )).$(( (bytes * 1000 / (send_ms > 0 ? send_ms : 1)) % 1000 / 100 )) kB/s"
    awk '
      { t = $1; split($2, a, "="); tg = a[2] + 0; split($3, b, "="); ld = b[2] + 0 }
      NR > 1 && tg == 0 && ld == 0 && (ptg > 0 || pld > 0) { gone = t; from = ptg > 0 ? "Talkgate" : "loader" }
      NR > 1 && gone && (ld > 0 || tg == 2) { printf "  re-enumeration %s -> %s: %d ms off the bus (host view)\n", from, (tg ? "Talkgate" : "loader"), t - gone; gone = 0 }
      { ptg = tg; pld = ld }' "$work/nodes.log"
  } | tee -a "$measured"
  grep -q 'Talkgate -> loader' "$measured" && grep -q 'loader -> Talkgate' "$measured"
}

run_table 3<<'TABLE'
full-speed bus                  | 0 |                                    | load_usb is_high_speed=0 && gadget_start --sim-state "$work/fs.json"
full-speed upgrade measured     | 0 |                                    | measure_full_speed
gadget removes its gadgets      | 0 |                                    | gadget_stop
TABLE
