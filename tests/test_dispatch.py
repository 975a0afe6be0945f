"""model_interpret: which view each `show` value reaches, with which arguments, and what comes back."""
import types

import pytest

from conftest import ExperimentDouble, estimator_named
from vexo.workflow.interpret_api import InterpretAPI

VIEWS = ["fi", "ei", "coef", "main_effect", "interaction_effect", "ei_local", "fi_local", "get_tree",
         "get_local_tree", "llm_df", "llm_violin"]
RESULTS = {name: f"result of {name}" for name in VIEWS}


def recording_view(name):
    def view(self, *args, **kwargs):
        self.calls.append((name, args, kwargs))
        return RESULTS[name]
    return view


# The dispatcher calls every view through the object, so a subclass can record them.
RecordingAPI = type("RecordingAPI", (InterpretAPI,), {name: recording_view(name) for name in VIEWS})

RELU = "ReluDNNClassifier"
OTHER = "GAMINetRegressor"


def dispatcher(estimator):
    """A recording API object; with `estimator` None its pipeline has no estimator at all."""
    api = RecordingAPI(ExperimentDouble({"model": OTHER}, computed=["model"]), "model")
    api.pipeline = types.SimpleNamespace() if estimator is None else types.SimpleNamespace(
        estimator=estimator_named(estimator))
    api.calls = []
    return api


FIGSIZE = (3, 4)
DEFAULT_FIGSIZE = (8, 6)
# Every argument but the features away from its default.
ARGS = dict(sample_id=7, return_data=True, root=2, depth=5, centered=False, original_scale=True, figsize=FIGSIZE)
NOT_SUPPORTED = "Not supported\n"

# id: (arguments, estimator class name (None: only global_ei and llm_pc read it), calls, result, printed)
ROWS = {
    "global_fi": (dict(show="global_fi"), None,
                  [("fi", (), {"return_data": False, "figsize": DEFAULT_FIGSIZE})], None, ""),
    "global_fi, return_data": (dict(show="global_fi", **ARGS), None,
                               [("fi", (), {"return_data": True, "figsize": FIGSIZE})], RESULTS["fi"], ""),
    "global_fi, truthy return_data": (dict(show="global_fi", return_data=[0]), None,
                                      [("fi", (), {"return_data": [0], "figsize": DEFAULT_FIGSIZE})],
                                      RESULTS["fi"], ""),
    "global_ei": (dict(show="global_ei", **ARGS), OTHER, [("ei", (), {"figsize": FIGSIZE})], None, ""),
    "global_ei, relu network": (dict(show="global_ei", **ARGS), RELU, [], None, NOT_SUPPORTED),
    "main effect": (dict(show="global_effect_plot", uni_feature="age", **ARGS), None,
                    [("main_effect", ("age",), {"original_scale": True, "figsize": FIGSIZE})], None, ""),
    "main effect, no feature": (dict(show="global_effect_plot"), None,
                                [("main_effect", (None,), {"original_scale": False, "figsize": DEFAULT_FIGSIZE})],
                                None, ""),
    "interaction effect": (dict(show="global_effect_plot", bi_features=("age", "income", "unread"), **ARGS), None,
                           [("interaction_effect", ("age", "income"), {"original_scale": True, "figsize": FIGSIZE})],
                           None, ""),
    "both features": (dict(show="global_effect_plot", uni_feature="age", bi_features=("age", "income"), **ARGS),
                      None, [], None, "Cannot input both uni_feature and bi_features\n"),
    "local_fi": (dict(show="local_fi", **ARGS), None,
                 [("fi_local", (7,), {"centered": False, "return_data": True, "original_scale": True,
                                      "figsize": FIGSIZE})], RESULTS["fi_local"], ""),
    "local_fi, defaults": (dict(show="local_fi"), None,
                           [("fi_local", (0,), {"centered": True, "return_data": False, "original_scale": False,
                                                "figsize": DEFAULT_FIGSIZE})], None, ""),
    "local_ei": (dict(show="local_ei", **ARGS), None,
                 [("ei_local", (7,), {"original_scale": True, "figsize": FIGSIZE})], None, ""),
    "llm_summary": (dict(show="llm_summary", **ARGS), None, [("llm_df", (), {})], None, ""),
    "llm_violin": (dict(show="llm_violin", **ARGS), None, [("llm_violin", (), {})], None, ""),
    "llm_pc": (dict(show="llm_pc", **ARGS), RELU, [("ei", (), {"figsize": FIGSIZE})], None, ""),
    "llm_pc, not a relu network": (dict(show="llm_pc", **ARGS), OTHER, [], None, NOT_SUPPORTED),
    "tree_global": (dict(show="tree_global", **ARGS), None, [("get_tree", (2, 5), {"original_scale": True})],
                    None, ""),
    "tree_global, defaults": (dict(show="tree_global"), None, [("get_tree", (0, 3), {"original_scale": False})],
                              None, ""),
    "tree_local": (dict(show="tree_local", **ARGS), None,
                   [("get_local_tree", (7,), {"original_scale": True})], None, ""),
    "glm_coef": (dict(show="glm_coef", uni_feature="Categorical", **ARGS), None,
                 [("coef", ("Categorical",), {})], None, ""),
    "glm_coef, no feature": (dict(show="glm_coef"), None, [("coef", (None,), {})], None, ""),
    "no arguments": (dict(), RELU, [], None, ""),
    **{f"unknown show {show!r}": (dict(show=show, uni_feature="age", bi_features=("age", "income"), **ARGS),
                                  RELU, [], None, "")
       for show in ["GLOBAL_FI", "global_fi ", "global", 0, b"global_fi"]},
}


@pytest.mark.parametrize("arguments, estimator, calls, result, printed", ROWS.values(), ids=ROWS)
def test_dispatch_row(capsys, arguments, estimator, calls, result, printed):
    api = dispatcher(estimator)
    assert api.model_interpret(**arguments) is result
    assert api.calls == calls
    assert capsys.readouterr().out == printed


@pytest.mark.parametrize("row", [row for row, (_, _, calls, _, _) in ROWS.items() if calls])
def test_view_exceptions_propagate_unchanged(row):
    arguments, estimator, calls, _, _ = ROWS[row]
    api = dispatcher(estimator)
    error = LookupError("from the view")

    def failing(*args, **kwargs):
        raise error

    setattr(api, calls[0][0], failing)
    with pytest.raises(LookupError) as raised:
        api.model_interpret(**arguments)
    assert raised.value is error


def test_relu_network_is_told_by_the_estimator_class_name_at_each_call(capsys):
    api = dispatcher(OTHER)

    def outcome(show):
        api.calls = []
        api.model_interpret(show=show)
        return api.calls, capsys.readouterr().out

    drawn, refused = ([("ei", (), {"figsize": DEFAULT_FIGSIZE})], ""), ([], NOT_SUPPORTED)
    relu_class = type("ReluDNNRegressor", (), {})
    for estimator, relu in [(relu_class(), True), (estimator_named("GAMINetRegressor"), False),
                            (estimator_named("ReluDNNClassifier"), True), (estimator_named("ReluDNN"), False),
                            (estimator_named("reludnnclassifier"), False),
                            (type("TunedReluDNN", (relu_class,), {})(), False)]:
        api.pipeline.estimator = estimator
        assert (outcome("global_ei"), outcome("llm_pc")) == ((refused, drawn) if relu else (drawn, refused))


def equal_to(text=None):
    """A show value that is equal to one string only, or to every string."""
    return type("EqualTo", (), {"__eq__": lambda self, other: text is None or other == text, "__hash__": None})()


@pytest.mark.parametrize("show, view", [(equal_to("glm_coef"), "coef"), (equal_to("tree_local"), "get_local_tree"),
                                        (equal_to(), "fi")])  # the first row decides
def test_show_is_compared_by_equality_in_row_order(show, view):
    api = dispatcher(RELU)
    api.model_interpret(show)
    assert [name for name, _, _ in api.calls] == [view]


@pytest.mark.parametrize("bi_features, error", [(("age",), IndexError), (5, TypeError), ({0: "a"}, KeyError)])
def test_pair_without_two_items_fails_on_reading_them(bi_features, error):
    api = dispatcher(None)
    with pytest.raises(error):
        api.model_interpret(show="global_effect_plot", bi_features=bi_features)
    assert api.calls == []
