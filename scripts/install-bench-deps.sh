#!/bin/sh
# Installs what the benchmarks need beyond the build's own packages (the peer
# broker and its client library, Google Benchmark), only those missing.
set -eu
packages="mosquitto libmosquitto-dev libbenchmark-dev"
missing=""
for package in $packages; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
        || missing="$missing $package"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
$sudo apt-get update -qq || echo "apt-get update failed; trying the cached package lists"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
# The packaged broker starts itself as a service where one runs; the benchmark
# starts its own on a free port and needs none.
