#!/bin/sh
# The window comes up, and takes files handed to it, while a mounted file
# system never answers and the stored folder lies on it.
#   dead_mount_start.sh PROGRAM
# Mounts a FUSE file system whose every operation hangs (python3-fusepy);
# skips (77) where FUSE cannot be mounted. A dead mount left behind would
# hang every process that lists mounts: the daemon is killed before the
# unmount, whatever happens.
set -u
program=$(realpath "$1")
[ -c /dev/fuse ] || { echo "skipped: no /dev/fuse here"; exit 77; }
# Debian names the module fusepy; a Python of one's own may not see Debian's modules.
python=""
for p in python3 /usr/bin/python3; do
    "$p" -c 'import fusepy' 2> /dev/null && { python=$p; break; }
done
[ -n "$python" ] || { echo "skipped: python3-fusepy is not installed"; exit 77; }
work=$(mktemp -d)
dead="$work/dead"
daemon="" window="" second=""
cleanup() {
    for started in $window $second; do kill -9 "$started" 2> /dev/null; done
    [ -z "$daemon" ] || { kill -9 "$daemon" 2> /dev/null; wait "$daemon" 2> /dev/null; }
    if grep -qF " $dead " /proc/self/mountinfo; then
        fusermount3 -u -z "$dead" 2> /dev/null || fusermount -u -z "$dead" 2> /dev/null || umount -l "$dead"
    fi
    grep -qF " $dead " /proc/self/mountinfo || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
mkdir -p "$dead" "$work/start" "$work/config/pellicor" "$work/run"
chmod 700 "$work/run"
"$python" "$(dirname "$0")/../support/silent_fs.py" "$dead" > "$work/daemon.log" 2>&1 &
daemon=$!
n=0
until grep -qF " $dead " /proc/self/mountinfo; do
    kill -0 "$daemon" 2> /dev/null || { echo "skipped: FUSE cannot be mounted here: $(cat "$work/daemon.log")"; exit 77; }
    n=$((n + 1)); [ $n -lt 100 ] || { echo "skipped: the FUSE mount did not come up"; exit 77; }
    sleep 0.1
done

printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Corvane\\Pellicor\\Main]\n"FilePath"="%s"\n' \
    "$dead/photos" > "$work/config/pellicor/registry.reg"
: > "$work/start/one.bmp"
cd "$work/start"
run() {  # in the background only: $! is then the program itself
    exec env -u DISPLAY -u WAYLAND_DISPLAY -u PELLICOR_REGISTRY_FILE QT_QPA_PLATFORM=offscreen HOME="$work" \
        XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run" "$@"
}
begun=$(date +%s%N)
run "$program" > "$work/window.log" 2>&1 &
window=$!
# The window serves the single-instance socket once it is shown.
n=0
until find "$work/run" -type s | grep -q .; do
    kill -0 "$window" 2> /dev/null || { echo "the program ended: $(cat "$work/window.log")"; exit 1; }
    n=$((n + 1)); [ $n -lt 300 ] || { echo "no window within 30 seconds beside a dead mount"; exit 1; }
    sleep 0.1
done
echo "window up after $((($(date +%s%N) - begun) / 1000000)) ms beside a dead mount"
# A second start hands a file over: the window's event loop answers.
run "$program" "$work/start/one.bmp" > "$work/second.log" 2>&1 &
second=$!
n=0
while kill -0 "$second" 2> /dev/null; do
    n=$((n + 1)); [ $n -lt 200 ] || { echo "the window did not take a file handed to it in 20 seconds"; exit 1; }
    sleep 0.1
done
wait "$second" || { echo "the window did not take a file handed to it: $(cat "$work/second.log")"; exit 1; }
second=""
kill -0 "$window" || { echo "the window went"; exit 1; }
echo "the window took a file handed over"
