#!/bin/sh
# Builds each program natively and for armhf, and runs both: natively each
# succeeds, under qemu-arm each fails. Exits 1 if a fault no longer shows
# (then its skip or workaround in the tests can go).
set -u
here="$(cd "$(dirname "$0")" && pwd)"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
status=0
for program in fork_then_thread exec_self; do
    gcc -pthread "$here/$program.c" -o "$out/$program.native" || exit 2
    arm-linux-gnueabihf-gcc -pthread "$here/$program.c" -o "$out/$program.armhf" || exit 2
    echo "== $program, native:"
    "$out/$program.native"; native=$?
    echo "== $program, under qemu-arm:"
    qemu-arm "$out/$program.armhf" 2>&1; emulated=$?
    echo "== exit status: native $native, qemu-arm $emulated"
    [ "$native" -eq 0 ] && [ "$emulated" -ne 0 ] || status=1
done
exit $status
