"""Ctrl-C during the tour. A library may catch the KeyboardInterrupt of a Ctrl-C and go on (a
network's fit stops early and returns), so the tour remembers the Ctrl-C itself and raises it
again after the step (``check``); and a few renames that must not stop halfway take a Ctrl-C
only when they are done (``deferred``).
"""
import contextlib
import signal

_pressed = False


def _remember(signum, frame):
    global _pressed
    _pressed = True


def _remember_and_raise(signum, frame):
    _remember(signum, frame)
    raise KeyboardInterrupt


@contextlib.contextmanager
def _handling(handler):
    installed = False
    try:
        previous = signal.getsignal(signal.SIGINT)
        # an ignored Ctrl-C was meant not to reach the tour (started in a shell's background)
        if previous != signal.SIG_IGN:
            signal.signal(signal.SIGINT, handler)
            installed = True
    except ValueError:  # not the main thread, which alone gets signals
        pass
    try:
        yield
    finally:
        if installed:
            # None: a handler that C code set, which Python cannot set back
            signal.signal(signal.SIGINT, signal.default_int_handler if previous is None
                          else previous)


@contextlib.contextmanager
def watched():
    """Ctrl-C raises KeyboardInterrupt as always, and ``check`` raises it again until the block
    ends."""
    global _pressed
    _pressed = False
    try:
        with _handling(_remember_and_raise):
            yield
    finally:
        _pressed = False


def check():
    """Raise the KeyboardInterrupt of a Ctrl-C in a watched block that something caught."""
    if _pressed:
        raise KeyboardInterrupt


@contextlib.contextmanager
def deferred():
    """A Ctrl-C inside the block raises its KeyboardInterrupt when the block is through."""
    global _pressed
    before, _pressed = _pressed, False
    try:
        with _handling(_remember):
            yield
    finally:
        # raised below, so nothing is left to remember
        pressed, _pressed = _pressed, before
    if pressed:
        raise KeyboardInterrupt
