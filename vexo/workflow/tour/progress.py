"""Where the tour's time goes, as a progress bar on a terminal and as one line per family
elsewhere.
"""
import contextlib
import sys
import threading
import time

from . import interrupt
from .command import PROG, one_line, say
from .views import VIEWS


class Progress:
    """Where the tour's time goes. On a terminal a bar that names the step it is in (fitting,
    scoring, explaining, importance, each view) and stays at 100% when the tour is done;
    elsewhere (a log, a pipe) one line per family, with how far the tour is, as a bar's redraws
    would fill a log with hundreds of lines, and a line for a step that runs long."""

    STEPS = ("fitting", "scoring", "explaining", "importance")
    # In a log, a step that runs longer than this many seconds says so as often, naming the
    # family and the step: a large table is not taken for a hung tour.
    HEARTBEAT = 30.0

    def __init__(self, families, mode=True, stream=None, extra=0):
        from tqdm import tqdm

        self.stream = stream or sys.stderr
        self.mode = mode = chosen_mode(mode, self.stream)
        self.families = len(families)
        self.per_family = len(self.STEPS) + len(VIEWS)
        # ``extra``: the steps after the families (the comparison of them all)
        self.extra = extra
        self.bar = tqdm(total=self.families * self.per_family + extra, disable=mode != "bar",
                        unit="step", desc=PROG, leave=True, file=self.stream)
        self.family, self.times, self.done, self.finished = None, {}, 0, 0
        self.dask = None

    def start(self, family):
        self.family, self.times, self.done = family, {}, 0

    @contextlib.contextmanager
    def step(self, what):
        self.bar.set_postfix_str("%s: %s" % (self.family, what))
        start = time.perf_counter()
        running = self._heartbeat(what, start) if self.mode == "lines" else None
        try:
            yield
        finally:
            if running is not None:
                running.set()
            kind = what if what in self.STEPS else "views"
            self.times[kind] = self.times.get(kind, 0.0) + time.perf_counter() - start
            self.bar.update()
            self.done += 1
            # a Ctrl-C that the step's library caught, or turned into its own error
            interrupt.check()

    def _heartbeat(self, what, start):
        """A line every ``HEARTBEAT`` seconds while the step runs; set the event it returns
        to end them."""
        done, family = threading.Event(), self.family

        def beat():
            while not done.wait(self.HEARTBEAT):
                say("%s: %s: %s, %.0f s so far" % (PROG, family, what,
                                                  time.perf_counter() - start), self.stream)

        threading.Thread(target=beat, name="vexo-tour heartbeat", daemon=True).start()
        return done

    def dask_step(self, name, done, total):
        """A step of the family's on the Dask cluster, ``done`` of its ``total`` partitions
        through: named on the bar with its share done, in a log as ``DaskSteps`` says it."""
        if self.mode == "bar":
            self.bar.set_postfix_str("%s: %s" % (self.family, share_text(name, done, total)))
        elif self.mode:
            if self.dask is None:
                self.dask = DaskSteps("lines", self.stream)
            self.dask.dask_step("%s: %s" % (self.family, name), done, total)

    def finish(self, section):
        """Close the family's share of the bar, and say in one line how it went."""
        self.bar.update(self.per_family - self.done)
        self.finished += 1
        seconds = self.times
        if section.error:
            line = "%s failed while %s after %.1f s: %s" % (
                section.model, section.failed_step, sum(seconds.values()), section.error)
        elif self.mode != "lines":
            return
        else:
            errors = sum(1 for entry in section.entries if entry.error)
            line = "%s fitted in %.1f s, scored in %.1f s, explained in %.1f s, " \
                   "importance in %.1f s, %d views in %.1f s%s" % (
                       section.model, seconds.get("fitting", 0), seconds.get("scoring", 0),
                       seconds.get("explaining", 0), seconds.get("importance", 0),
                       len(section.entries), seconds.get("views", 0),
                       " (%d raised)" % errors if errors else "")
        if self.mode == "bar":
            self.bar.write(one_line("%s: %s" % (PROG, line)), file=self.stream)
        elif self.mode:
            # how far the tour is, ending at 100% with the last family
            say("%s: [%d%%] %s" % (PROG, 100 * self.finished // max(self.families, 1), line),
                self.stream)

    def compared(self, entries):
        """Close the bar's share of the comparison, and say in a log how it went."""
        self.bar.update(max(self.extra - self.done, 0))
        if self.mode == "lines" and entries:
            errors = sum(1 for entry in entries if entry.error)
            say("%s: %s: %d figures in %.1f s%s" % (
                PROG, self.family, sum(len(entry.files) for entry in entries),
                sum(self.times.values()), " (%d raised)" % errors if errors else ""), self.stream)

    def close(self):
        """End the bar; when every family is through, it is left at 100%."""
        if self.finished == self.families:
            self.bar.set_postfix_str("done", refresh=False)
        self.bar.close()


def chosen_mode(mode, stream):
    """``mode``, where True is a bar on a terminal and lines elsewhere."""
    if mode is not True:
        return mode
    isatty = getattr(stream, "isatty", None)
    return "bar" if isatty is not None and isatty() else "lines"


def share_text(name, done, total):
    return "%s %d%%" % (name, 100 * done // total if total else 100)


class DaskSteps:
    """The steps on the Dask cluster before the families' (reading the table, its statistics,
    the split and the sample): on a terminal a bar of the step's partitions; elsewhere a line
    when a step is done, and one every ``Progress.HEARTBEAT`` seconds while it runs."""

    def __init__(self, mode=True, stream=None):
        self.stream = stream or sys.stderr
        self.mode = chosen_mode(mode, self.stream)
        self.name, self.bar, self.start, self.said = None, None, 0.0, 0.0

    def dask_step(self, name, done, total):
        now = time.perf_counter()
        if name != self.name or done == 0:
            self.close()
            self.name, self.start, self.said = name, now, now
            if self.mode == "bar":
                from tqdm import tqdm

                self.bar = tqdm(total=total, unit="part", desc="%s: %s" % (PROG, name),
                                leave=False, file=self.stream)
        if self.bar is not None:
            self.bar.update(done - self.bar.n)
        elif self.mode and done == total:
            say("%s: %s: %d parts in %.1f s" % (PROG, name, total, now - self.start),
                self.stream)
        elif self.mode and now - self.said >= Progress.HEARTBEAT:
            self.said = now
            say("%s: %s, %.0f s so far" % (PROG, share_text(name, done, total),
                                          now - self.start), self.stream)
        if done == total:
            self.close()

    def close(self):
        if self.bar is not None:
            self.bar.close()
        self.name, self.bar = None, None
