#!/bin/sh
# Installs Debian packages, only those missing: the ones given as arguments, or
# by default those Kelno builds and tests with. A package of another
# architecture (libzmq3-dev:armhf) adds that architecture to dpkg first.
set -eu
packages="${*:-cmake make g++ pkg-config libzmq3-dev uuid-dev nlohmann-json3-dev libsqlite3-dev libgtest-dev libgmock-dev}"
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
missing=""
for package in $packages; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
        || missing="$missing $package"
done
[ -z "$missing" ] && exit 0
for package in $missing; do
    case "$package" in
        *:*) architecture="${package#*:}"
             [ "$architecture" = "$(dpkg --print-architecture)" ] \
                 || dpkg --print-foreign-architectures | grep -qx "$architecture" \
                 || { echo "Adding the architecture $architecture"; $sudo dpkg --add-architecture "$architecture"; } ;;
    esac
done
echo "Installing:$missing"
$sudo apt-get update -qq || echo "apt-get update failed; trying the cached package lists"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing
