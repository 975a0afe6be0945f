"""Columns of whole numbers that number or name the rows rather than describe them.

A table written by R's ``write.csv`` or pandas' ``to_csv`` starts with the row numbers, and
many tables carry a numeric identifier ("PID", "customer_id", "SEQN"). Either kept as a feature
explains the order of the rows: in a table sorted by its target it is the strongest feature of
all. Both are left out, and cautiously, so that whole numbers that mean something (a year, a
count, a code that repeats, a year per row of a yearly series) stay:

- row numbers (``row_numbers``), told by their values alone, on the whole column;
- identifiers (``named_identifiers``), told by the column's name and by values that are all
  distinct in the training split.
"""
import re

import numpy as np

# A column of text is left out as identifiers where it has at least IDENTIFIER_ROWS training
# values and at least IDENTIFIER_SHARE of them are distinct; row numbers and identifiers need
# at least as many, and row numbers fill at least that share of their range.
IDENTIFIER_ROWS = 20
IDENTIFIER_SHARE = 0.9
# The first values of a row-number column: R numbers rows from 1, pandas from 0.
ROW_NUMBER_STARTS = (0, 1)
# Words that name a column of identifiers as the first or last word of its name ("id",
# "customer_id", "PatientID", "SEQN"), and words that do as its last word only ("Sample
# Number", not "number of rooms").
IDENTIFIER_WORDS = frozenset(("id", "ids", "pid", "uid", "uuid", "guid", "idno", "idx", "seqn",
                              "key", "index", "rownames", "rowname", "rowid"))
IDENTIFIER_LAST_WORDS = frozenset(("number", "num", "nr", "no"))
# Whole names of a column of row names: the empty header cell that R's write.csv and pandas'
# to_csv write above them, as it is, as pandas reads it ("Unnamed: 0"), as R's read.csv does
# ("X") and as readr does ("...1"); and "row.names". ("rownames" is one of the words.)
ROW_NAME_HEADERS = re.compile(r"|Unnamed: \d+|X|\.\.\.\d+|row\.names")
# The words of a name: runs of letters, split where camelCase starts a word.
_NAME_WORDS = re.compile(r"[A-Z]+(?![a-z])|[A-Z]?[a-z]+")


def name_words(name):
    """The words of a column's name in lower case: "PatientID" and "patient_id" are "patient"
    and "id"."""
    return [word.lower() for word in _NAME_WORDS.findall(name)]


def named_as_identifiers(name):
    """Whether a column's name is a name of identifiers or of row names."""
    if ROW_NAME_HEADERS.fullmatch(name):
        return True
    words = name_words(name)
    return bool(words) and (words[0] in IDENTIFIER_WORDS or words[-1] in IDENTIFIER_WORDS
                            or words[-1] in IDENTIFIER_LAST_WORDS)


def row_numbers(values):
    """The first and the last row number where a column of numbers (all its rows) holds row
    numbers, else None (``row_numbers_of``)."""
    gaps = np.isnan(values).any()
    low = values.min() if len(values) and not gaps else None
    return row_numbers_of(len(values), gaps, low, lambda: values.max(),
                          lambda: bool(np.all(values == np.round(values))),
                          lambda: len(np.unique(values)) == len(values))


def row_numbers_of(count, gaps, low, high, whole, distinct):
    """The first and the last row number where a column of numbers holds row numbers, else
    None: whole numbers without gaps, all distinct, the smallest one of ``ROW_NUMBER_STARTS``,
    filling at least ``IDENTIFIER_SHARE`` of the range up to the largest (so in any order, and
    with up to a tenth of a table's rows dropped), at least ``IDENTIFIER_ROWS`` of them. A year
    per row (1871 to 1970) is no row number. ``count`` values over all rows, whether any is a
    gap, the least; and callables that give the greatest, whether all are whole and whether
    all are distinct, as most columns need none of them."""
    if count < IDENTIFIER_ROWS or gaps or low not in ROW_NUMBER_STARTS:
        return None
    if not distinct() or count < IDENTIFIER_SHARE * (high() - low + 1) or not whole():
        return None
    return int(low), int(high())


def row_numbers_text(found):
    """What a note says of a column of row numbers, (first, last) of ``row_numbers``."""
    return "holds row numbers ({:,} to {:,})".format(*found)


def named_identifiers(name, train):
    """How many training values a column of numbers holds where they are identifiers
    (``identifiers_of``), else None."""
    seen = train[~np.isnan(train)]
    return identifiers_of(name, len(seen), lambda: bool(np.all(seen == np.round(seen))),
                          lambda: len(np.unique(seen)) == len(seen))


def identifiers_of(name, count, whole, distinct):
    """``count``, the training values of a column of numbers, where they are identifiers by
    its name (``named_as_identifiers``), else None: whole numbers, each in one training row, at
    least ``IDENTIFIER_ROWS`` of them. A "number of rooms" repeats its values and stays.
    ``whole`` and ``distinct``: callables, whether all are whole and all distinct."""
    if count < IDENTIFIER_ROWS or not named_as_identifiers(name) or not whole() \
            or not distinct():
        return None
    return count
