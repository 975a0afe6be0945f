"""Doubles of the experiment and of the explainers of each model family, for the effect views."""
import types

import numpy as np
import pytest

from conftest import estimator_named

FULL = ["age_of_the_person", "body_mass_index_kg_m2", "colour"]
NAMES_15 = {"age_of_the_person": "age_of_the_pers", "body_mass_index_kg_m2": "body_mass_index", "colour": "colour"}
NAMES_10 = {"age_of_the_person": "age_of_the", "body_mass_index_kg_m2": "body_mass_", "colour": "colour"}


class EffectExperiment:
    """Model "m" of the given estimator class and explainer; original units are model units * 10 + 5."""

    def __init__(self, class_name, explainer, pairs=(), pair_names=None):
        self.calls, self.explainer = [], explainer
        self.to_original = lambda feature, values: (np.asarray(values) * 10 + 5, "numeric")
        pipeline = types.SimpleNamespace(estimator=estimator_named(class_name),
                                         transform_to_orignial_scale=self.to_original)
        self.registered_pipeline, self.interpret_result_dict = {"m": pipeline}, {"m": explainer}
        self.dataset = types.SimpleNamespace(feature_names=FULL, truncated_columns_dict_10=NAMES_10,
                                             truncated_columns_dict_15=NAMES_15)
        self.act_inter_lis = {"m": list(pairs)}
        self.inter_effect_trunc_dict = {"m": pair_names if pair_names is not None else {p: p for p in pairs}}

    def get_interpret(self, model, /):
        self.calls.append(("get_interpret", model))
        return self.explainer


def llm_explainer(nllms=6, counts=None, seed=0):
    """Local linear models over three features, with the arrays the LLM views read."""
    rng = np.random.default_rng(seed)
    counts = np.array(counts if counts is not None else [5, 4, 3, 2, 2, 1][:nllms])
    x = rng.uniform(0, 1, (int(counts.sum()), 3))
    starts = np.concatenate([[0], np.cumsum(counts)[:-1]])
    weights, biases = rng.normal(size=(nllms, 3)), rng.normal(size=nllms)
    return types.SimpleNamespace(
        feature_names=list(NAMES_10.values()), n_features=3, nllms_top=nllms, x=x,
        sample_idx_by_llms=[np.arange(s, s + c) for s, c in zip(starts, counts)],
        all_weights=weights, all_biases=biases, all_bias_weight=np.column_stack([biases, weights]),
        center_llms=np.array([x[s:s + c].mean(axis=0) for s, c in zip(starts, counts)]), count_llms=counts,
        feature_importance=np.array([12.3456, 50.0, 37.6544]))


@pytest.fixture
def records(monkeypatch):
    """The records that the views hand to their plotting function, which draws nothing here."""
    from vexo.workflow.interpret_api import InterpretGraph

    seen = []
    for name in ("plot_main_effect", "plot_interaction_effect"):
        monkeypatch.setattr(InterpretGraph, name, staticmethod(lambda record, **kwargs: seen.append((record, kwargs))))
    return seen


@pytest.fixture
def shows(monkeypatch):
    import matplotlib.pyplot as plt

    shown = []
    monkeypatch.setattr(plt, "show", lambda *args, **kwargs: shown.append(plt.get_fignums()))
    return shown


@pytest.fixture
def ticks(monkeypatch):
    from vexo.workflow import interpret_api

    calls = []
    monkeypatch.setattr(interpret_api, "scale_plot_ticks", lambda **kwargs: calls.append(kwargs))
    return calls
