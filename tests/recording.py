"""Objects that write every attribute lookup, subscription, call, length and truth test made on
them into one shared log, so that a test can compare the order of what a view does with the order
of what the same Python lines do."""


class Log(list):
    def recorder(self, name, **fixed):
        return Recorder(self, name, fixed)


class Recorder:
    """Stands for anything. `fixed` holds attributes and items that exist as given (logged when read);
    every other attribute or item is a new recorder named after its path; a missing key raises
    KeyError when `keys` is given and does not hold it."""

    def __init__(self, log, name, fixed=None, keys=None, length=3):
        object.__setattr__(self, "_state", (log, name, dict(fixed or {}), keys, length))

    def _child(self, name):
        log = object.__getattribute__(self, "_state")[0]
        return Recorder(log, name)

    def __getattr__(self, attr):
        log, name, fixed, _, _ = object.__getattribute__(self, "_state")
        log.append(("getattr", f"{name}.{attr}"))
        return fixed[attr] if attr in fixed else self._child(f"{name}.{attr}")

    def __setattr__(self, attr, value):
        log, name, fixed, _, _ = object.__getattribute__(self, "_state")
        log.append(("setattr", f"{name}.{attr}"))
        fixed[attr] = value

    def __getitem__(self, key):
        log, name, fixed, keys, _ = object.__getattribute__(self, "_state")
        key_text = f"{key.start}:" if isinstance(key, slice) else repr(key)
        log.append(("getitem", f"{name}[{key_text}]"))
        if keys is not None and key not in keys:
            raise KeyError(key)
        if not isinstance(key, slice) and key in fixed:
            return fixed[key]
        return self._child(f"{name}[{key_text}]")

    def __call__(self, *args, **kwargs):
        log, name, _, _, _ = object.__getattribute__(self, "_state")
        log.append(("call", name, tuple(_describe(a) for a in args), tuple(kwargs)))
        return self._child(f"{name}()")

    def __len__(self):
        log, name, _, _, length = object.__getattribute__(self, "_state")
        log.append(("len", name))
        return length

    def __bool__(self):
        log, name, _, _, _ = object.__getattribute__(self, "_state")
        log.append(("bool", name))
        return True

    def __contains__(self, item):
        log, name, _, _, _ = object.__getattribute__(self, "_state")
        log.append(("contains", name, _describe(item)))
        return False

    def __repr__(self):
        return object.__getattribute__(self, "_state")[1]


def _describe(value):
    if isinstance(value, Recorder):
        return repr(value)
    if isinstance(value, dict):
        return "{%s}" % ", ".join(value)
    return repr(value)
