# Sourced by scripts/e2e-desktop. Folders and files in the file manager's
# order; a folder removed after it was listed, double-clicked: a box says
# why, and the lists stay on the folder shown, whose files alone Add All
# queues. Where we are root, the same once more as a user a folder is shut to.
folders="$work/folders"
mkdir -p "$folders"
for name in "Scan 2" "Scan 10" "Ärger" "émile" "Zebra"; do
    mkdir "$folders/$name"
    cp "$work/home/extra/late.bmp" "$folders/$name.bmp"
    cp "$work/home/extra/late.bmp" "$folders/$name/inside.bmp"
done
printf 'Windows Registry Editor Version 5.00\n\n%s\n"FilePath"="%s"\n"DeleteFile"="0"\n' "$key" "$folders" > "$work/folders.reg"
# The folder list shows the chain from the root, a row (18 pixels, with the
# icons) a folder, then the subfolders.
chain=$(printf %s "$folders" | tr -cd / | wc -c)
export folders chain

cat > "$work/folders.sh" <<'FOLDERS'
set -eu
. "$work/helpers.sh"
mkdir -p "$(dirname "$registry")"
cp "$work/folders.reg" "$registry"
start
shot folders-sorted-lists
# The folder list scrolled down to the end of the subfolders, and back.
xdotool mousemove --window "$win" 100 120 click --repeat 5 5
sleep 0.3
shot folders-sorted-subfolders
xdotool click --repeat 5 4
# The first subfolder, Ärger, goes after it was listed; a double-click on it.
rm -r "$folders/Ärger"
dclick 60 $((90 + 18 * (chain + 1)))
box=$(shown '^Pellicor$')
shot folders-removed-folder-box
answer "$box"
xdotool windowfocus --sync "$win"
sleep 0.5
shot folders-after-the-box
keys a c
waitfor '[ $(ls "$folders"/*.jpg 2>/dev/null | wc -l) -eq 5 ]'
sleep 0.5
shot folders-converted
keys e
wait $pid
FOLDERS
session folders
[ "$(ls "$folders"/*/*.jpg 2>/dev/null | wc -l)" -eq 0 ] || fail "Add All queued a subfolder's bitmaps"

# A user a folder is shut to (root enters every folder): one with no
# permission at all, one that can be read but not entered.
if [ "$(id -u)" = 0 ] && setpriv --reuid=nobody --regid=nogroup --clear-groups true 2> /dev/null; then
    shut="$work/shut" nobody="$work/nobody"
    chmod 711 "$work"
    mkdir -p "$nobody/.config/pellicor" "$shut/Locked" "$shut/Peek"
    for name in mine Locked/not-mine Peek/not-mine; do cp "$work/home/extra/late.bmp" "$shut/$name.bmp"; done
    printf 'Windows Registry Editor Version 5.00\n\n%s\n"FilePath"="%s"\n' "$key" "$shut" > "$nobody/.config/pellicor/registry.reg"
    chown -R nobody:nogroup "$shut" "$nobody"
    chmod 000 "$shut/Locked"
    chmod 444 "$shut/Peek"
    chain=$(printf %s "$shut" | tr -cd / | wc -c)
    export shut nobody chain
    cat > "$work/folders-shut.sh" <<'SHUT'
set -eu
. "$work/helpers.sh"
install -o nobody -m 600 "$XAUTHORITY" "$nobody/.Xauthority"
setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME="$nobody" XDG_CONFIG_HOME="$nobody/.config" \
    XAUTHORITY="$nobody/.Xauthority" "$prefix/bin/pellicor" & pid=$!
win=$(xdotool search --sync --onlyvisible --name "^Pellicor v3.60\$" | head -1)
xdotool windowfocus --sync "$win"
sleep 0.5
row=1
for name in locked peek; do
    dclick 60 $((90 + 18 * (chain + row)))
    box=$(shown '^Pellicor$' "${box:-none}")
    shot "folders-shut-box-$name"
    answer "$box"
    xdotool windowfocus --sync "$win"
    sleep 0.5
    shot "folders-shut-after-$name"
    row=$((row + 1))
done
keys e
wait $pid
SHUT
    session folders-shut
    chmod 700 "$shut/Locked" "$shut/Peek" "$work"
else
    echo "e2e-desktop: not root, or no user to drop to; folders shut by permission are not tried"
fi
