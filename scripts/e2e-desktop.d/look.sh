# Sourced by scripts/e2e-desktop: large fonts, where the focus is, the About
# window's links by keyboard, and what a screen reader is told (needs dbus,
# at-spi2-core and python3-pyatspi: scripts/install-deps desktop).
look="$work/look"
mkdir -p "$look/folders/pictures" "$look/bin" "$(dirname "$registry")"
for n in 1 2 3 4 5 6 7 8 9 10 11 12; do
    cp "$work/home/extra/late.bmp" "$look/folders/pictures/picture number $n.bmp"
    mkdir -p "$look/folders/pictures/folder $n"
done
printf 'Windows Registry Editor Version 5.00\n\n%s\n"FilePath"="%s"\n' "$key" "$look/folders/pictures" > "$look/look.reg"
# The desktop's handler, which writes down what it was asked to open.
printf '#!/bin/sh\necho "$1" >> "%s"\n' "$look/opened" > "$look/bin/xdg-open"
chmod +x "$look/bin/xdg-open"
export look

cat > "$work/look-fonts.sh" <<'FONTS'
set -eu
. "$work/helpers.sh"
# At twice the design's font resolution the window fits the 1024x768 screen,
# its lists show the design's rows whole; maximized, it only grows wider.
openbox > /dev/null 2>&1 & wm=$!
sleep 1
cp "$look/look.reg" "$registry"
export QT_ENABLE_HIGHDPI_SCALING=0 QT_FONT_DPI=192
start
eval "$(xdotool getwindowgeometry --shell "$win")"
[ $((Y + HEIGHT)) -le 768 ] && [ $((X + WIDTH)) -le 1024 ] || { say "the window at 192 dpi is ${WIDTH}x$HEIGHT at $X,$Y"; exit 1; }
[ $HEIGHT -gt 700 ] || { say "the window did not grow with the font: $HEIGHT high"; exit 1; }
shot look-large-fonts
height=$HEIGHT
xdotool mousemove --window "$win" 150 -10 click --repeat 2 --delay 80 1
sleep 1.5
eval "$(xdotool getwindowgeometry --shell "$win")"
[ $HEIGHT -eq $height ] || { say "maximized, the window's height changed to $HEIGHT"; exit 1; }
shot look-large-fonts-maximized
keys e
wait $pid
kill $wm
FONTS

cat > "$work/look-focus.sh" <<'FOCUS'
set -eu
. "$work/helpers.sh"
# Each list frames its current row while it has the focus: the file list
# at the start, then Tab by Tab the folders and (after the drives) the
# conversion list; a click gives the focus as well.
cp "$look/look.reg" "$registry"
start
keys a
shot look-focus-files
xdotool key Tab
sleep 0.5
shot look-focus-folders
xdotool key Tab Tab
sleep 0.5
shot look-focus-conversion-list
click 48 244
shot look-focus-files-clicked
keys e
wait $pid
FOCUS

cat > "$work/look-about.sh" <<'ABOUT'
set -eu
. "$work/helpers.sh"
# The About window's links by keyboard: Tab reaches each, Enter opens it
# through the desktop's handler, and the window stays open.
export PATH="$look/bin:$PATH"
cp "$look/look.reg" "$registry"
start
click 28 28
about=$(shown '^About $')
xdotool windowfocus --sync "$about" key Tab Tab
sleep 0.5
shot look-about-website-focused
xdotool key Return
waitfor "grep -q '^https://corvane.example/freeware/\$' '$look/opened'"
xdotool key Tab
sleep 0.5
shot look-about-email-focused
xdotool key Return
waitfor "grep -q '^mailto:pellicor@corvane.example?subject=Pellicor%20v3.60\$' '$look/opened'"
xdotool search --onlyvisible --name '^About $' > /dev/null || { say "Enter on a link closed the About window"; exit 1; }
xdotool windowfocus --sync "$about" key Escape
xdotool windowfocus --sync "$win"
keys e
wait $pid
ABOUT

cat > "$work/look-atspi.sh" <<'ATSPI'
set -eu
. "$work/helpers.sh"
# What a screen reader reads: the accessibility bus, the program on it, and
# each control's name and role from the tree it publishes.
/usr/libexec/at-spi-bus-launcher --launch-immediately > /dev/null 2>&1 & bus=$!
sleep 1
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
cp "$look/look.reg" "$registry"
start
# Debian's own Python, which python3-pyatspi is for.
/usr/bin/python3 - > "$shots/look-accessibility-tree.txt" <<'PY'
import sys, time
import pyatspi

def walk(node, depth=0):
    yield depth, node
    for child in node:
        if child is not None:
            yield from walk(child, depth + 1)

app = None
for _ in range(50):
    app = next((a for a in pyatspi.Registry.getDesktop(0) if a is not None and a.name.lower() == "pellicor"), None)
    if app is not None and app.childCount:
        break
    time.sleep(0.2)
if app is None:
    sys.exit("e2e-desktop session: Pellicor is not on the accessibility bus")
seen = {}
for depth, node in walk(app):
    role = node.getRoleName()
    name = node.name
    labels = [t.name for r in node.getRelationSet() if r.getRelationType() == pyatspi.RELATION_LABELLED_BY
              for t in (r.getTarget(i) for i in range(r.getNTargets()))]
    print("%s%s: %r%s%s" % ("  " * depth, role, name, " labelled by %r" % labels if labels else "",
                             " (%s)" % node.description if node.description else ""))
    seen.setdefault(role, []).append(name)
    for label in labels:
        seen.setdefault(role + " labelled", []).append(label)
expected = {
    "push button": ["Convert", "Exit", "Add All", "Remove List"],
    "list": ["Bitmap files", "Folders", "Conversion list"],
    "combo box labelled": ["Drives"],
    "text": ["JPEG quality in %"],
    "check box": ["Delete BMP files after converting"],
    "label": ["Status", "Pellicor", "% Quality", "Delete BMP"],
}
missing = ["%s %r" % (role, name) for role, names in expected.items() for name in names if name not in seen.get(role, [])]
if missing:
    sys.exit("e2e-desktop session: not read out: " + ", ".join(missing))
PY
shot look-accessibility
keys e
wait $pid
kill $bus
ATSPI

session look-fonts
session look-focus
session look-about
xvfb-run -a -s "-screen 0 1024x768x24" dbus-run-session -- sh "$work/look-atspi.sh" 2> "$shots/look-atspi.log" ||
    fail "the look-atspi desktop session did not finish. $(grep 'e2e-desktop session' "$shots/look-atspi.log" || true)"
grep -q "Conversion list" "$shots/look-accessibility-tree.txt" || fail "no accessibility tree was written"
