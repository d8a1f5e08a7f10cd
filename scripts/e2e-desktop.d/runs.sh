# Runs that stop: Escape asks, a full target offers to stop once, boxes take
# one Return each, and the buttons that do nothing during a run look it.
runs="$work/runs"
mkdir -p "$runs/long" "$runs/bad"
convert -seed 11 -size 2400x1800 gradient:khaki-steelblue +noise Gaussian "BMP3:$runs/long/r000.bmp"
# 20,000 names of it: a list that long paints during the run too.
/usr/bin/python3 -c 'import os, sys; [os.link(sys.argv[1] + "/r000.bmp", "%s/r%03d.bmp" % (sys.argv[1], i)) for i in range(1, 20000)]' "$runs/long"
for i in 1 2 3; do echo "no picture" > "$runs/bad/bad$i.bmp"; done
reg() { mkdir -p "$(dirname "$registry")"; printf 'Windows Registry Editor Version 5.00\n\n%s\n"FilePath"="%s"\n"DeleteFile"="0"\n' "$key" "$1" > "$registry"; }

cat > "$work/runs-stop.sh" <<'STOP'
set -eu; . "$work/helpers.sh"
start
keys a c
sleep 1
shot runs-buttons-disabled
ink() { crop "$1" 380 270 202 58 && convert "$work/$1-crop.png" -format '%[fx:minima.intensity]' info:; }
[ "$(ink runs-buttons-disabled | cut -c1-3)" != "1" ] || { say "the list of 20,000 was blank during the run"; exit 1; }
xdotool key Escape
q=$(shown '^Pellicor$')
shot runs-stop-question
sleep 0.4
xdotool windowfocus --sync "$q" key y
waitfor "! xdotool search --onlyvisible --name '^Pellicor\$' > /dev/null"
sleep 2
shot runs-stopped
xdotool windowfocus --sync "$win"
keys e
wait $pid
STOP
reg "$runs/long"
session runs-stop
done=$(ls "$runs/long" | grep -c '\.jpg$' || true)
[ "$done" -gt 0 ] && [ "$done" -lt 20000 ] || fail "the stopped run converted $done of 20000"
[ "$(ls "$runs/long" | grep -c '\.bmp$')" = 20000 ] || fail "a bitmap went in a run without deleting"

cat > "$work/runs-boxes.sh" <<'BOXES'
set -eu; . "$work/helpers.sh"
start
keys a c
b1=$(shown '^Err encountered!$')
shot runs-first-box
# Return held down: it repeats, and answers one box only (pressed once
# the box has been up a moment, as a person would).
sleep 0.4
xdotool windowfocus --sync "$b1" keydown Return
sleep 1.5
xdotool keyup Return
b2=$(shown '^Err encountered!$' "$b1")
shot runs-held-return-answered-one
# Two fast Returns: the first answers this box, the second reaches the next
# as it comes up, and does not answer it.
sleep 0.4
xdotool windowfocus --sync "$b2" key --delay 40 Return Return
b3=$(shown '^Err encountered!$' "$b2")
sleep 1
xdotool search --onlyvisible --name '^Err encountered!$' | grep -qx "$b3" || { say "a Return answered two boxes"; exit 1; }
shot runs-fast-returns-answered-one
answer "$b3"
sleep 1
shot runs-boxes-done
xdotool windowfocus --sync "$win"
keys e
wait $pid
BOXES
reg "$runs/bad"
session runs-boxes

# A small stick that fills up: one offer to stop, and nothing half written.
full="$work/runs-full"
mkdir "$full"
dd if=/dev/zero of="$work/runs-full.img" bs=1M count=6 2> /dev/null
mkfs.ext2 -q -m 0 "$work/runs-full.img"
if mount -o loop "$work/runs-full.img" "$full" 2> /dev/null; then
    trap '! mountpoint -q "$full" || umount "$full"; cleanup' EXIT
    convert -seed 5 -size 1000x800 xc:gray +noise Random "BMP3:$full/f00.bmp"
    for i in $(seq 1 11); do ln "$full/f00.bmp" "$full/f$(printf %02d "$i").bmp"; done
    dd if=/dev/zero of="$full/filler" bs=1k 2> /dev/null || true
    rm -f "$full/filler"; dd if=/dev/zero of="$full/filler" bs=1k count=$(( $(df -k --output=avail "$full" | tail -1) - 40 )) 2> /dev/null
    cat > "$work/runs-full.sh" <<'FULL'
set -eu; . "$work/helpers.sh"
start
keys a c
b=$(shown '^Err encountered!$')
shot runs-full-stop-offer
answer "$b"
sleep 2
xdotool search --onlyvisible --name '^Err encountered!$' > /dev/null && { say "a second box after stopping"; exit 1; }
shot runs-full-stopped
xdotool windowfocus --sync "$win"
keys e
wait $pid
FULL
    reg "$full"
    session runs-full
    [ "$(ls "$full" | grep -c '\.bmp$')" = 12 ] || fail "a bitmap went on the full stick"
    [ -z "$(ls -A "$full" | grep -v -e '\.bmp$' -e '^filler$' -e '^lost+found$')" ] || fail "something half written was left on the full stick"
    umount "$full"
    trap cleanup EXIT
else
    echo "e2e-desktop: no file system can be mounted here; the full stick is not tried"
fi
