"""A pair's name splits back into the two feature names it was joined from, whatever they hold."""
import pytest

from vexo.workflow.names import pair_name, reads_as_pair, split_pair

FEATURES = ["a x b", "a", "b x c", "c", "x", "b"]


@pytest.mark.parametrize("first, second", [("a", "c"), ("a x b", "c"), ("c", "b x c"), ("a x b", "b x c"), ("x", "x")])
def test_a_joined_pair_is_split_into_its_features_even_where_a_name_holds_the_separator(first, second):
    assert split_pair(pair_name(first, second), FEATURES) == (first, second)


@pytest.mark.parametrize("name, features, expected", [
    ("a x c", None, ("a", "c")),
    ("a x b x c", None, None),  # which two, only the features tell
    ("a", None, None),
    ("a x d", FEATURES, None),  # not a pair of these features
    ("a x", FEATURES, None),
])
def test_a_name_that_is_no_pair_of_the_features_splits_into_nothing(name, features, expected):
    assert split_pair(name, features) == expected


@pytest.mark.parametrize("text, expected", [("a x b", True), ("x a", True), ("a x", True), ("ax b", False),
                                            ("a × b", False), ("x", False)])
def test_a_name_reads_as_a_pair_where_joining_would_make_it_one(text, expected):
    assert reads_as_pair(text) == expected
