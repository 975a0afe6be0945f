"""What keeps large tables in bounded time: permutation importance shuffles a sample of the test rows (re-evaluating
an additive model's terms only where a feature enters them). The bounds are lowered here so that small tables
cross them."""

import numpy as np
import pytest
from sklearn.inspection import permutation_importance
from sklearn.metrics import r2_score, roc_auc_score

from conftest import make_frame
from vexo.workflow.experiment import explain, families
from vexo.workflow.experiment import Experiment


def test_additive_permutation_importance_is_scikit_learns(experiment):
    regression = experiment.task == "regression"
    terms = families.FAMILIES["gami"].terms(experiment, "gami")
    test = experiment.dataset.test_index
    pipeline = experiment.registered_pipeline["gami"]
    X, y = pipeline.transform(experiment.dataset.data)[test], experiment.dataset.encoded_target(test)
    drops = explain.additive_permutation_importance(terms, X, y, r2_score if regression else roc_auc_score, 4,
                                                    random_state=5)
    reference = permutation_importance(pipeline.estimator, X, y, scoring="r2" if regression else "roc_auc",
                                       n_repeats=4, random_state=5)
    assert drops.T == pytest.approx(reference.importances, abs=1e-10)


def test_permutation_importance_of_a_large_test_split_uses_a_sorted_reproducible_sample(monkeypatch):
    monkeypatch.setattr(explain, "FI_ROWS", 50)
    results = []
    for _ in range(2):
        exp = Experiment(make_frame(n=400), "y", random_state=3)
        exp.register("tree", "tree")
        exp.register("gam", "gam")
        terms, rows = families.FAMILIES["gam"].terms(exp, "gam"), []
        monkeypatch.setattr(terms, "contributions", lambda X, terms=None, whole=terms.contributions:
                            rows.append(len(X)) or whole(X, terms))
        results.append([exp.interpret_fi(model) for model in ("tree", "gam")])
        assert rows and set(rows) == {50}
    for first, again in zip(*results):
        assert first["feature_names"] == again["feature_names"] and np.array_equal(first["importance"], again["importance"])
    assert results[0][1]["feature_names"][0] == "noise"  # y ignores it
