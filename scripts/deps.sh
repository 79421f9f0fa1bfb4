#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need,
# only when some are missing. Run as root (or with sudo available).
set -euo pipefail

packages=(cmake g++ make pkg-config qt6-base-dev qt6-qpa-plugins libgl-dev libgtest-dev
          fonts-dejavu-core xvfb xauth
          libssl-dev openssl rsyslog rsyslog-openssl
          libivykis0 libnet1 libwrap0 "$@")
# The last three are the libraries of syslog-ng-core, which the interop test
# unpacks into a folder of its own: installing the daemon would remove rsyslog.

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
