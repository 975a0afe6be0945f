"""The notes of an experiment: a line for each thing done to the user's table.

A note that names a setting or writes a number as Python does says it in Python's words
(``positive_class``, ``2**53``); it keeps its template, so that another interface (the tour's
command) gives the same note in its own words (``--class``) with ``Note.worded``. The notes on
the columns are grouped by what was done to them (``ColumnNotes``), so that a table of a
hundred columns gives a handful of lines.
"""

# Python's words that a template may hold as fields ("choose with %(positive_class)s"), as
# Python says them.
PYTHON_WORDS = {"positive_class": "positive_class", "2**53": "2**53"}
# Columns of one kind of treatment named a line each; more share a line, which names this many.
NOTES_PER_KIND = 4
# The lines that the notes on a table's columns take at most, where they can: past them, every
# kind of treatment of more than one column shares a line.
COLUMN_NOTE_LINES = 12


class Note(str):
    """A note's text in Python's words, or in the ``words`` of another interface (Python's
    word -> its own); ``values`` fill the template's other fields."""

    def __new__(cls, template, words=None, **values):
        said = dict(PYTHON_WORDS)
        said.update(words or {})
        said.update(values)
        note = super().__new__(cls, template % said)
        note.template, note.words, note.values = template, dict(words or {}), values
        return note

    def worded(self, words):
        """The same note in the words of another interface."""
        return Note(self.template, words, **self.values)

    def __reduce__(self):
        return _note, (self.template, self.words, self.values)


def _note(template, words, values):
    return Note(template, words, **values)


def named(shown):
    """The first ``NOTES_PER_KIND`` of the columns (as a note shows each) and how many more."""
    more = len(shown) - NOTES_PER_KIND
    return ", ".join(shown[:NOTES_PER_KIND]) + (" and %d more" % more if more > 0 else "")


def joined(items):
    """The items as a sentence lists them: "a", "a and b", "a, b and c"."""
    return items[0] if len(items) == 1 else ", ".join(items[:-1]) + " and " + items[-1]


class Kind:
    """A kind of treatment of columns and the line that its columns share when they are many:
    ``template`` with the fields ``count`` and ``names`` and those of ``values``. Kinds of a
    lower ``rank`` come first."""

    def __init__(self, template, rank=1, **values):
        self.template, self.rank, self.values = template, rank, values
        self.key = (type(self), template, tuple(sorted(values.items())))

    def line(self, columns):
        return Note(self.template, count=len(columns), names=named([c[0] for c in columns]),
                    **self.values)


class ColumnNotes:
    """The notes on a table's columns: ``add`` a column's own line under the kind of what was
    done to it, ``lines`` gives them grouped."""

    def __init__(self):
        self._kinds = {}

    def add(self, kind, note, name, shown=None, *extra):
        """``note``: the column's own line; ``shown``: the column as a shared line names it
        (by default its name quoted); ``extra``: what else the kind's shared line reads."""
        entries = self._kinds.setdefault(kind.key, (kind, []))[1]
        entries.append((repr(name) if shown is None else shown, note) + extra)

    def lines(self):
        """A line per column of a kind of up to ``NOTES_PER_KIND`` columns, one for a kind of
        more; and one for a kind of more than one where the lines would pass
        ``COLUMN_NOTE_LINES``."""
        kinds = sorted(self._kinds.values(), key=lambda item: item[0].rank)
        for most in (NOTES_PER_KIND, 1):
            lines = []
            for kind, columns in kinds:
                if len(columns) <= most:
                    lines.extend(column[1] for column in columns)
                else:
                    lines.append(kind.line(columns))
            if len(lines) <= COLUMN_NOTE_LINES:
                break
        return lines
