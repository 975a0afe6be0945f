"""llm_df displays the LLM summary, llm_violin draws violins; every failure is "Not supported"."""
import sys
import types

import matplotlib.pyplot as plt
import numpy as np
import pandas as pd
import pytest

from vexo.workflow import interpret_api
from vexo.workflow.interpret_api import InterpretGraph


class LLMs:
    def __init__(self, n_features=4, counts=(3, 0, 1, 5, 3), dtype=float):
        rng = np.random.default_rng(0)
        self.feature_names = [f"feature {j}" for j in range(n_features)]
        self.all_bias_weight = (rng.normal(size=(len(counts), 1 + n_features)) * 10).astype(dtype)
        self.count_llms = np.array(counts)
        self.feature_importance = rng.permutation(n_features) * 1.5


@pytest.fixture
def violins(monkeypatch):
    calls = []
    monkeypatch.setattr(interpret_api, "sns", types.SimpleNamespace(violinplot=lambda **kw: calls.append(kw)))
    return calls


def test_llm_df_displays_the_summary_and_llm_violin_hands_on_the_models_arrays(api, monkeypatch):
    api.experiment.interpret_result_dict["model"] = llms = LLMs()
    llms.summary, seen = lambda: "the summary table", []
    llms.coefficient_label = "change of y over the feature's training range"
    monkeypatch.setattr(interpret_api, "display", lambda *args: seen.append(args))
    monkeypatch.setattr(InterpretGraph, "plot_llm_violin", staticmethod(lambda *a, **k: seen.append((a, k))))
    assert (api.llm_df(), api.llm_violin(figsize=(1, 2))) == (None, None)
    [shown, ((record,), kwargs)] = seen
    assert shown == ("the summary table",) and kwargs == {"figsize": (1, 2)}
    assert (record["key"], record["model"], record["input"]) == ("llm_violin", "model", None)
    assert list(record["value"]) == ["feature_names", "all_bias_weight", "count_llms", "feature_importance",
                                     "coefficient_label"]
    assert all(record["value"][name] is getattr(llms, name) for name in record["value"])


@pytest.mark.parametrize("result", [None, object(), "absent", "failing plot"])
def test_every_failure_is_not_supported(api, monkeypatch, capsys, result):
    monkeypatch.setattr(interpret_api, "display", lambda table: None)
    monkeypatch.setattr(interpret_api, "sns", None)  # fails inside the plot, after its figure is made
    api.experiment.interpret_result_dict["model"] = LLMs() if result == "failing plot" else result
    if result == "absent":
        del api.experiment.interpret_result_dict["model"]
    else:
        assert api.llm_df() is None
    assert api.llm_violin() is None
    assert capsys.readouterr().out.endswith("Not supported\n") and bool(plt.get_fignums()) == (result == "failing plot")


def test_an_interrupt_is_not_a_refusal(api, monkeypatch):
    api.experiment.interpret_result_dict["model"] = LLMs()
    monkeypatch.setattr(interpret_api, "sns", types.SimpleNamespace(violinplot=lambda **kw: sys.exit()))
    with pytest.raises(SystemExit):
        api.llm_violin()


@pytest.mark.parametrize("n_features, max_show, dtype, height", [
    (4, 10, float, 3.5), (13, 3, int, 8.0), (13, 0, np.float32, 8.0), (5, -2, float, 4.0),
])
def test_violins_of_the_most_important_coefficients_one_row_per_sample(violins, n_features, max_show, dtype, height):
    llms = LLMs(n_features, counts=(2, 0, 7, 1, 7, 3), dtype=dtype)
    InterpretGraph.plot_llm_violin({"value": dict(vars(llms))}, max_show, figsize=(20, 20))
    [kwargs] = violins
    shown = np.argsort(llms.feature_importance)[-max_show:][::-1]
    # each model's coefficients once per sample it stands for, each number as its text reads
    expected = pd.DataFrame([(float(str(w)), llms.feature_names[j]) for i, count in enumerate(llms.count_llms)
                             for _ in range(count) for j, w in zip(shown, llms.all_bias_weight[i, 1 + shown])],
                            columns=["Coefficient", "features"])
    pd.testing.assert_frame_equal(kwargs.pop("data"), expected, check_exact=True)
    assert kwargs.pop("order").tolist() == [llms.feature_names[j] for j in shown]
    assert kwargs == {"x": "Coefficient", "y": "features", "density_norm": "width", "inner": "box", "orient": "h"}
    assert tuple(plt.gcf().get_size_inches()) == (6, height)
    # the axis says what a coefficient is where the models say it
    assert (plt.gca().get_title(), plt.gca().get_xlabel()) == ("Violin Plot of LLM Coefficients", "coefficient")
