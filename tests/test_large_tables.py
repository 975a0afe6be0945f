"""What keeps large tables in bounded time: permutation importance shuffles a sample of the test rows (re-evaluating
an additive model's terms only where a feature enters them). The bounds are lowered here so that small tables
cross them."""

import numpy as np
import pandas as pd
import pytest
from sklearn.inspection import permutation_importance
from sklearn.metrics import r2_score, roc_auc_score

from vexo.workflow.experiment import explain, families
from vexo.workflow.experiment import Experiment


def table(n=400, seed=0):
    """Four numeric columns and a categorical one (codes 0-2, code 3 on a single row); y has
    a pair x1 * x2."""
    rng = np.random.default_rng(seed)
    X = rng.uniform(size=(n, 5))
    X[:, 4] = rng.integers(0, 3, n)
    X[n // 2, 4] = 3
    y = np.sin(4 * X[:, 0]) + 3 * X[:, 1] * X[:, 2] + 0.3 * X[:, 4] + rng.normal(0, 0.1, n)
    return X, y


def frame_of(n, task, seed=2):
    X, y = table(n=n, seed=seed)
    # no level of one row, which the test split might hold alone
    kind = np.array(["p", "q", "r", "r"])[X[:, 4].astype(int)]
    frame = pd.DataFrame(X[:, :4], columns=["a", "b", "c", "d"])
    frame["kind"] = pd.Categorical(kind)
    frame["y"] = y if task == "regression" else np.where(y > np.median(y), "hi", "lo")
    return frame


@pytest.mark.parametrize("task", ["regression", "classification"])
def test_additive_permutation_importance_is_scikit_learns(task):
    exp = Experiment(frame_of(300, task), "y", task=task)
    exp.register("gami", "gami", interactions=[(1, 2), (0, 3)])
    terms = families.FAMILIES["gami"].terms(exp, "gami")
    test = exp.dataset.test_index
    X, y = exp.registered_pipeline["gami"].transform(exp.dataset.data)[test], exp.dataset.encoded_target(test)
    score = r2_score if task == "regression" else roc_auc_score
    drops = explain.additive_permutation_importance(terms, X, y, score, 4, random_state=5)
    reference = permutation_importance(exp.registered_pipeline["gami"].estimator, X, y,
                                       scoring="r2" if task == "regression" else "roc_auc",
                                       n_repeats=4, random_state=5)
    assert drops.T == pytest.approx(reference.importances, abs=1e-10)


def test_permutation_importance_of_a_large_test_split_uses_a_sorted_reproducible_sample(monkeypatch):
    monkeypatch.setattr(explain, "FI_ROWS", 50)
    results = []
    for _ in range(2):
        exp = Experiment(frame_of(400, "regression"), "y", random_state=3)
        exp.register("tree", "tree")
        exp.register("gam", "gam")
        terms, rows = families.FAMILIES["gam"].terms(exp, "gam"), []
        monkeypatch.setattr(terms, "contributions", lambda X, terms=None, whole=terms.contributions:
                            rows.append(len(X)) or whole(X, terms))
        results.append([exp.interpret_fi(model) for model in ("tree", "gam")])
        assert rows and set(rows) == {50}
    for first, again in zip(*results):
        assert first["feature_names"] == again["feature_names"] and np.array_equal(first["importance"], again["importance"])
    assert results[0][1]["feature_names"][0] == "d"  # y ignores d
