"""Cost of the local-linear-model views on networks of 10^3 to 10^6 samples and 30 features.

The experiment is a double that holds the arrays, seaborn's violin plot and IPython's display do
nothing, so what is timed is the module's own work: the figure, the long-form frame of one row per
(sample, shown feature), the labels and the layout. Beside it, numpy and pandas build the same
frame directly, with nothing else around it: once as a numpy user writes it (pandas infers the text
column) and once with the text column's dtype given, as the module builds it. The column "no plt"
times the module once more with matplotlib replaced too: what is left grows with the rows alone.

    python bench/bench_llm_views.py
"""
import time
import types
import warnings

import matplotlib

matplotlib.use("Agg")

import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402

import vexo.workflow.interpret_api as interpret_api  # noqa: E402
from vexo.workflow.interpret_api import InterpretAPI  # noqa: E402

N_FEATURES = 30
MAX_SHOW = 10


class LLMs:
    """The local linear models of a network: one per 20 samples on average, some with no sample."""

    def __init__(self, n_samples, seed=0):
        rng = np.random.default_rng(seed)
        n_llms = max(n_samples // 20, 1)
        self.feature_names = [f"feature_{j:02d}" for j in range(N_FEATURES)]
        self.all_bias_weight = rng.normal(size=(n_llms, 1 + N_FEATURES))
        self.count_llms = rng.multinomial(n_samples, rng.dirichlet(np.ones(n_llms)))
        self.feature_importance = rng.random(N_FEATURES)

    def summary(self):
        return None


class Experiment:
    def __init__(self, llms):
        self.registered_pipeline = {"m": types.SimpleNamespace(estimator=None)}
        self.interpret_result_dict = {"m": llms}


def numpy_frame(llms, text_dtype=None):
    show_idx = np.argsort(llms.feature_importance)[-MAX_SHOW:][::-1]
    coefficients = np.repeat(llms.all_bias_weight[:, 1 + show_idx], llms.count_llms, axis=0)
    names = np.tile(np.array(llms.feature_names)[show_idx].astype(object), coefficients.shape[0])
    if text_dtype is None:
        return pd.DataFrame({"Coefficient": coefficients.ravel(), "features": names})
    return pd.DataFrame({"Coefficient": coefficients.ravel(),
                         "features": pd.Series(names, dtype=text_dtype, copy=False)}, copy=False)


def best_of(repeats, run):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
        plt.close("all")
    return min(times)


def main():
    warnings.filterwarnings("ignore", "FigureCanvasAgg is non-interactive")
    interpret_api.sns = types.SimpleNamespace(violinplot=lambda **kwargs: None)
    interpret_api.display = lambda table: None
    no_plt = types.SimpleNamespace(**{name: lambda *args, **kwargs: None for name in (
        "figure", "axvline", "xlabel", "ylabel", "title", "tight_layout", "show")})
    print(f"{'samples':>9} {'rows':>10} {'llm_violin ms':>14} {'no plt ms':>10} {'numpy ms':>9} "
          f"{'dtype given':>12} {'ratio':>6} {'llm_df ms':>10}")
    for n_samples in (10**3, 10**4, 10**5, 10**6):
        llms = LLMs(n_samples)
        api = InterpretAPI(Experiment(llms), "m")
        repeats = 7 if n_samples < 10**6 else 3
        module = best_of(repeats, api.llm_violin)
        direct = best_of(repeats, lambda: numpy_frame(llms))
        given = best_of(repeats, lambda: numpy_frame(llms, "str"))
        table = best_of(repeats, api.llm_df)
        interpret_api.plt, real_plt = no_plt, interpret_api.plt
        frame_only = best_of(repeats, api.llm_violin)
        interpret_api.plt = real_plt
        print(f"{n_samples:>9} {n_samples * MAX_SHOW:>10} {module * 1e3:>14.2f} {frame_only * 1e3:>10.2f} "
              f"{direct * 1e3:>9.2f} {given * 1e3:>12.2f} {module / direct:>6.2f} {table * 1e3:>10.3f}")


if __name__ == "__main__":
    main()
