"""Profiles of a table's partitions, merged, decide the same features and notes as the whole
table."""
import pickle

import numpy as np
import pandas as pd
import pytest

from vexo.workflow.experiment import profiles
from vexo.workflow.experiment.columns import prepare_features
from vexo.workflow.experiment.features import floats
from vexo.workflow.experiment.profiles import merge, profile_frame

N = 90
rng = np.random.default_rng(3)


def _mixed():
    """Gaps, rare and unseen levels, a category, a constant, a column missing >5%."""
    level = rng.choice(["a", "b", "c", "d"], N).astype(object)
    level[[5, 80]] = "rare"
    level[85] = "unseen"
    level[[7, 40]] = None
    sparse = rng.normal(size=N)
    sparse[rng.choice(N, 15, replace=False)] = np.nan
    sparse[3] = np.inf
    return pd.DataFrame({
        "level": level, "size": pd.Categorical(rng.choice(["S", "M", "L"], N), categories=["S", "M", "L", "XL"]),
        "constant": 7.0, "sparse": sparse, "count": rng.integers(0, 5, N), "flag": rng.random(N) < 0.3,
        "y": rng.normal(size=N),
        # dates in the first rows only: text
        "dates first": ["2020-01-%02d" % (i % 28 + 1) for i in range(40)] + list(rng.choice(["x", "z"], N - 40))})


def _dated():
    """Text dates in time zones, dates, durations, text numbers, numbers at the ends of the doubles."""
    start = pd.Timestamp("2020-03-01 06:00")
    when = [(start + pd.Timedelta(hours=7 * i)).strftime("%Y-%m-%dT%H:%M:%S") + ("Z" if i % 3 else "+02:00")
            for i in range(N)]
    days = pd.Series(pd.date_range("2019-01-01", periods=N, freq="D")).sample(frac=1, random_state=1).to_numpy()
    big = 2 ** 60 + rng.integers(0, 2 ** 40, N) * 1024
    text_numbers = pd.Series(rng.integers(0, 9, N), dtype=object)
    text_numbers[4] = None
    return pd.DataFrame({
        "when": when, "day": days, "plain": [d.strftime("%d.%m.%Y") for d in pd.to_datetime(days)],
        "took": pd.to_timedelta(rng.integers(1, 50, N), unit="h"), "big": big, "text numbers": text_numbers,
        "wide": np.where(np.arange(N) % 2, 1.7e308, -1.7e308) * rng.random(N), "y": rng.normal(size=N)})


def _identifiers():
    """Row numbers, identifiers by name, a column of text identifiers, a reserved name."""
    return pd.DataFrame({
        "Unnamed: 0": rng.permutation(N) + 1, "customer_id": rng.choice(10 ** 6, N, replace=False),
        "code": ["c%05d" % v for v in rng.choice(10 ** 5, N, replace=False)], "Intercept": rng.normal(size=N),
        "a x b": rng.choice(["p", "q"], N), "y": rng.normal(size=N)})


TABLES = {"mixed": _mixed, "dated": _dated, "identifiers": _identifiers}


def _train_rows(n):
    return np.sort(np.random.default_rng(0).choice(n, int(0.7 * n), replace=False))


def _merged(frame, target, train_rows, chunks):
    """The profile of ``frame`` in ``chunks`` parts, merged as a balanced tree."""
    mask = np.zeros(len(frame), dtype=bool)
    mask[train_rows] = True
    # as from the processes that hold the partitions
    parts = [pickle.loads(pickle.dumps(profile_frame(frame.iloc[rows], target, mask[rows])))
             for rows in np.array_split(np.arange(len(frame)), chunks)]
    while len(parts) > 1:
        parts = [merge(*parts[i:i + 2]) if i + 1 < len(parts) else parts[i] for i in range(0, len(parts), 2)]
    return parts[0]


def _answered(profile, frame, train_rows):
    """Answers a profile's questions from the whole frame, as a cluster would."""
    train = frame.iloc[train_rows]
    while profile.questions():
        for kind, source in profile.questions():
            if kind == "counts":
                value = tuple(part[source].dropna().astype(object).value_counts(sort=False) for part in (train, frame))
            else:
                part = frame if kind == "distinct_all" else train
                column = part[source]
                value = len(np.unique(floats(column)[~np.isnan(floats(column))])) if pd.api.types.is_numeric_dtype(
                    column.dtype) else column.dropna().astype(object).nunique()
            profile.answer(kind, source, value)
    return profile


def _attributes(feature, frame):
    held = {k: v for k, v in vars(feature).items() if k not in ("of", "_index", "_codes")}
    held["labels"] = list(held.get("labels", []))
    if feature.kind == "categorical":
        held["codes"] = list(feature.codes(frame))
    return held


def _same(whole, merged, frame, median_bound=0.0, check_dtype=True):
    assert (merged.feature_names, merged.notes) == (whole.feature_names, whole.notes)
    assert {k: list(v) for k, v in merged.categories.items()} == {k: list(v) for k, v in whole.categories.items()}
    for name, feature in whole.features.items():
        expected, found = _attributes(feature, frame), _attributes(merged.features[name], frame)
        if median_bound and "median" in expected:
            assert abs(found.pop("median") - expected.pop("median")) <= median_bound * feature.range
        assert found == expected, name
    if not median_bound:
        pd.testing.assert_frame_equal(merged.data, whole.data, check_dtype=check_dtype)


@pytest.mark.parametrize("chunks", [1, 2, 7])
@pytest.mark.parametrize("table", sorted(TABLES))
def test_merged_profiles_decide_as_the_whole_table(table, chunks):
    frame, train_rows = TABLES[table](), _train_rows(N)
    whole = prepare_features(frame, "y", train_rows)
    profile = _merged(frame, "y", train_rows, chunks)
    assert chunks > 1 or profile.questions() == []
    _answered(profile, frame, train_rows)
    _same(whole, prepare_features(frame, "y", train_rows, profile=profile), frame)


def _wide(n=600):
    names = np.array(["n%04d" % i for i in range(300)], dtype=object)
    return pd.DataFrame({
        "x": rng.normal(size=n), "Unnamed: 0": np.arange(n), "order_id": rng.choice(10 ** 7, n, replace=False),
        "when": pd.Timestamp("2021-01-01") + pd.to_timedelta(rng.integers(0, 10 ** 6, n), unit="s"),
        "code": ["k%06d" % v for v in rng.choice(10 ** 6, n, replace=False)],
        "name": names[rng.integers(0, 300, n)], "few": rng.choice(list("abc"), n),
        "y": rng.normal(size=n)})


@pytest.mark.parametrize("chunks", [2, 7])
def test_past_the_bounds_questions_and_quantiles_give_the_same_decisions(monkeypatch, chunks):
    monkeypatch.setattr(profiles, "EXACT_VALUES", 50)
    monkeypatch.setattr(profiles, "KEPT_LEVELS", 40)
    frame, train_rows = _wide(), _train_rows(600)
    whole = prepare_features(frame, "y", train_rows)
    assert profile_frame(frame, "y", np.ones(len(frame), bool)).questions() == []
    profile = _merged(frame, "y", train_rows, chunks)
    asked = profile.questions()
    assert ("distinct_all", "Unnamed: 0") in asked and ("distinct_train", "code") in asked
    assert ("counts", "name") not in asked    # not before its distinct count is answered
    _answered(profile, frame, train_rows)
    _same(whole, prepare_features(frame, "y", train_rows, profile=profile), frame, median_bound=0.01)
