import matplotlib.pyplot as plt
import numpy as np
import pytest
from matplotlib.colors import to_hex, to_rgba

from effect_doubles import llm_explainer, shows  # noqa: F401 (a fixture)
from test_plots import NOISE, overlaps, visible_texts
from vexo.workflow import look
from vexo.workflow.interpret_api import InterpretGraph
from vexo.workflow.plots import PlotHBar


def profile(llms, figsize, scaler=None):
    value = dict(feature="age", feature_id=1, feature_names=["age", "bmi", "colour"],
                 feature_names_full=["age in years", "bmi", "colour"], **{k: getattr(llms, k) for k in (
                     "n_features", "nllms_top", "sample_idx_by_llms", "x", "all_weights", "feature_importance")})
    InterpretGraph.plot_main_effect({"scaler": scaler, "model_type": "reludnn", "value": value}, figsize=figsize)
    return plt.gcf()


def years(feature, values):
    return np.asarray(values) * 60 + 20, "numeric"


def test_the_sheet_is_reachable_by_name_and_by_the_module():
    with plt.style.context("vexo.workflow.look"):
        by_name = dict(plt.rcParams)
    with look.context():
        by_module = dict(plt.rcParams)
    assert by_name == by_module and by_name != dict(plt.rcParamsDefault)
    with plt.style.context("default"):
        look.use()
        assert plt.rcParams["axes.titlesize"] == by_name["axes.titlesize"]


def test_a_profile_and_a_bar_chart_share_one_look_under_the_sheet(shows):
    with look.context():
        fig = profile(llm_explainer(), (6, 4), scaler=years)
        PlotHBar().plot(X=["a", "b"], height=[1.0, 2.0], title="Feature Importance", figsize=(6, 4))
    drawn = [plt.figure(n) for n in plt.get_fignums()]
    assert drawn[0] is fig and len(drawn) == 2

    def look_of(f):
        ax = f.axes[-1]
        tick = ax.get_xticklabels()[0]
        return (tuple(tick.get_fontfamily()), tick.get_fontsize(), to_hex(tick.get_color()),
                to_hex(ax.xaxis.label.get_color()), ax.xaxis.label.get_fontsize(),
                to_hex(ax.spines["bottom"].get_edgecolor()), ax.spines["top"].get_visible())

    assert look_of(drawn[0]) == look_of(drawn[1])
    assert drawn[0].axes[-1].get_xlabel() == "age in years"


def test_many_local_models_are_drawn_as_one_family_of_see_through_lines(shows):
    with look.context():
        upper = profile(llm_explainer(nllms=12, counts=[4] * 12), (6, 4)).axes[0]
    lines = [ln for ln in upper.get_lines() if ln.get_linestyle() == "-" and len(ln.get_xdata()) > 2]
    assert len(lines) == 12
    assert len({to_hex(ln.get_color()) for ln in lines}) == 1
    assert all(0 < to_rgba(ln.get_color(), ln.get_alpha())[3] < 1 for ln in lines)


@pytest.mark.parametrize("figsize, seed", [((8, 6), 0), ((5, 4), 1), ((4, 3), 2), ((8, 3), 1)])
def test_the_profile_under_the_sheet_keeps_its_texts_apart(shows, figsize, seed):
    llms = llm_explainer(nllms=10, counts=[6] * 10, seed=seed)
    llms.all_weights *= 10.0 ** (2 * seed - 1)  # effects of any size: ticks from -0.5 to -600
    llms.x[llms.sample_idx_by_llms[0], 0] = 0.5 + np.linspace(-1, 1, 6) * 1e-3  # a tall density peak
    with look.context():
        fig = profile(llms, figsize, scaler=years if seed % 2 else None)
    # (its title keeps the module's fixed 15 points, so in a narrow figure it may run past the edges)
    texts = visible_texts(fig)
    assert not overlaps(texts) and not [s for s, _ in texts if NOISE.search(s)]
