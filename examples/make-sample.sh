#!/usr/bin/env bash
# Makes examples/sample.vmdk: a 4 MiB disk with an MBR and one FAT12
# partition holding hello.txt, stored as a compressed streamOptimized VMDK.
# Needs fdisk (sfdisk), dosfstools, mtools and qemu-utils.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

truncate -s 4M "$work/disk.raw"
# One primary FAT12 partition from sector 2048 to the end.
printf 'label: dos\nlabel-id: 0x7e55a100\n\nstart=2048, type=1\n' | sfdisk --quiet "$work/disk.raw"
truncate -s 3M "$work/part.raw"
mkfs.fat -F 12 -n TESSALY -i 7e55a100 "$work/part.raw" >/dev/null
printf 'Hello from inside the virtual disk.\n' > "$work/hello.txt"
MTOOLS_SKIP_CHECK=1 mcopy -i "$work/part.raw" -m "$work/hello.txt" ::hello.txt
dd if="$work/part.raw" of="$work/disk.raw" bs=512 seek=2048 conv=notrunc status=none

qemu-img convert -q -f raw -O vmdk -o subformat=streamOptimized "$work/disk.raw" "$here/sample.vmdk"
sha256sum "$work/disk.raw" | cut -d' ' -f1 > "$here/sample.sha256"
echo "sample.vmdk: $(stat -c %s "$here/sample.vmdk") bytes; media sha256 $(cat "$here/sample.sha256")"
