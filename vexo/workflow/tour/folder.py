"""The gallery's folder. The tour draws into an unfinished folder of its own and moves the files
into the ``--out`` folder only when the gallery is complete, so that a Ctrl-C or a failure leaves
the earlier gallery or none, never a mixture of two runs. A folder that exists is used only when
it is empty or one of the tour's galleries, which the file ``.vexo-tour`` marks with the names of
the files that the tour wrote there; any other is refused, as replacing it would lose the user's
files. Every file is written under a temporary name and renamed, so none is ever half written.
"""
import contextlib
import os
import secrets
import shutil
import time

from . import interrupt
from .command import UsageError

MARKER = ".vexo-tour"
MARKER_HEAD = "vexo-tour gallery: the tour wrote these files and replaces them"
UNFINISHED = ".vexo-tour-unfinished-"
PAGE = "index.html"
# the longest name of a file or folder on the usual file systems, in bytes
NAME_MAX = 255


def write_whole(path, write):
    """``write(name)`` writes the file under a temporary name that then becomes ``path``."""
    folder, name = os.path.split(path)
    part = os.path.join(folder, ".%s.%d.part" % (name, os.getpid()))
    try:
        write(part)
        os.replace(part, path)
    except BaseException:
        with contextlib.suppress(OSError):
            os.remove(part)
        raise


def write_text(path, text):
    def write(part):
        # a name that is not UTF-8 shows as its escapes rather than losing the file
        with open(part, "w", encoding="utf-8", errors="backslashreplace") as handle:
            handle.write(text)

    write_whole(path, write)


def default_out(name):
    """A new folder here named after the data and the time, within the file system's limit on a
    name: the data's name is cut (and the wildcards of a pattern of files left out), the time and
    the number that makes the name new are kept."""
    part = "".join(c if c.isprintable() and c not in " .*?[]" else "_" for c in name)
    stamp, k = time.strftime("%Y%m%d-%H%M%S"), 1
    while True:
        rest = "-%s%s" % (stamp, "-%d" % k if k > 1 else "")
        room = NAME_MAX - len(os.fsencode("vexo-tour-" + rest))
        out = "vexo-tour-%s%s" % (os.fsencode(part)[:room].decode("utf-8", "ignore"), rest)
        if not os.path.lexists(out):
            return out
        k += 1


def tour_files(out, unfinished=None):
    """The names of the files of the tour's gallery in the folder ``out``; a UsageError when the
    folder holds anything else (``unfinished``, the tour's own folder in it, aside)."""
    if not os.path.isdir(out):
        raise UsageError("%s is not a folder" % out)
    present = set(os.listdir(out)) - {unfinished}
    listed = set()
    if MARKER in present:
        with contextlib.suppress(OSError, UnicodeError):
            with open(os.path.join(out, MARKER), encoding="utf-8") as handle:
                lines = handle.read().splitlines()
            if lines[:1] == [MARKER_HEAD]:
                listed = set(lines[1:]) | {MARKER}
    ours = {name for name in present & listed if not os.path.isdir(os.path.join(out, name))
            or os.path.islink(os.path.join(out, name))}
    foreign = sorted(present - ours)
    if foreign:
        raise UsageError("the folder %s holds files that the tour did not write (%s%s); name a "
                         "new or empty folder, or one of the tour's galleries" % (
                             out, ", ".join(foreign[:3]), ", ..." if len(foreign) > 3 else ""))
    return ours - {MARKER}


def marker_text(names):
    return "\n".join([MARKER_HEAD] + sorted(names)) + "\n"


class GalleryFolder:
    """The folder ``out`` of the gallery, checked when made, before the minutes of fitting, and
    the unfinished folder ``path`` that the tour draws in: beside a new ``out``, in an existing
    one (its own device, where its files can be renamed into place)."""

    def __init__(self, out):
        self.out, self.path, self.committed = out, None, False
        self.existed = os.path.lexists(out)
        if self.existed:
            tour_files(out)

    def open(self):
        where = self.out if self.existed else os.path.dirname(os.path.abspath(self.out))
        try:
            os.makedirs(where, exist_ok=True)
            with interrupt.deferred():
                while self.path is None:
                    path = os.path.join(where, UNFINISHED + secrets.token_hex(4))
                    with contextlib.suppress(FileExistsError):
                        os.mkdir(path)
                        self.path = path
        except OSError as error:
            raise UsageError("cannot make the folder %s: %s" % (self.out, error.strerror or error))
        return self.path

    def commit(self):
        """Move the complete gallery into ``out``: in one rename where it is new, else file by
        file, the page and the marker last."""
        names = set(os.listdir(self.path))
        write_text(os.path.join(self.path, MARKER), marker_text(names))
        with interrupt.deferred():
            if os.path.lexists(self.out):
                self.replace_files(names)
            else:
                os.rename(self.path, self.out)
            self.committed = True

    def replace_files(self, names):
        earlier = tour_files(self.out, os.path.basename(self.path))
        # claiming both galleries' files first leaves, if the machine stops halfway, a folder
        # that the next tour replaces; the page goes first so none claims to be complete
        write_text(os.path.join(self.out, MARKER), marker_text(earlier | names))
        for name in [PAGE] + sorted(earlier - names):
            with contextlib.suppress(FileNotFoundError):
                os.remove(os.path.join(self.out, name))
        for name in sorted(names, key=lambda other: other == PAGE) + [MARKER]:
            os.replace(os.path.join(self.path, name), os.path.join(self.out, name))
        os.rmdir(self.path)

    def discard(self):
        """Remove the unfinished folder, unless it became the gallery."""
        if self.path is not None and not self.committed:
            with interrupt.deferred():
                shutil.rmtree(self.path, ignore_errors=True)

    def left(self):
        """What a Ctrl-C leaves, for the line that says so."""
        if self.committed:
            return "the gallery in %s is complete" % self.out
        if self.path is not None and os.path.exists(self.path):
            return "the unfinished gallery is left in %s" % self.path
        said = "the unfinished gallery is removed" if self.path else "nothing was written"
        return said + ("; %s is left as it was" % self.out if self.existed else "")
