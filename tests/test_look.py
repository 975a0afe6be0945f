import matplotlib.pyplot as plt
import numpy as np
from matplotlib.colors import to_hex, to_rgba

from effect_doubles import llm_explainer, shows  # noqa: F401 (a fixture)
from reading import problems
from vexo.workflow import look
from vexo.workflow.interpret_api import InterpretGraph
from vexo.workflow.plots import PlotHBar


def profile(llms, figsize, scaler=None):
    value = dict(feature="age", feature_id=1, feature_names=["age", "bmi", "colour"],
                 feature_names_full=["age in years", "bmi", "colour"], **{k: getattr(llms, k) for k in (
                     "n_features", "nllms_top", "sample_idx_by_llms", "x", "all_weights", "feature_importance")})
    with look.context():
        InterpretGraph.plot_main_effect({"scaler": scaler, "model_type": "reludnn", "value": value}, figsize=figsize)
    return plt.gcf()


def test_the_sheet_is_reachable_by_name_and_by_the_module():
    with plt.style.context("vexo.workflow.look"):
        by_name = dict(plt.rcParams)
    with look.context():
        by_module = dict(plt.rcParams)
    assert by_name == by_module and by_name != dict(plt.rcParamsDefault)
    with plt.style.context("default"):
        look.use()
        assert plt.rcParams["axes.titlesize"] == by_name["axes.titlesize"]


def test_a_profile_of_many_local_models_shares_the_look_of_a_bar_chart_and_reads_cleanly(shows):
    llms = llm_explainer(nllms=12, counts=[4] * 12)
    llms.all_weights *= 100.0  # effects of any size
    llms.x[llms.sample_idx_by_llms[0], 0] = 0.5 + np.linspace(-1, 1, 4) * 1e-3  # a tall density peak
    fig = profile(llms, (5, 4), scaler=lambda feature, v: (np.asarray(v) * 60 + 20, "numeric"))
    PlotHBar().plot(X=["a", "b"], height=[1.0, 2.0], title="Feature Importance", figsize=(6, 4))
    bar = plt.gcf()

    def look_of(f):
        ax = f.axes[-1]
        tick = ax.get_xticklabels()[0]
        return (tuple(tick.get_fontfamily()), tick.get_fontsize(), to_hex(tick.get_color()),
                to_hex(ax.xaxis.label.get_color()), ax.xaxis.label.get_fontsize(),
                to_hex(ax.spines["bottom"].get_edgecolor()), ax.spines["top"].get_visible())

    assert look_of(fig) == look_of(bar) and fig.axes[-1].get_xlabel() == "age in years"
    # many local models are one family of see-through lines
    lines = [ln for ln in fig.axes[0].get_lines() if ln.get_linestyle() == "-" and len(ln.get_xdata()) > 2]
    assert len(lines) == 12 and len({to_rgba(ln.get_color(), ln.get_alpha()) for ln in lines}) == 1
    assert 0 < to_rgba(lines[0].get_color(), lines[0].get_alpha())[3] < 1 and not problems(fig)
