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

    def __init__(self, log, name, fixed=None, keys=None):
        object.__setattr__(self, "_state", (log, name, dict(fixed or {}), keys))

    def _note(self, *entry):
        log, name, fixed, keys = object.__getattribute__(self, "_state")
        log.append(entry[:1] + (name + entry[1],) + entry[2:])
        return log, name, fixed, keys

    def __getattr__(self, attr):
        log, name, fixed, _ = self._note("getattr", "." + attr)
        return fixed[attr] if attr in fixed else Recorder(log, f"{name}.{attr}")

    def __setattr__(self, attr, value):
        self._note("setattr", "." + attr)[2][attr] = value

    def __getitem__(self, key):
        key_text = f"{key.start}:" if isinstance(key, slice) else repr(key)
        log, name, fixed, keys = self._note("getitem", f"[{key_text}]")
        if keys is not None and key not in keys:
            raise KeyError(key)
        if not isinstance(key, slice) and key in fixed:
            return fixed[key]
        return Recorder(log, f"{name}[{key_text}]")

    def __call__(self, *args, **kwargs):
        log, name, _, _ = self._note("call", "", tuple(map(_describe, args)),
                                     tuple((k, _describe(v)) for k, v in kwargs.items()))
        return Recorder(log, f"{name}()")

    def __len__(self):
        self._note("len", "")
        return 3

    def __bool__(self):
        self._note("bool", "")
        return True

    def __contains__(self, item):
        self._note("contains", "", _describe(item))
        return False

    def __repr__(self):
        return object.__getattribute__(self, "_state")[1]


def _describe(value):
    if isinstance(value, dict):
        return "{%s}" % ", ".join(value)
    return repr(value)
