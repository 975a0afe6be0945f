"""model_interpret: which view each `show` value reaches, with which arguments, and what comes back."""
import types

import pytest

from conftest import ExperimentDouble, estimator_named
from vexo.workflow import interpret_api
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
    api = RecordingAPI(ExperimentDouble({"model": estimator}, computed=["model"]), "model")
    api.calls = []
    return api


FIGSIZE = (3, 4)
# Every argument but the features away from its default.
ARGS = dict(sample_id=7, return_data=True, root=2, depth=5, centered=False, original_scale=True, figsize=FIGSIZE)
DEFAULT_FIGSIZE = (8, 6)

NOT_SUPPORTED = "Not supported\n"
BOTH_FEATURES = "Cannot input both uni_feature and bi_features\n"

# id: (arguments, estimator class name, calls expected, result expected, printed)
ROWS = {
    "global_fi": (dict(show="global_fi"), OTHER,
                  [("fi", (), {"return_data": False, "figsize": DEFAULT_FIGSIZE})], None, ""),
    "global_fi, return_data": (dict(show="global_fi", **ARGS), OTHER,
                               [("fi", (), {"return_data": True, "figsize": FIGSIZE})], RESULTS["fi"], ""),
    "global_fi, truthy return_data": (dict(show="global_fi", return_data=[0]), OTHER,
                                      [("fi", (), {"return_data": [0], "figsize": DEFAULT_FIGSIZE})],
                                      RESULTS["fi"], ""),
    "global_ei": (dict(show="global_ei", **ARGS), OTHER, [("ei", (), {"figsize": FIGSIZE})], None, ""),
    "global_ei, relu network": (dict(show="global_ei", **ARGS), RELU, [], None, NOT_SUPPORTED),
    "main effect": (dict(show="global_effect_plot", uni_feature="age", **ARGS), OTHER,
                    [("main_effect", ("age",), {"original_scale": True, "figsize": FIGSIZE})], None, ""),
    "main effect, no feature": (dict(show="global_effect_plot"), OTHER,
                                [("main_effect", (None,), {"original_scale": False, "figsize": DEFAULT_FIGSIZE})],
                                None, ""),
    "interaction effect": (dict(show="global_effect_plot", bi_features=("age", "income", "unread"), **ARGS), OTHER,
                           [("interaction_effect", ("age", "income"), {"original_scale": True, "figsize": FIGSIZE})],
                           None, ""),
    "both features": (dict(show="global_effect_plot", uni_feature="age", bi_features=("age", "income"), **ARGS),
                      OTHER, [], None, BOTH_FEATURES),
    "local_fi": (dict(show="local_fi", **ARGS), OTHER,
                 [("fi_local", (7,), {"centered": False, "return_data": True, "original_scale": True,
                                      "figsize": FIGSIZE})], RESULTS["fi_local"], ""),
    "local_fi, defaults": (dict(show="local_fi"), OTHER,
                           [("fi_local", (0,), {"centered": True, "return_data": False, "original_scale": False,
                                                "figsize": DEFAULT_FIGSIZE})], None, ""),
    "local_ei": (dict(show="local_ei", **ARGS), OTHER,
                 [("ei_local", (7,), {"original_scale": True, "figsize": FIGSIZE})], None, ""),
    "llm_summary": (dict(show="llm_summary", **ARGS), OTHER, [("llm_df", (), {})], None, ""),
    "llm_violin": (dict(show="llm_violin", **ARGS), OTHER, [("llm_violin", (), {})], None, ""),
    "llm_pc": (dict(show="llm_pc", **ARGS), RELU, [("ei", (), {"figsize": FIGSIZE})], None, ""),
    "llm_pc, not a relu network": (dict(show="llm_pc", **ARGS), OTHER, [], None, NOT_SUPPORTED),
    "tree_global": (dict(show="tree_global", **ARGS), OTHER,
                    [("get_tree", (2, 5), {"original_scale": True})], None, ""),
    "tree_global, defaults": (dict(show="tree_global"), OTHER,
                              [("get_tree", (0, 3), {"original_scale": False})], None, ""),
    "tree_local": (dict(show="tree_local", **ARGS), OTHER,
                   [("get_local_tree", (7,), {"original_scale": True})], None, ""),
    "glm_coef": (dict(show="glm_coef", uni_feature="Categorical", **ARGS), OTHER,
                 [("coef", ("Categorical",), {})], None, ""),
    "glm_coef, no feature": (dict(show="glm_coef"), OTHER, [("coef", (None,), {})], None, ""),
}


@pytest.mark.parametrize("arguments, estimator, calls, result, printed", ROWS.values(), ids=ROWS)
def test_dispatch_row(capsys, arguments, estimator, calls, result, printed):
    api = dispatcher(estimator)
    assert api.model_interpret(**arguments) == result
    assert api.calls == calls
    assert capsys.readouterr().out == printed


@pytest.mark.parametrize("show", [None, "", "GLOBAL_FI", "global_fi ", "global", 0, ("global_fi",), b"global_fi"])
def test_unknown_show_does_nothing(capsys, show):
    api = dispatcher(RELU)
    assert api.model_interpret(show, "age", ("age", "income"), **ARGS) is None
    assert api.calls == []
    assert capsys.readouterr().out == ""


def test_no_arguments_do_nothing(capsys):
    api = dispatcher(OTHER)
    assert api.model_interpret() is None
    assert api.calls == [] and capsys.readouterr().out == ""


@pytest.mark.parametrize("show, view", [("global_fi", "fi"), ("local_fi", "fi_local")])
def test_returned_data_is_the_views_own_object(show, view):
    api = dispatcher(OTHER)
    table = {"feature_names": []}
    setattr(api, view, lambda *args, **kwargs: table)
    assert api.model_interpret(show=show, return_data=True) is table
    assert api.model_interpret(show=show, return_data=0) is None


@pytest.mark.parametrize("estimator, relu", [
    ("ReluDNNRegressor", True),
    ("ReluDNNClassifier", True),
    ("GAMINetRegressor", False),
    ("ReluDNN", False),
    ("reludnnclassifier", False),
    ("ReluDNNRegressor ", False),
])
def test_relu_network_is_told_by_the_estimator_class_name(capsys, estimator, relu):
    def outcome(show):
        api = dispatcher(estimator)
        api.model_interpret(show=show, figsize=FIGSIZE)
        return api.calls, capsys.readouterr().out

    drawn = ([("ei", (), {"figsize": FIGSIZE})], "")
    refused = ([], NOT_SUPPORTED)
    assert outcome("global_ei") == (refused if relu else drawn)
    assert outcome("llm_pc") == (drawn if relu else refused)


def test_subclass_of_a_relu_network_class_is_not_one(capsys):
    api = dispatcher(OTHER)
    relu = type("ReluDNNRegressor", (), {})
    api.pipeline.estimator = type("TunedReluDNN", (relu,), {})()
    api.model_interpret(show="global_ei")
    assert api.calls == [("ei", (), {"figsize": DEFAULT_FIGSIZE})]
    assert capsys.readouterr().out == ""


def test_estimator_is_read_at_each_call(capsys):
    api = dispatcher(OTHER)
    api.model_interpret(show="global_ei")
    api.pipeline.estimator = estimator_named(RELU)
    api.model_interpret(show="global_ei")
    assert api.calls == [("ei", (), {"figsize": DEFAULT_FIGSIZE})]
    assert capsys.readouterr().out == NOT_SUPPORTED


@pytest.mark.parametrize("row", [row for row in ROWS if not row.startswith(("global_ei", "llm_pc"))])
def test_estimator_is_read_only_by_global_ei_and_llm_pc(row):
    arguments, _, calls, result, _ = ROWS[row]
    api = dispatcher(OTHER)
    api.pipeline = types.SimpleNamespace()  # no estimator at all
    assert api.model_interpret(**arguments) == result
    assert api.calls == calls


@pytest.mark.parametrize("show", ["global_ei", "llm_pc"])
def test_estimator_without_a_class_name_fails(show):
    api = dispatcher(OTHER)
    api.pipeline = types.SimpleNamespace()
    with pytest.raises(AttributeError, match="estimator"):
        api.model_interpret(show=show)


class EqualTo:
    """A show value that is equal to one string only, or to every string."""

    def __init__(self, text=None):
        self.text = text

    def __eq__(self, other):
        return self.text is None or other == self.text

    __hash__ = None


@pytest.mark.parametrize("show, view", [
    (EqualTo("glm_coef"), "coef"),
    (EqualTo("tree_local"), "get_local_tree"),
    (EqualTo(), "fi"),  # the first row decides
    (type("Show", (str,), {})("llm_summary"), "llm_df"),
])
def test_show_is_compared_by_equality_in_row_order(show, view):
    api = dispatcher(RELU)
    api.model_interpret(show)
    assert [name for name, _, _ in api.calls] == [view]


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


def test_refusals_are_printed_with_the_modules_print(monkeypatch, capsys):
    printed = []
    monkeypatch.setattr(interpret_api, "print", lambda *args, **kwargs: printed.append((args, kwargs)),
                        raising=False)
    dispatcher(RELU).model_interpret(show="global_ei")
    dispatcher(OTHER).model_interpret(show="llm_pc")
    dispatcher(OTHER).model_interpret(show="global_effect_plot", uni_feature="a", bi_features=("b", "c"))
    assert printed == [(("Not supported",), {}), (("Not supported",), {}),
                       (("Cannot input both uni_feature and bi_features",), {})]
    assert capsys.readouterr().out == ""


@pytest.mark.parametrize("bi_features, error", [(("age",), IndexError), (5, TypeError), ({0: "a"}, KeyError)])
def test_pair_without_two_items_fails_on_reading_them(bi_features, error):
    api = dispatcher(OTHER)
    with pytest.raises(error):
        api.model_interpret(show="global_effect_plot", bi_features=bi_features)
    assert api.calls == []


def test_pair_is_read_by_subscription():
    api = dispatcher(OTHER)
    api.model_interpret(show="global_effect_plot", bi_features={0: "a", 1: "b", 2: "c"})
    assert api.calls == [("interaction_effect", ("a", "b"), {"original_scale": False, "figsize": DEFAULT_FIGSIZE})]
