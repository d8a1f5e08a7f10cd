# Drives that hang or vanish, where this machine lets us mount (root, FUSE
# with python3-fusepy, loop devices): the window comes up beside a file
# system that never answers, and shows it as not answering; a stick
# unmounted from outside, the window untouched, is noticed within seconds.
# Sourced by scripts/e2e-desktop. A dead mount left behind would hang every
# process that lists mounts: its daemon is killed before it is unmounted.
dead="$work/dead" hangstick="$work/hangstick" silent=""
drives_hang_cleanup() {
    [ -z "$silent" ] || { kill -9 "$silent" 2> /dev/null; wait "$silent" 2> /dev/null || true; silent=""; }
    if grep -qF " $dead " /proc/self/mountinfo; then
        fusermount3 -u -z "$dead" 2> /dev/null || fusermount -u -z "$dead" 2> /dev/null || umount -l "$dead"
    fi
    ! grep -qF " $hangstick " /proc/self/mountinfo || umount -l "$hangstick"
}
trap 'drives_hang_cleanup; cleanup' EXIT
trap 'exit 1' INT TERM HUP
python=""
for p in python3 /usr/bin/python3; do "$p" -c 'import fusepy' 2> /dev/null && { python=$p; break; }; done
mkdir -p "$dead" "$hangstick" "$(dirname "$registry")"
if [ -c /dev/fuse ] && [ -n "$python" ]; then
    "$python" tests/support/silent_fs.py "$dead" > "$work/silent.log" 2>&1 &
    silent=$!
    n=0
    until grep -qF " $dead " /proc/self/mountinfo; do
        kill -0 "$silent" 2> /dev/null || fail "the never-answering file system could not be mounted: $(cat "$work/silent.log")"
        n=$((n + 1)); [ $n -lt 100 ] || fail "the never-answering file system did not come up"; sleep 0.1
    done
    # The stored folder lies on the dead mount: the window starts on its working folder instead.
    printf 'Windows Registry Editor Version 5.00\n\n%s\n"FilePath"="%s"\n' "$key" "$dead/photos" > "$work/drives-hang-dead.reg"
    export dead
    cat > "$work/drives-hang-dead.sh" <<'DEAD'
set -eu
. "$work/helpers.sh"
cp "$work/drives-hang-dead.reg" "$registry"
begun=$(date +%s%N)
start
echo $((($(date +%s%N) - begun) / 1000000)) > "$work/drives-hang-start-ms"
[ "$(cat "$work/drives-hang-start-ms")" -lt 5000 ] || { say "the window took $(cat "$work/drives-hang-start-ms") ms beside a dead mount"; exit 1; }
click 100 66  # opens the drive list
sleep 0.5
shot drives-hang-dead-drive-marked
xdotool key Escape
sleep 0.3
# Exit: no thread stuck in the dead mount keeps the program from ending.
keys e
waitfor "! kill -0 $pid 2> /dev/null"
DEAD
    session drives-hang-dead
    echo "e2e-desktop: the window came up in $(cat "$work/drives-hang-start-ms") ms (to the window shown) beside a never-answering mount"
else
    echo "e2e-desktop: no FUSE here (/dev/fuse, python3-fusepy); the never-answering drive is not tried"
fi

dd if=/dev/zero of="$work/hangstick.img" bs=1M count=8 2> /dev/null
mkfs.ext2 -q -L HANG "$work/hangstick.img"
if mount -o loop "$work/hangstick.img" "$hangstick" 2> /dev/null; then
    cp "$work/home/extra/late.bmp" "$hangstick/"
    printf 'Windows Registry Editor Version 5.00\n\n%s\n"FilePath"="%s"\n' "$key" "$hangstick" > "$work/drives-hang-stick.reg"
    export hangstick
    cat > "$work/drives-hang-stick.sh" <<'STICK'
set -eu
. "$work/helpers.sh"
cp "$work/drives-hang-stick.reg" "$registry"
start
shot drives-hang-showing-the-stick
# Unmounted from outside; nobody touches the window.
umount "$hangstick" || { say "the stick could not be unmounted"; exit 1; }
begun=$(date +%s%N)
box=$(shown '^Pellicor$')
echo $((($(date +%s%N) - begun) / 1000000)) > "$work/drives-hang-notice-ms"
sleep 0.3
shot drives-hang-stick-gone-box
answer "$box"
sleep 0.5
shot drives-hang-back-on-the-root
xdotool windowfocus --sync "$win"
keys e
wait $pid
STICK
    session drives-hang-stick
    ! grep -q "\"FilePath\"=\"$hangstick" "$registry" || fail "the window stayed on the stick when it went"
    echo "e2e-desktop: a stick unmounted from outside was noticed in $(cat "$work/drives-hang-notice-ms") ms"
else
    echo "e2e-desktop: no file system can be mounted here; the vanishing stick is not tried"
fi
drives_hang_cleanup
trap cleanup EXIT
trap - INT TERM HUP
