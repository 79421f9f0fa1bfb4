#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need,
# only when some are missing. Run as root (or with sudo available).
#   --fuzz    also clang and its libFuzzer runtime (scripts/fuzz.sh)
#   --strace  also strace (scripts/check-loopback.sh)
#   --format  also clang-format (scripts/format-check.sh)
# Other arguments are more package names.
set -euo pipefail

packages=(cmake g++ make pkg-config qt6-base-dev qt6-qpa-plugins libgl-dev libgtest-dev
          fonts-dejavu-core xvfb xauth
          libssl-dev openssl rsyslog rsyslog-openssl python3 python3-yaml scdoc chromium jq
          librelp-dev rsyslog-relp libsodium-dev
          libivykis0 libnet1 libwrap0
          prometheus python3-prometheus-client curl iproute2)
# chromium opens quillon-probe's HTML report in a test, headless; the shell
# tests and benchmarks read JSON with jq.
# The metrics interop test runs Debian's prometheus and parses with the
# Python client.
# The documents' examples run in a network namespace of their own (ip brings
# its loopback up), and the metrics page's example scrapes with curl.
# libivykis0, libnet1 and libwrap0 are the libraries of syslog-ng-core, which the interop test
# unpacks into a folder of its own: installing the daemon would remove rsyslog.
for argument in "$@"; do
  case $argument in
    --fuzz) packages+=(clang libclang-rt-14-dev) ;;
    --strace) packages+=(strace) ;;
    --format) packages+=(clang-format) ;;
    *) packages+=("$argument") ;;
  esac
done

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
