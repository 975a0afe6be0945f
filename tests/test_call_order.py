"""The module does what the same lines of Python do, in the same order: the callee before its
arguments, arguments left to right, the first missing key raising. Each view runs on recording
doubles beside its Python lines, and the two logs must be equal."""
import numpy as np
import pytest

from recording import Log, Recorder
from vexo.workflow import interpret_api
from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph

# The views as Python, run on the same doubles. Globals come from the namespace that runs them.
PYTHON = '''
def init(self, experiment=None, model=''):
    self.experiment = experiment
    self.model = model
    self.pipeline = experiment.registered_pipeline[self.model]
    if self.model not in self.experiment.interpret_result_dict.keys():
        self.experiment.interpret_single(self.model)

def fi(self, return_data=False, figsize=(8, 6)):
    interp_fi = self.experiment.interpret_fi(self.model)
    interpret_result = {'key': 'fi', 'model': self.model, 'input': None, 'value': interp_fi}
    InterpretGraph.plot_fi(interpret_result, figsize=figsize)
    if return_data:
        out = interpret_result['value']
        out.pop('title')
        return out

def plot_fi(interpret_result, max_show=10, figsize=(8, 6)):
    hbar = PlotHBar()
    n = len(interpret_result['value']['feature_names'])
    max_show = max_show if max_show < n else n
    hbar.plot(X=interpret_result['value']['feature_names'][-max_show:],
              height=interpret_result['value']['importance'][-max_show:],
              title=interpret_result['value']['title'], figsize=figsize)

def model_interpret(self, show=None, uni_feature=None, bi_features=None, sample_id=0, return_data=False,
                    root=0, depth=3, centered=True, original_scale=False, figsize=(8, 6)):
    if show == "global_fi":
        res = self.fi(return_data=return_data, figsize=figsize)
        if return_data:
            return res
    elif show == "global_ei":
        if self.pipeline.estimator.__class__.__name__ in ("ReluDNNRegressor", "ReluDNNClassifier"):
            print("Not supported")
        else:
            self.ei(figsize=figsize)
    elif show == "global_effect_plot":
        if bi_features is None:
            self.main_effect(uni_feature, original_scale=original_scale, figsize=figsize)
        elif uni_feature is None:
            self.interaction_effect(bi_features[0], bi_features[1], original_scale=original_scale, figsize=figsize)
        else:
            print("Cannot input both uni_feature and bi_features")
    elif show == "local_fi":
        res = self.fi_local(sample_id, centered=centered, return_data=return_data,
                            original_scale=original_scale, figsize=figsize)
        if return_data:
            return res
    elif show == "local_ei":
        self.ei_local(sample_id, original_scale=original_scale, figsize=figsize)
    elif show == "llm_summary":
        self.llm_df()
    elif show == "llm_violin":
        self.llm_violin()
    elif show == "llm_pc":
        if self.pipeline.estimator.__class__.__name__ not in ("ReluDNNRegressor", "ReluDNNClassifier"):
            print("Not supported")
        else:
            self.ei(figsize=figsize)
    elif show == "tree_global":
        self.get_tree(root, depth, original_scale=original_scale)
    elif show == "tree_local":
        self.get_local_tree(sample_id, original_scale=original_scale)
    elif show == "glm_coef":
        self.coef(uni_feature)
'''


@pytest.fixture
def both(monkeypatch):
    """run(view name, make arguments) -> (module's log, Python's log); `make(log)` builds the
    arguments afresh on each log, with the module globals InterpretGraph, PlotHBar and print
    replaced by recorders on that log."""

    def run(name, make):
        logs = []
        for native in (True, False):
            log = Log()
            fakes = {name: log.recorder(name) for name in ("InterpretGraph", "PlotHBar", "print")}
            if native:
                for global_name, fake in fakes.items():
                    monkeypatch.setattr(interpret_api, global_name, fake, raising=False)
                view = {"init": InterpretAPI.__init__, "plot_fi": InterpretGraph.plot_fi}.get(name)
                view = view or getattr(InterpretAPI, name)
            else:
                namespace = dict(fakes)
                exec(PYTHON, namespace)
                view = namespace[name]
            args, kwargs = make(log)
            try:
                result = view(*args, **kwargs)
            except Exception as e:  # the error is part of what is compared
                result = (type(e), e.args)
            logs.append((list(log), result if not isinstance(result, Recorder) else repr(result)))
        return logs

    return run


def self_double(log, **fixed):
    return Recorder(log, "self", fixed)


@pytest.mark.parametrize("return_data", [False, True])
def test_fi_in_pythons_order(both, return_data):
    native, python = both("fi", lambda log: ((self_double(log), log.recorder("return_data")), {}) if return_data
                          else ((self_double(log),), {"return_data": False}))
    assert native == python
    assert native[0][:4] == [("getattr", "self.experiment"), ("getattr", "self.experiment.interpret_fi"),
                             ("getattr", "self.model"), ("call", "self.experiment.interpret_fi", ("self.model",), ())]


def test_plot_fi_in_pythons_order(both):
    native, python = both("plot_fi", lambda log: ((Recorder(log, "record"),), {"figsize": (4, 3)}))
    assert native == python
    plot = [entry for entry in native[0] if entry[0] == "call"][-1]
    assert plot == ("call", "PlotHBar().plot", (), ("X", "height", "title", "figsize"))


@pytest.mark.parametrize("missing, keys", [("importance", {"feature_names"}), ("feature_names", set())])
def test_first_missing_key_wins(both, missing, keys):
    def make(log):
        value = Recorder(log, "value", keys=keys)
        return (Recorder(log, "record", {"value": value}),), {}

    native, python = both("plot_fi", make)
    assert native == python
    assert native[1] == (KeyError, (missing,))


@pytest.mark.parametrize("computed", [False, True])
def test_constructor_in_pythons_order(both, computed):
    def make(log):
        fixed = {"interpret_result_dict": {"m": "results"}} if computed else {}
        return (self_double(log), log.recorder("experiment", **fixed), "m"), {}

    native, python = both("init", make)
    assert native == python
    assert ("getattr", "experiment.registered_pipeline") == native[0][2]
    computes = native[0][-1] == ("call", "experiment.interpret_single", ("'m'",), ())
    assert computes is not computed


SHOWS = [
    ("global_fi", {"return_data": True}), ("global_fi", {}), ("global_ei", {}), ("llm_pc", {}),
    ("global_effect_plot", {}), ("global_effect_plot", {"bi_features": "pair"}),
    ("global_effect_plot", {"bi_features": "pair", "uni_feature": "a"}),
    ("local_fi", {"return_data": True}), ("local_ei", {}), ("llm_summary", {}), ("llm_violin", {}),
    ("tree_global", {}), ("tree_local", {}), ("glm_coef", {}), ("nothing", {}),
]


@pytest.mark.parametrize("show, arguments", SHOWS, ids=["-".join([s, *a]) for s, a in SHOWS])
def test_dispatcher_in_pythons_order(both, show, arguments):
    def make(log):
        kwargs = {name: log.recorder(name) for name in arguments}
        return (self_double(log), show), kwargs

    native, python = both("model_interpret", make)
    assert native == python
    assert native[0] or show == "nothing"


class Loud(str):
    """A show value whose comparisons are logged."""
    log = []

    def __eq__(self, other):
        Loud.log.append(other)
        return str.__eq__(self, other)

    __hash__ = str.__hash__


def test_show_is_compared_row_by_row_with_rich_comparison_and_truth_test(api, monkeypatch):
    Loud.log.clear()
    monkeypatch.setattr(type(api), "llm_df", lambda self: None, raising=False)
    api.model_interpret(show=Loud("llm_summary"))
    assert Loud.log == ["global_fi", "global_ei", "global_effect_plot", "local_fi", "local_ei", "llm_summary"]
    with pytest.raises(ValueError, match="truth value of an array"):
        api.model_interpret(show=np.array(["global_fi", "x"]))
