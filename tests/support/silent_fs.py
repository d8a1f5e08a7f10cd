# A FUSE file system whose every operation hangs, as a network share whose
# server went away: silent_fs.py MOUNTPOINT (python3-fusepy).
import sys, threading
from fusepy import FUSE, Operations

class Silent(Operations):
    def __call__(self, op, *args):
        if op in ("init", "destroy"):
            return None
        threading.Event().wait()  # never answers

FUSE(Silent(), sys.argv[1], foreground=True, fsname="silent")
