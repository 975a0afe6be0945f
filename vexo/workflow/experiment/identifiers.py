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
    numbers, else None: whole numbers without gaps, all distinct, the smallest one of
    ``ROW_NUMBER_STARTS``, filling at least ``IDENTIFIER_SHARE`` of the range up to the largest
    (so in any order, and with up to a tenth of a table's rows dropped), at least
    ``IDENTIFIER_ROWS`` of them. A year per row (1871 to 1970) is no row number."""
    if len(values) < IDENTIFIER_ROWS or np.isnan(values).any() \
            or values.min() not in ROW_NUMBER_STARTS:
        # most columns end here, before the sort that counts their distinct values
        return None
    distinct = np.unique(values)
    low, high = distinct[0], distinct[-1]
    if len(distinct) < len(values) or low not in ROW_NUMBER_STARTS \
            or len(values) < IDENTIFIER_SHARE * (high - low + 1) \
            or not np.all(distinct == np.round(distinct)):
        return None
    return int(low), int(high)


def row_numbers_text(found):
    """What a note says of a column of row numbers, (first, last) of ``row_numbers``."""
    return "holds row numbers ({:,} to {:,})".format(*found)


def named_identifiers(name, train):
    """How many training values a column of numbers holds where they are identifiers by its
    name (``named_as_identifiers``), else None: whole numbers, each in one training row, at
    least ``IDENTIFIER_ROWS`` of them. A "number of rooms" repeats its values and stays."""
    seen = train[~np.isnan(train)]
    if len(seen) < IDENTIFIER_ROWS or not named_as_identifiers(name) \
            or not np.all(seen == np.round(seen)) or len(np.unique(seen)) < len(seen):
        return None
    return len(seen)
