# Files handed to the window by a second start: Exit and a start 10-30 ms
# later (the files come up in a window of their own), and a start while a
# long run works (answered at once; after the run its summary stays).
handover="$work/handover"
mkdir -p "$handover/run"
convert -seed 3 -size 2000x1500 gradient:skyblue-seagreen +noise Gaussian "BMP3:$handover/run/p0.bmp"
for i in $(seq 1 39); do ln "$handover/run/p0.bmp" "$handover/run/p$i.bmp"; done
cp "$work/home/extra/late.bmp" "$handover/late.bmp"
printf 'Windows Registry Editor Version 5.00\n\n%s\n"FilePath"="%s"\n"DeleteFile"="0"\n' "$key" "$handover/run" > "$work/handover.reg"
export handover
cat > "$work/handover.sh" <<'HANDOVER'
set -eu
. "$work/helpers.sh"
# A desktop of its own: no window of another session takes these files.
export XDG_RUNTIME_DIR="$handover/runtime"
mkdir -p -m 700 "$XDG_RUNTIME_DIR" "$(dirname "$registry")"
cp "$work/handover.reg" "$registry"
for delay in 0.01 0.015 0.02 0.025 0.03; do
    cp "$work/home/extra/late.bmp" "$handover/exit$delay.bmp"
    start
    xdotool keydown Alt_L key e keyup Alt_L
    sleep $delay
    "$prefix/bin/pellicor" "$handover/exit$delay.bmp" & second=$!
    wait $pid
    kill -0 $second 2> /dev/null || { status=0; wait $second || status=$?; say "a start $delay s after Exit handed its file to the closing window (status $status)"; exit 1; }
    pid=$second
    win=$(xdotool search --sync --onlyvisible --name "^Pellicor v3.60\$" | head -1)
    xdotool windowfocus --sync "$win"
    sleep 0.5
    [ "$delay" != 0.02 ] || shot handover-after-exit-a-window-of-its-own
    keys c
    waitfor "[ -f '$handover/exit$delay.jpg' ]"
    keys e
    wait $pid
done
# A start while a run works is answered at once; its file waits for the run's end.
start
keys a c
timeout 10 "$prefix/bin/pellicor" "$handover/late.bmp" || { say "a window in a run did not answer a second start"; exit 1; }
[ "$(ls "$handover/run"/*.jpg 2>/dev/null | wc -l)" -lt 40 ] || say "the run ended before the second start (no proof it answered during the run)"
waitfor "[ \$(ls '$handover/run'/*.jpg 2>/dev/null | wc -l) -eq 40 ]"
sleep 2
shot handover-summary-stays-after-the-run
[ ! -f "$handover/late.jpg" ] || { say "a handed-over file was swept into the run"; exit 1; }
keys c
waitfor "[ -f '$handover/late.jpg' ]"
keys e
wait $pid
HANDOVER
session handover
