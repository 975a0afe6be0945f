"""The model families on both sides: the module's family rows agree with the experiment's registry
or the module refuses to load, and a user's own estimator is explained as its family's models are."""
import matplotlib.pyplot as plt
import pytest
from sklearn.linear_model import LinearRegression, LogisticRegression
from sklearn.neighbors import KNeighborsClassifier, KNeighborsRegressor
from sklearn.tree import DecisionTreeClassifier, DecisionTreeRegressor

from conftest import REFUSALS, fresh_interpreters, make_frame
from vexo.workflow.experiment import Experiment
from vexo.workflow.interpret_api import InterpretAPI

# What is changed in the registry before the module loads, and the start of the module's refusal.
MISMATCHES = [
    ("FAMILIES['gam'].class_names = ('GAMRegressor', 'SplineClassifier')",
     "model family 'gam': the module knows its estimators as 'GAMRegressor', 'GAMClassifier', "
     "the registry as 'GAMRegressor', 'SplineClassifier'"),
    ("FAMILIES['ebm'].class_names = ()", "model family 'ebm': the module knows its estimators as "
     "'ExplainableBoostingClassifier', 'ExplainableBoostingRegressor', the registry as nothing"),
    ("del FAMILIES['gami']", "model family 'gami': the module has views of its own for it, the registry has no such family"),
    ("FAMILIES['reludnn'].own_views = False",
     "model family 'reludnn': the module has views of its own for it, the registry's family does not declare own_views"),
    ("add_family(type('Twin', (Family,), {'name': 'twin', 'own_views': True, 'class_names': ('TwinRegressor',)})())",
     "model family 'twin': the registry's family declares own_views, the module has no row for it"),
]

# Each change in turn, undone after the refused import; the registry alone never loads the module.
SCRIPT = """
import json, sys
from vexo.workflow.experiment.families import FAMILIES, Family, add_family
alone = "vexo.workflow.interpret_api" not in sys.modules
kept, attributes, found = dict(FAMILIES), {name: dict(vars(f)) for name, f in FAMILIES.items()}, []
for change in %r:
    exec(change)
    try:
        import vexo.workflow.interpret_api
        found.append("loaded")
    except ImportError as e:
        found.append([str(e), "vexo.workflow.interpret_api" in sys.modules])
    FAMILIES.clear()
    FAMILIES.update(kept)
    for name, family in FAMILIES.items():
        vars(family).clear()
        vars(family).update(attributes[name])
import vexo.workflow.interpret_api
print(json.dumps([alone, found]))
"""


def test_a_family_row_that_disagrees_with_the_registry_refuses_to_load(tmp_path):
    changes = [change for change, _ in MISMATCHES]
    alone, found = next(fresh_interpreters({"load": SCRIPT % changes}, tmp_path, timeout=300))("load")
    assert alone
    for (message, loaded), (change, expected) in zip(found, MISMATCHES):
        assert message.startswith(expected + ";") and not loaded, change


# A user's own estimators, registered as they are ------------------------------------------

OWN = {  # (task, model) -> (the estimator, its family)
    ("regression", "linear"): (LinearRegression(), "glm"),
    ("classification", "linear"): (LogisticRegression(), "glm"),
    ("regression", "tree"): (DecisionTreeRegressor(max_depth=3), "tree"),
    ("classification", "tree"): (DecisionTreeClassifier(max_depth=3), "tree"),
    ("regression", "knn"): (KNeighborsRegressor(), "others"),
    ("classification", "knn"): (KNeighborsClassifier(), "others"),
}


@pytest.fixture(scope="module", params=["regression", "classification"])
def own(request):
    exp = Experiment(make_frame(request.param, n=200), "y", task=request.param)
    for (task, model), (estimator, _) in OWN.items():
        if task == request.param:
            exp.register(model, estimator)
    return exp


def model_response(exp, model, X):
    """The response that a sample's contributions add up to, from the model itself."""
    estimator = exp.registered_pipeline[model].estimator
    if exp.task == "regression":
        return estimator.predict(X)
    return estimator.decision_function(X) if model == "linear" else estimator.predict_proba(X)[:, 1]


@pytest.mark.parametrize("model", ["linear", "tree", "knn"])
@pytest.mark.parametrize("centered", [False, True])
def test_a_users_own_estimator_is_explained_as_its_family(own, model, centered):
    pipeline = own.registered_pipeline[model]
    assert pipeline.family == OWN[own.task, model][1]
    for row in (3, 17):
        local = own.interpret_local_fi(model, row, centered=centered)
        total = local["title"].adds_up
        assert total.total == pytest.approx(model_response(own, model, own.model_inputs(model, [row]))[0], rel=1e-9)
        assert total.baseline + local["y"].sum() == pytest.approx(total.total, rel=1e-9, abs=1e-9)


def test_a_users_own_linear_models_parts_are_its_response_from_each_features_reference(own):
    """Each part of a linear model is its linear predictor less that predictor with the feature at
    0 in model scale: its training minimum, or its first level."""
    for row in (3, 17, 40):
        x = own.model_inputs("linear", [row])
        local = own.interpret_local_fi("linear", row, centered=False)
        for name, part in zip(local["x"], local["y"]):
            at_reference = x.copy()
            at_reference[0, own.dataset.feature_names.index(name)] = 0.0
            drop = model_response(own, "linear", x) - model_response(own, "linear", at_reference)
            assert part == pytest.approx(drop[0], abs=1e-9), name


# What a user's own linear model and KNN draw: the linear one as the family's own models do, the
# KNN as a model of no family (its own tree is drawn as the session's own tree is)
DRAW, REFUSE = "draws", "refuses"
VIEWS = [  # show, arguments, outcome for the linear model, for the KNN
    ("global_fi", {}, DRAW, DRAW),
    ("glm_coef", {"uni_feature": "colour", "original_scale": True}, DRAW, TypeError),
    ("local_fi", {"sample_id": 17, "original_scale": True}, DRAW, DRAW),
    ("local_ei", {"sample_id": 17}, REFUSE, REFUSE),
    ("global_effect_plot", {"uni_feature": "age"}, REFUSE, REFUSE),
    ("tree_local", {"sample_id": 17}, REFUSE, REFUSE),
]


@pytest.mark.parametrize("model", ["linear", "knn"])
@pytest.mark.parametrize("show, arguments, linear, knn", VIEWS, ids=[v[0] for v in VIEWS])
def test_every_view_of_a_users_own_estimator_draws_or_refuses(own, model, show, arguments, linear, knn, capsys):
    view, outcome = InterpretAPI(own, model), linear if model == "linear" else knn
    if outcome is TypeError:  # no coefficients: the view reads the type of None
        with pytest.raises(TypeError):
            view.model_interpret(show=show, **arguments)
        return
    view.model_interpret(show=show, **arguments)
    printed = capsys.readouterr().out.splitlines()
    assert (plt.get_fignums() and not REFUSALS & set(printed)) if outcome == DRAW else printed[-1] in REFUSALS
