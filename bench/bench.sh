#!/usr/bin/env bash
# Times tessaly-cli convert against qemu-img convert and cp on images it
# makes itself, and prints the medians as a Markdown table.
#
#   bench/bench.sh [-n RUNS] [-d DIR] [--full] [--clean]
#
#   -n RUNS   timed runs of each command per image (default 5)
#   -d DIR    where the images and outputs go (default build/bench); it needs
#             about 6 GiB free, 14 GiB with --full
#   --full    also run the commands that write all 8 GiB of the sparse disk
#             (plain convert and the chunk loop)
#   --clean   delete DIR at the end
#   --images  only make the images
#
# Needs bash, coreutils, GNU time (/usr/bin/time) and qemu-img (qemu-utils);
# TESSALY_CLI names the program to time (default build/bin/tessaly-cli).
#
# The images: 1 GiB of mixed data (one MiB random, one zero, one patterned,
# over and over) as monolithicSparse, streamOptimized, monolithicFlat and
# twoGbMaxExtentSparse, and an 8 GiB monolithicSparse disk holding 256 MiB of
# random data in 64 pieces. Each run starts with no output file and nothing
# dirty in the page cache (rm, then sync); the sources stay cached. The
# commands take turns, each round starting one further along, so that a
# change in the machine's load, or what the run before left behind, touches
# all of them alike.
set -euo pipefail

runs=5
dir=build/bench
full=0
clean=0
images_only=0
while (($#)); do
  case $1 in
    -n) runs=$2; shift 2 ;;
    -d) dir=$2; shift 2 ;;
    --full) full=1; shift ;;
    --clean) clean=1; shift ;;
    --images) images_only=1; shift ;;
    *) echo "usage: $0 [-n RUNS] [-d DIR] [--full] [--clean] [--images]" >&2; exit 2 ;;
  esac
done
cli=${TESSALY_CLI:-build/bin/tessaly-cli}
cli=$(realpath "$cli")
mkdir -p "$dir"
dir=$(realpath "$dir")
for tool in qemu-img /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done
[[ -x $cli ]] || { echo "no $cli: build first" >&2; exit 1; }

mib=1048576
formats=(monolithicSparse streamOptimized monolithicFlat twoGbMaxExtentSparse)

make_images() {
  cd "$dir"
  if [[ ! -f mixed.raw ]]; then
    echo "making mixed.raw (1 GiB)" >&2
    (yes 'Tessaly benchmark pattern 0123456789abcdefghijklmnopqrstuvwxyz' || true) |
      head -c $mib >pattern.bin
    for ((i = 0; i < 1024; i++)); do
      case $((i % 3)) in
        0) head -c $mib /dev/urandom ;;
        1) head -c $mib /dev/zero ;;
        2) cat pattern.bin ;;
      esac
    done >mixed.raw.part
    mv mixed.raw.part mixed.raw
  fi
  for format in "${formats[@]}"; do
    if [[ ! -f $format/disk.vmdk ]]; then
      echo "making $format" >&2
      rm -rf "$format" && mkdir "$format"
      qemu-img convert -q -f raw -O vmdk -o subformat="$format" mixed.raw "$format/disk.vmdk"
    fi
  done
  if [[ ! -f sparse8g/disk.vmdk ]]; then
    echo "making sparse8g (8 GiB, 256 MiB of data)" >&2
    rm -rf sparse8g && mkdir sparse8g
    truncate -s 8G sparse8g.raw
    for ((k = 0; k < 64; k++)); do
      dd if=/dev/urandom of=sparse8g.raw bs=$mib seek=$((k * 128 + k % 7)) count=4 \
        conv=notrunc status=none
    done
    qemu-img convert -q -f raw -O vmdk -o subformat=monolithicSparse sparse8g.raw \
      sparse8g/disk.vmdk
  fi
  cd - >/dev/null
}

# time_one NAME COMMAND...: runs it once with no output file present; appends
# "seconds max-rss-KiB" to $dir/times/NAME.
time_one() {
  local name=$1
  shift
  rm -f "$dir/out.raw"
  sync
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f %M -o "$dir/rss" "$@" >/dev/null 2>"$dir/stderr" || {
    echo "failed: $*" >&2
    cat "$dir/stderr" >&2
    exit 1
  }
  end=$(date +%s%N)
  echo "$(((end - start) / 1000000)) $(tail -n 1 "$dir/rss")" >>"$dir/times/$name"
}

# median FILE COLUMN
median() {
  cut -d' ' -f"$2" "$1" | sort -n | awk '{ v[NR] = $1 }
    END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

declare -A medians  # "image variant" -> median milliseconds

label() {
  case $1 in
    convert) echo "tessaly-cli convert" ;;
    sparse) echo "tessaly-cli convert --sparse" ;;
    hash) echo "tessaly-cli convert --hash sha256" ;;
    sparse-hash) echo "tessaly-cli convert --sparse --hash sha256" ;;
    chunk) echo "tessaly-cli convert --engine chunk (the window's loop)" ;;
    qemu-img) echo "qemu-img convert -O raw" ;;
    cp) echo "cp of the raw file" ;;
  esac
}

# bench IMAGE RAW VARIANT...: one image, every variant in turn, $runs times;
# prints a table row per variant.
bench() {
  local image=$1 raw=$2
  shift 2
  local variants=("$@")
  rm -rf "$dir/times" && mkdir "$dir/times"
  cat "$dir/$image"/* >/dev/null  # the sources stay cached for every run
  local src=$dir/$image/disk.vmdk out=$dir/out.raw
  local n=${#variants[@]} r i v
  for ((r = 0; r < runs; r++)); do
    for ((i = 0; i < n; i++)); do
      v=${variants[(r + i) % n]}
      case $v in
        convert) time_one "$v" "$cli" convert "$src" -o "$out" ;;
        sparse) time_one "$v" "$cli" convert --sparse "$src" -o "$out" ;;
        hash) time_one "$v" "$cli" convert --hash sha256 "$src" -o "$out" ;;
        sparse-hash) time_one "$v" "$cli" convert --sparse --hash sha256 "$src" -o "$out" ;;
        chunk) time_one "$v" "$cli" convert --engine chunk "$src" -o "$out" ;;
        qemu-img) time_one "$v" qemu-img convert -f vmdk -O raw "$src" "$out" ;;
        cp) time_one "$v" cp "$dir/$raw" "$out" ;;
      esac
    done
  done
  rm -f "$out"
  local ms rss range
  for v in "${variants[@]}"; do
    ms=$(median "$dir/times/$v" 1)
    rss=$(cut -d' ' -f2 "$dir/times/$v" | sort -n | tail -n 1)
    range=$(cut -d' ' -f1 "$dir/times/$v" | sort -n | awk 'NR == 1 { lo = $1 } { hi = $1 }
      END { printf "%.2f-%.2f", lo / 1000, hi / 1000 }')
    medians["$image $v"]=$ms
    awk -v img="$image" -v v="$(label "$v")" -v ms="$ms" -v q="${medians["$image qemu-img"]}" \
      -v rss="$rss" -v range="$range" 'BEGIN {
      printf "| %s | %s | %.2f | %s | %.2f | %.0f |\n", img, v, ms / 1000, range, ms / q, rss / 1024 }'
  done
}

# goal TEXT IMAGE VARIANT BASE LIMIT: one line saying whether the ratio of the
# two medians is within LIMIT.
goal() {
  awk -v t="$1 on $2" -v a="${medians["$2 $3"]}" -v b="${medians["$2 $4"]}" -v l="$5" 'BEGIN {
    printf "- %s: %.2f (goal <= %.2f) %s\n", t, a / b, l, (a / b <= l ? "met" : "MISSED") }'
}

make_images
((images_only)) && exit 0
echo "| image | command | median s | range s | x qemu-img | peak RSS MiB |"
echo "|---|---|---|---|---|---|"
for format in "${formats[@]}"; do
  bench "$format" mixed.raw qemu-img convert sparse hash chunk cp
done
if ((full)); then
  bench sparse8g sparse8g.raw qemu-img convert sparse sparse-hash chunk cp
else
  bench sparse8g sparse8g.raw qemu-img sparse sparse-hash cp
fi
echo
for format in "${formats[@]}"; do goal "convert / qemu-img" "$format" convert qemu-img 0.8; done
goal "convert --sparse / qemu-img" sparse8g sparse qemu-img 1.0
for format in "${formats[@]}"; do goal "--hash sha256 / plain" "$format" hash convert 1.15; done
goal "--sparse --hash sha256 / --sparse" sparse8g sparse-hash sparse 1.15
goal "convert / cp" monolithicFlat convert cp 1.2
echo
echo "$runs runs each, medians of wall time; $(nproc) CPUs: $(lscpu | sed -n 's/^Model name: *//p')"
if ((clean)); then rm -rf "$dir"; fi
