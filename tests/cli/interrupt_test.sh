#!/usr/bin/env bash
# SIGINT and SIGTERM during a conversion: exit 130, "interrupted", and no
# partial target left behind.
#   interrupt_test.sh TESSALY_CLI SCRATCH_DIR
set -euo pipefail
cli=$1
dir=$2
rm -rf "$dir"
mkdir -p "$dir"
: > "$dir/disk.vmdk"

for sig in INT TERM; do
  # 1 GiB at 1 ms a chunk: far longer than the test waits.
  FAKE_LIBVMDK_MEDIA_SIZE=$((1 << 30)) FAKE_LIBVMDK_READ_DELAY_US=1000 \
    "$cli" convert "$dir/disk.vmdk" -o "$dir/out.dd" 2> "$dir/err" &
  pid=$!
  for _ in $(seq 100); do
    [ -s "$dir/out.dd" ] && break
    sleep 0.05
  done
  [ -s "$dir/out.dd" ] || { echo "the conversion never started writing"; exit 1; }
  kill -s "$sig" "$pid"
  code=0
  wait "$pid" || code=$?
  [ "$code" -eq 130 ] || { echo "SIG$sig: exit $code, expected 130"; cat "$dir/err"; exit 1; }
  grep -qx interrupted "$dir/err" || { echo "SIG$sig: no 'interrupted' on stderr"; cat "$dir/err"; exit 1; }
  [ ! -e "$dir/out.dd" ] || { echo "SIG$sig: the partial target was left behind"; exit 1; }
  [ -e "$dir/disk.vmdk" ] || { echo "SIG$sig: the source is gone"; exit 1; }
done
echo "interrupt: ok"
