#!/usr/bin/env bash
# Runs dbus-daemon and avahi-daemon in a network namespace of their own with
# one dummy interface, so no multicast DNS leaves the machine, and publishes
# one service. Run as: unshare -n -m bash avahi-sandbox.sh FOLDER NAME TYPE PORT
# Prints "bus unix:path=..." then "published" when the service is up; runs
# until killed. Any failure prints "unavailable: <reason>" and exits 0.
set -u
folder=$1 name=$2 type=$3 port=$4
unavailable() { echo "unavailable: $*"; exit 0; }
trap 'kill $(jobs -p) 2>/dev/null' EXIT

for tool in ip dbus-daemon avahi-daemon avahi-publish; do
  command -v "$tool" >/dev/null || unavailable "$tool is not installed"
done
ip link set lo up 2>/dev/null || unavailable "cannot configure the namespace's loopback"
# A dummy interface where the kernel has the module, else the namespace's
# own loopback: either way the namespace has no way out.
interface=tv0
if ip link add tv0 type dummy 2>/dev/null; then
  ip link set tv0 multicast on && ip addr add 10.77.0.1/24 dev tv0 && ip link set tv0 up \
    || unavailable "cannot bring the dummy interface up"
else
  interface=lo
  ip link set lo multicast on || unavailable "cannot enable multicast on the namespace's loopback"
fi
# A private /run: the daemon's pid file and runtime folder stay here.
mount -t tmpfs tmpfs /run 2>/dev/null || unavailable "cannot mount a private /run"

cat > "$folder/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$folder/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
cat > "$folder/avahi.conf" <<CONF
[server]
host-name=tonvale-test
use-ipv4=yes
use-ipv6=no
allow-interfaces=$interface
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
CONF
dbus-daemon --config-file="$folder/bus.conf" --nofork --nopidfile >"$folder/dbus.log" 2>&1 &
for _ in $(seq 100); do [[ -S "$folder/bus" ]] && break; sleep 0.05; done
[[ -S "$folder/bus" ]] || unavailable "dbus-daemon did not start: $(head -c 300 "$folder/dbus.log")"
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$folder/bus"
avahi-daemon -f "$folder/avahi.conf" --no-drop-root --no-chroot --no-rlimits >"$folder/avahi.log" 2>&1 &
for _ in $(seq 200); do grep -q "Server startup complete" "$folder/avahi.log" && break; sleep 0.05; done
grep -q "Server startup complete" "$folder/avahi.log" \
  || unavailable "avahi-daemon did not start: $(tail -c 300 "$folder/avahi.log")"
echo "bus $DBUS_SYSTEM_BUS_ADDRESS"
avahi-publish -s "$name" "$type" "$port" 2>&1 | while read -r line; do
  case "$line" in
    Established*) echo "published" ;;
    *Failed*|*failed*) echo "unavailable: avahi-publish: $line; daemon: $(tail -c 300 "$folder/avahi.log")" ;;
  esac
done
