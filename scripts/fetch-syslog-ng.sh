#!/usr/bin/env bash
# Unpacks Debian's syslog-ng-core into FOLDER/root for the syslog-ng interop
# test, once: installing the package would remove rsyslog, so it is only
# downloaded and unpacked. Its libraries come from scripts/deps.sh.
# Usage: bash scripts/fetch-syslog-ng.sh FOLDER
set -euo pipefail
folder=${1:?usage: fetch-syslog-ng.sh FOLDER}
root=$folder/root
[ -x "$root/usr/sbin/syslog-ng" ] && exit 0
mkdir -p "$folder"
rm -rf "$folder"/syslog-ng-core_*.deb "$root" "$folder/unpacking"
# A fresh machine's package lists may need an update first.
if ! (cd "$folder" && apt-get download syslog-ng-core); then
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    (cd "$folder" && apt-get download syslog-ng-core)
fi
dpkg-deb -x "$folder"/syslog-ng-core_*.deb "$folder/unpacking"
mv "$folder/unpacking" "$root"
echo "syslog-ng-core unpacked into $root"
