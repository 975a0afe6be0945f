"""Targets as tables bring them: several classes, labels as text or numbers, gaps, and the
targets that leave nothing to explain."""

import numpy as np
import pandas as pd
import pytest

from vexo.workflow.experiment import Experiment

def test_more_than_two_classes_default_to_the_most_frequent_and_two_keep_the_second_unless_told():
    species = np.random.default_rng(1).permutation(np.repeat(["medium", "large", "small"], [50, 60, 40]))
    exp = Experiment(pd.DataFrame({"x": np.arange(150.0), "species": species}), "species", task="classification")
    ds = exp.dataset
    assert list(ds.classes) == ["not large", "large"] and ds.positive_class == "large"
    assert exp.notes == ["classification of 'large' against the rest (3 classes; the most frequent; choose with "
                         "positive_class)"]
    assert list(ds.encoded_target()) == list((ds.data["species"].to_numpy() == "large").astype(int))
    # Equally frequent classes: the first in order, numbers in numeric order.
    tied = pd.DataFrame({"x": np.arange(60.0), "y": np.repeat([10, 9, 30], 20)})
    assert Experiment(tied, "y", task="classification").dataset.positive_class == 9
    frame = pd.DataFrame({"x": np.random.default_rng(0).normal(size=40), "sex": np.tile(["M", "F"], 20)})
    flipped = Experiment(frame, "sex", task="classification", positive_class="F")
    assert list(flipped.dataset.classes) == ["M", "F"] and flipped.notes == []
    assert list(flipped.dataset.encoded_target()) == list((frame["sex"] == "F").astype(int))
    # a label with a percent sign is written into titles as it is
    share = Experiment(frame.assign(sex=np.tile(["0%", "100%"], 20)), "sex", task="classification")
    share.register("glm", "glm")
    title = share.interpret_local_fi("glm", 0)["title"]
    assert "logit of 100% " in title and title.axis_label == "contribution to the logit of 100%"


def test_rows_without_a_target_are_dropped_and_positions_count_what_is_left():
    frame = pd.DataFrame({"x": np.arange(30.0), "y": np.arange(30.0) ** 2})
    frame.loc[[0, 7, 29], "y"] = np.nan
    exp = Experiment(frame, "y")
    ds = exp.dataset
    assert exp.notes == ["dropped 3 rows whose target is missing"] and ds.dropped_rows == 3
    assert ds.data.shape[0] == 27 and not ds.data["y"].isna().any()
    assert list(ds.source_rows) == [i for i in range(30) if i not in (0, 7, 29)]
    # Position 6 is the user's row 7's successor, row 8.
    assert ds.data["x"].iloc[ds.check_sample_index(6)] == frame["x"].iloc[ds.source_rows[6]] == 8
    with pytest.raises(IndexError, match="the data has 27 rows once those without a target"):
        ds.check_sample_index(27)


def _y(y):
    return pd.DataFrame({"x": np.arange(20.0), "y": y})


def _classes(counts):
    return pd.DataFrame({"y": np.repeat(list(counts), list(counts.values()))}).assign(x=1.0)


@pytest.mark.parametrize("frame, task, positive, message", [
    (_y(np.nan), "regression", None, r"^target column 'y' has no values: it is missing in all 20 rows$"),
    (_y(3.5), "regression", None, r"^the regression target 'y' takes the single value 3.5 in every row"),
    (_y(np.r_[np.inf, np.arange(19.0)]), "regression", None, r"^target column 'y' holds infinite values in 1 row$"),
    (_classes({"a": 20}), "classification", None, r"at least two classes; column 'y' takes the single value 'a'$"),
    (_classes({"a": 20, "b": 4}), "classification", None,
     r"^class 'b' of the target 'y': 4 rows; a classification needs at least 5 of the positive class and 5 of the rest$"),
    (_classes({"a": 20, "b": 3, "c": 1}), "classification", "a", r"^the classes other than 'a' together of the target"),
    (_classes({1: 10, 2: 10, 3: 10}), "classification", "2",
     r"^positive_class '2' is not a label .* are 1, 2, 3 \('2' and 2 differ: give the label as the table holds it\)$"),
    (_classes({k: 6 for k in range(12)}), "classification", 99, r"labels are 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, \.\.\. \(12 labels\)$"),
])
def test_targets_that_leave_nothing_to_explain_are_refused_in_one_line(frame, task, positive, message):
    with pytest.raises(ValueError, match=message) as refusal:
        Experiment(frame, "y", task=task, positive_class=positive)
    assert "\n" not in str(refusal.value)
