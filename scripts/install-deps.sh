#!/bin/sh
# Installs Debian packages, only those missing: the ones given as arguments, or
# by default those Kelno builds and tests with.
set -eu
packages="${*:-cmake make g++ pkg-config libzmq3-dev uuid-dev nlohmann-json3-dev libsqlite3-dev libgtest-dev libgmock-dev}"
missing=""
for package in $packages; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
        || missing="$missing $package"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
$sudo apt-get update -qq || echo "apt-get update failed; trying the cached package lists"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing
