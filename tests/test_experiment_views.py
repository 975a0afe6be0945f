"""Every view through ``model_interpret`` on every real model draws or prints its refusal."""

import pickle

import matplotlib.pyplot as plt
import pytest

from conftest import REFUSALS
from vexo.workflow import interpret_api
from vexo.workflow.interpret_api import InterpretAPI

DRAW, REFUSE, SHOW = "draws", "refuses", "shows a table"
# The coefficient view reads the type of a result that models without terms do not have: the
# interpreter's TypeError for None, which is documented, not a refusal.
RAISE = TypeError
MODELS = ("glm", "tree", "relu", "ebm", "gam", "gami")  # a user's own estimator: the table of test_families
ADDITIVE = ("ebm", "gam", "gami")


def drawn_by(*models, outcome=DRAW):
    return {m: outcome if m in models else REFUSE for m in MODELS}


EVERY = drawn_by(*MODELS)
PAIR = ("income_per_household", "income_per_capita_usd")
EI = {m: None if m == "relu" else "ei" for m in MODELS}  # the dispatcher refuses a ReLU network itself

# show, arguments, method reached (per model where the dispatcher decides), outcome per model
VIEWS = [
    ("global_fi", {"return_data": True}, "fi", EVERY),
    ("global_ei", {}, EI, drawn_by(*ADDITIVE)),
    ("llm_pc", {}, {m: "ei" if m == "relu" else None for m in MODELS}, drawn_by("relu")),
    ("glm_coef", {"uni_feature": "Numeric"}, "coef", dict(drawn_by("glm"), tree=RAISE)),
    ("glm_coef", {"uni_feature": "Numeric", "original_scale": True}, "coef", dict(drawn_by("glm"), tree=RAISE)),
    ("global_effect_plot", {"uni_feature": "age", "original_scale": True}, "main_effect", drawn_by("relu", *ADDITIVE)),
    ("global_effect_plot", {"uni_feature": "colour"}, "main_effect", drawn_by("relu", *ADDITIVE)),
    ("global_effect_plot", {"uni_feature": "colour", "original_scale": True}, "main_effect",
     drawn_by("relu", *ADDITIVE)),
    # A GAM has no pairs: the interaction view does not know its family.
    ("global_effect_plot", {"bi_features": PAIR, "original_scale": True}, "interaction_effect",
     drawn_by("relu", "ebm", "gami")),
    ("local_fi", {"sample_id": 17, "centered": False, "return_data": True}, "fi_local", EVERY),
    # the colour column's value is its label in original units
    ("local_fi", {"sample_id": 17, "original_scale": True, "return_data": True}, "fi_local", EVERY),
    ("local_ei", {"sample_id": 17, "original_scale": True}, "ei_local", drawn_by(*ADDITIVE)),
    ("llm_summary", {}, "llm_df", drawn_by("relu", outcome=SHOW)),
    ("llm_violin", {}, "llm_violin", drawn_by("relu")),
    ("tree_global", {"original_scale": True}, "get_tree", drawn_by("tree")),
    ("tree_local", {"sample_id": 17, "original_scale": True}, "get_local_tree", drawn_by("tree")),
    ("tree_local", {"sample_id": 250, "original_scale": False}, "get_local_tree", drawn_by("tree")),
]


@pytest.mark.parametrize("model, show, arguments, outcome", [
    pytest.param(model, show, arguments, outcome[model], id="-".join([model, show, *map(str, arguments.items())]))
    for show, arguments, _, outcome in VIEWS for model in MODELS])
def test_view_draws_or_refuses(experiment, model, show, arguments, outcome, capsys):
    if "bi_features" in arguments:  # a pair is named as the 15-character display names name it
        arguments = dict(arguments, bi_features=tuple(experiment.dataset.truncated_columns_dict_15[f] for f in PAIR))
    view = InterpretAPI(experiment, model)
    if outcome is RAISE:
        with pytest.raises(RAISE):
            view.model_interpret(show=show, **arguments)
        return
    result, printed = view.model_interpret(show=show, **arguments), capsys.readouterr().out.splitlines()
    if outcome == DRAW:
        assert plt.get_fignums() and not REFUSALS & set(printed)
    elif outcome == SHOW:
        assert "Count" in "".join(printed) and "Not supported" not in printed
    else:
        assert printed[-1:] and printed[-1] in REFUSALS
    if arguments.get("return_data") and show == "global_fi":
        computed = experiment.interpret_fi(model)
        assert sorted(result) == ["feature_names", "importance"] and result["feature_names"] == computed["feature_names"]
        assert list(result["importance"]) == list(computed["importance"])
    elif arguments.get("return_data"):
        computed = experiment.interpret_local_fi(model, 17, centered=arguments.get("centered", True))
        assert result["value"]["x"] == computed["x"] and list(result["value"]["y"]) == list(computed["y"])
    else:
        assert result is None


def test_the_table_reaches_every_method_of_every_show_value_of_the_module():
    reached = {(show, m) for show, _, method, _ in VIEWS for m in (
        method.values() if isinstance(method, dict) else [method]) if m}
    assert reached == {(show, m) for show, reaches in interpret_api.SHOWS for m, _ in reaches}


def tick_texts(axes):
    axes.figure.canvas.draw()
    return [t.get_text().replace("\u2212", "-") for t in axes.get_xticklabels() if t.get_text()]


@pytest.mark.parametrize("view", ["main effect", "interaction", "local"])
def test_views_of_real_models_speak_in_original_units_and_labels(experiment, view):
    data, names = experiment.dataset, experiment.dataset.truncated_columns_dict_15
    if view == "main effect":
        InterpretAPI(experiment, "relu").main_effect("age", original_scale=True)
        ages = [float(t) for t in tick_texts(plt.gcf().axes[1])]
        assert len(ages) >= 3 and 60 <= max(ages) <= 120  # ages, not model units
    elif view == "interaction":
        InterpretAPI(experiment, "relu").interaction_effect(names["income_per_household"], names["colour"],
                                                            original_scale=True)
        labels = tick_texts(plt.gcf().axes[3])
        assert labels and set(labels) <= {"blue", "green", "red"}  # labels, not codes
    else:
        v = InterpretAPI(experiment, "tree").fi_local(17, original_scale=True, return_data=True)["value"]
        value = dict(zip(v["x"], v["value"]))
        # the sample's value stands with the feature's name
        names = {t.get_text().replace("\u00a0", " ") for t in plt.gca().get_yticklabels()}
        assert value["colour"] in {"blue", "green", "red"} and "colour = " + value["colour"] in names
        assert value["age"] == round(float(data.data.iloc[17]["age"]), 4)


@pytest.mark.parametrize("model", MODELS)
def test_an_explained_experiment_is_saved_and_drawn_again(experiment, model, capsys):
    experiment.interpret_single(model)
    saved = pickle.loads(pickle.dumps(experiment))
    drawn = []
    for exp in (experiment, saved):
        view = InterpretAPI(exp, model)
        local = view.model_interpret(show="local_fi", sample_id=5, original_scale=True, return_data=True)["value"]
        plt.close("all")
        view.model_interpret(show="global_ei")
        drawn.append((local["x"], list(local["y"]), bool(plt.get_fignums()), capsys.readouterr().out))
        plt.close("all")
    assert drawn[0] == drawn[1] and drawn[0][2] == (model in ADDITIVE)


def test_an_experiment_saved_before_its_pipelines_read_split_values_draws_its_tree(experiment):
    experiment.interpret_single("tree")
    pipeline = experiment.registered_pipeline["tree"]
    kept = pipeline.__dict__.pop("_dataset"), pipeline.__dict__.pop("_split_values")
    try:
        saved = pickle.loads(pickle.dumps(experiment))
    finally:
        pipeline._dataset, pipeline._split_values = kept
    InterpretAPI(saved, "tree").get_tree(0, 2, original_scale=True)
    assert any(" <= " in t.get_text() for t in plt.gca().texts if t.get_visible())
