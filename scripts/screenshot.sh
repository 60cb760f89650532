#!/usr/bin/env bash
# Runs the window under a virtual display (Xvfb) the way a user would: checks
# its title, place and size, asks "size" about a 1 GiB image and reads the
# clipboard, converts examples/sample.vmdk with "Convert", then runs it
# without libvmdk into the crash reporter and back; saves screenshots.
#   scripts/screenshot.sh [BUILD_DIR [OUT_DIR]]   (default: build, docs)
# BUILD_DIR must be built already. Writes window.png, size-message.png and
# crash-reporter.png into OUT_DIR; exits non-zero when the window does not
# behave as it should.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [[ "${1:-}" != --inside ]]; then
  build=$(cd "${1:-$root/build}" && pwd)
  out=${2:-$root/docs}
  mkdir -p "$out"
  out=$(cd "$out" && pwd)
  # -noreset: the server must not restart between the two programs, when
  # it briefly has no client left.
  exec xvfb-run -a -s "-screen 0 1024x600x24 -noreset" "$0" --inside "$build" "$out"
fi
build=$2
out=$3
work=$(mktemp -d)
pid=
cleanup() {
  [[ -n "$pid" ]] && kill "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "screenshot.sh: $*" >&2
  for log in "$work"/stderr*; do
    [[ -s "$log" ]] && { echo "--- the program's stderr:" >&2; cat "$log" >&2; }
  done
  exit 1
}

# Waits up to 20 s for a visible window named exactly $1; prints its id.
window_named() {
  for _ in $(seq 200); do
    local id
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1 || true)
    if [[ -n "$id" ]]; then
      echo "$id"
      return
    fi
    sleep 0.1
  done
  fail "no window named '$1' appeared"
}

# Waits until no visible window is named exactly $1.
window_gone() {
  for _ in $(seq 200); do
    xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  fail "the window '$1' stayed open"
}

# Types a path into the open file dialog's name field and accepts it.
choose_file() {
  local dialog
  dialog=$(window_named Open)
  xdotool windowfocus --sync "$dialog"
  xdotool key --clearmodifiers ctrl+a
  xdotool type --delay 2 "$1"
  xdotool key Return
  window_gone Open
}

# Saves what window $1 shows as $2.
grab() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  "$build/tools/screen_grab" "$2" "$X" "$Y" "$WIDTH" "$HEIGHT"
}

qemu-img create -q -f vmdk "$work/gib.vmdk" 1G
cp "$root/examples/sample.vmdk" "$work/sample.vmdk"

cd "$work"
"$build/bin/tessaly" 2>"$work/stderr" &
pid=$!
main=$(window_named "Tessaly 0.1")
eval "$(xdotool getwindowgeometry --shell "$main")"
[[ "$X,$Y,$WIDTH,$HEIGHT" == "465,155,496,98" ]] ||
  fail "window at $X,$Y size ${WIDTH}x$HEIGHT, not 465,155 496x98"

# "size" on the 1 GiB image.
xdotool mousemove --window "$main" 364 44 click 1
choose_file "$work/gib.vmdk"
box=$(window_named tessaly)
grab "$box" "$out/size-message.png"
xdotool windowfocus --sync "$box"
xdotool key Return
window_gone tessaly
clipboard=$(xclip -o -selection clipboard | od -An -c | tr -s ' \n' ' ')
expected=$(printf '1073741824 Bytes\r\n1048576 KBytes\r\n1024 MBytes' | od -An -c | tr -s ' \n' ' ')
[[ "$clipboard" == "$expected" ]] || fail "clipboard holds '$clipboard'"

# "Convert" on the sample image: the .dd lands beside it.
xdotool mousemove --window "$main" 445 44 click 1
choose_file "$work/sample.vmdk"
for _ in $(seq 100); do
  [[ -f "$work/sample.dd" && $(stat -c %s "$work/sample.dd") -eq 4194304 ]] && break
  sleep 0.1
done
sleep 1  # the status text and the full bar are painted when the command returns
read -r sum _ <"$root/examples/sample.sha256"
read -r got _ < <(sha256sum "$work/sample.dd")
[[ "$got" == "$sum" ]] || fail "sample.dd has SHA-256 $got, not $sum"
grab "$main" "$out/window.png"
grep -qx start "$work/stderr" || fail "no debug string 'start' on stderr"
kill "$pid"
wait "$pid" 2>/dev/null || true

# The same program in a folder without libvmdk: it starts, a command ends in
# the crash reporter, and "continue application" (the default button) leaves
# the window working.
mkdir "$work/nolib"
cp "$build/bin/tessaly" "$work/nolib/"
"$work/nolib/tessaly" 2>"$work/stderr-nolib" &
pid=$!
main=$(window_named "Tessaly 0.1")
xdotool mousemove --window "$main" 364 44 click 1
choose_file "$work/gib.vmdk"
reporter=$(window_named tessaly)
grab "$reporter" "$out/crash-reporter.png"
xdotool windowfocus --sync "$reporter"
xdotool key Return
window_gone tessaly
kill -0 "$pid" 2>/dev/null || fail "the program ended after 'continue application'"
xdotool mousemove --window "$main" 364 44 click 1
choose_file "$work/gib.vmdk"
again=$(window_named tessaly)  # the same error again, said plainly
xdotool windowfocus --sync "$again"
xdotool key Return
window_gone tessaly

echo "screenshot.sh: the window behaved; saved window.png, size-message.png and crash-reporter.png in $out"
