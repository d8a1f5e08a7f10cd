# A folder dragged from a file manager onto the list: its bitmaps are queued,
# not those of the folders below it. The drag comes from a small GTK window
# offering the folder's address, as a file manager does (XDND).
drop="$work/drop"
mkdir -p "$drop/Scans/below"
for name in "Scan 2.bmp" "Scan 10.BMP" "below/not-queued.bmp"; do cp "$work/home/extra/late.bmp" "$drop/Scans/$name"; done
echo "not a bitmap" > "$drop/Scans/notes.txt"
cat > "$work/drag-source.py" <<'SOURCE'
import sys
import gi
gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, Gio, Gtk
uri = Gio.File.new_for_path(sys.argv[1]).get_uri()
window = Gtk.Window(title="drag source")
button = Gtk.Button(label="Scans")
button.drag_source_set(Gdk.ModifierType.BUTTON1_MASK, [], Gdk.DragAction.COPY)
button.drag_source_add_uri_targets()
button.connect("drag-data-get", lambda widget, context, data, info, time: data.set_uris([uri]))
window.add(button)
window.set_default_size(120, 60)
window.move(700, 500)
window.connect("destroy", Gtk.main_quit)
window.show_all()
Gtk.main()
SOURCE
if /usr/bin/python3 -c 'import gi; gi.require_version("Gtk", "3.0")' 2> /dev/null; then
    printf 'Windows Registry Editor Version 5.00\n\n%s\n"FilePath"="%s"\n"DeleteFile"="1"\n' "$key" "$drop" > "$work/drop.reg"
    export drop
    cat > "$work/drop.sh" <<'DROP'
set -eu
. "$work/helpers.sh"
mkdir -p "$(dirname "$registry")"
cp "$work/drop.reg" "$registry"
start
/usr/bin/python3 "$work/drag-source.py" "$drop/Scans" & source=$!
from=$(xdotool search --sync --onlyvisible --name '^drag source$' | head -1)
sleep 1
eval "$(xdotool getwindowgeometry --shell "$from")"
xdotool mousemove $((X + 60)) $((Y + 30)) mousedown 1
for i in 1 2 3 4 5 6 7 8 9 10; do xdotool mousemove_relative -- -20 -10; sleep 0.05; done
eval "$(xdotool getwindowgeometry --shell "$win")"
xdotool mousemove $((X + 300)) $((Y + 150)); sleep 0.3
xdotool mousemove $((X + 310)) $((Y + 160)); sleep 0.3
xdotool mouseup 1
sleep 1
shot drop-a-folder-dropped
kill $source
xdotool windowfocus --sync "$win"
keys c
waitfor '[ -f "$drop/Scans/Scan 2.jpg" ] && [ -f "$drop/Scans/Scan 10.jpg" ] && [ ! -f "$drop/Scans/Scan 2.bmp" ]'
sleep 0.5
keys e
wait $pid
DROP
    session drop
    [ -f "$drop/Scans/below/not-queued.bmp" ] && [ ! -f "$drop/Scans/below/not-queued.jpg" ] || fail "a dropped folder queued a bitmap of a folder below it"
else
    echo "e2e-desktop: no GTK for Python here (gir1.2-gtk-3.0); the folder drag is not tried"
fi
