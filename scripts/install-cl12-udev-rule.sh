#!/usr/bin/env bash
# Lets the logged-in user open the Sound Devices CL-12 (USB 10c4:8a87) and
# the Aaton Cantarem 2 (HID 2cff:0002) without running Tonvale as root.
# Run once with sudo, then unplug the surface and plug it in again.
set -euo pipefail
if [[ $(id -u) -ne 0 ]]; then
  echo "Run this with sudo: sudo $0" >&2
  exit 1
fi
rules=/etc/udev/rules.d/70-tonvale-surfaces.rules
cat > "$rules" <<'RULES'
SUBSYSTEM=="usb", ATTRS{idVendor}=="10c4", ATTRS{idProduct}=="8a87", TAG+="uaccess"
SUBSYSTEM=="hidraw", ATTRS{idVendor}=="2cff", ATTRS{idProduct}=="0002", TAG+="uaccess"
RULES
udevadm control --reload-rules
udevadm trigger
echo "Installed $rules. Unplug the surface and plug it in again."
