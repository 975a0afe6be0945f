"""The name of a feature pair: its two feature names joined by " x ", as the experiment keys its
interaction terms and the views draw them; the values of a pair's sample are joined alike.

Both the experiment and the drawing read this, so it depends on neither.
"""

SEPARATOR = " x "


def pair_name(first, second):
    """The name of the pair of two features (or of their two values)."""
    return first + SEPARATOR + second


def parts(text):
    """The texts that the separator joins in ``text``: one, two, or more."""
    return text.split(SEPARATOR)


def split_pair(name, features=None):
    """The two feature names whose pair name is ``name``, or None.

    Against ``features`` the name is matched, not split, since a feature's name may hold the
    separator itself; without them, a name of exactly two parts is split."""
    if features is None:
        found = parts(name)
        return tuple(found) if len(found) == 2 else None
    names = set(features)
    for first in features:
        rest = name[len(first) + len(SEPARATOR):]
        if name.startswith(first + SEPARATOR) and rest in names:
            return first, rest
    return None


def reads_as_pair(text):
    """Whether a name would read as a pair, or become one when joined: it holds the separator,
    or begins or ends with its letter and a blank."""
    return SEPARATOR in text or text.endswith(SEPARATOR.rstrip()) or text.startswith(SEPARATOR.lstrip())
