"""What the experiment hands the views to print: values in the data's units, display names and titles."""

import re

import matplotlib.pyplot as plt
import numpy as np
import pandas as pd
import pytest

from vexo.workflow.experiment.features import undo_scaling
from vexo.workflow.experiment.dataset import DISPLAY_WIDTH, truncate_names
from vexo.workflow.experiment import Experiment

api = pytest.importorskip("vexo.workflow.interpret_api")


def reprs(values):
    return [repr(float(v)) for v in values]


def test_values_come_back_as_the_decimals_and_the_doubles_of_the_table():
    """Columns whose unscaling is noisy in binary (breast-cancer radii, concavities), whole numbers, a date, whole
    numbers beyond 2**53 (and beyond int64) and a column holding both ±1.797e308."""
    rng, wide, largest = np.random.default_rng(4), np.random.default_rng(6), np.finfo(float).max
    radius = np.round(rng.uniform(6.981, 28.11, 90), 4)
    radius[:3] = [6.981, 28.11, 27.6074]
    big = wide.integers(0, 10, 90).astype(np.uint64) * np.uint64(10 ** 18) + np.uint64(5)
    big[:3] = [5, 6, 10 ** 19]
    frame = pd.DataFrame({"radius": radius, "concavity": np.round(rng.uniform(0.0, 0.4268, 90), 5),
                          "age": rng.integers(19, 80, 90),
                          "day": pd.Timestamp("2020-01-01") + pd.to_timedelta(rng.integers(0, 300, 90), unit="D"),
                          "big": big, "signed": wide.integers(-2 ** 63, 2 ** 63 - 1, 90, dtype=np.int64),
                          "extreme": np.r_[largest, -largest, wide.normal(size=88)]})
    exp = Experiment(frame.assign(y=radius / 10 + frame["age"] / 50 + rng.normal(0, 0.1, 90)), "y")
    assert "column 'extreme' spans more than the largest double: it is scaled in halves" in exp.notes
    pipeline, ds = exp.register("glm", "glm"), exp.dataset
    exp.register("tree", "tree", max_depth=4)
    X = pipeline.transform(ds.data)
    assert np.isfinite(X).all() and np.isfinite(exp.interpret_fi("glm")["importance"]).all()
    back = {name: pipeline.transform_to_orignial_scale(name, X[:, j]) for j, name in enumerate(ds.feature_names)}
    for name in ("radius", "concavity"):
        assert back[name][1] == "numeric" and reprs(back[name][0]) == reprs(ds.data[name])
    # whole numbers come back whole; beyond 2**53, as the nearest doubles
    assert back["age"][0].dtype.kind == "i" and list(back["age"][0]) == list(ds.data["age"])
    assert list(back["day"][0]) == list(ds.data["day"])
    for name in ("big", "signed", "extreme"):
        table = ds.data[name].astype(float)
        assert back[name][0].dtype == float and np.all(np.abs(back[name][0] - table) <= 1e-6 * np.ptp(table / 2) * 2)
    assert list(back["extreme"][0][:2]) == [largest, -largest]
    exp.register("gam", "gam", lam=1.0)
    api.InterpretAPI(exp, "gam").main_effect("extreme", original_scale=True)
    assert plt.get_fignums()
    local = api.InterpretAPI(exp, "tree").fi_local(2, original_scale=True, return_data=True)["value"]
    assert dict(zip(local["x"], local["value"]))["big"] == 1e19


@pytest.mark.parametrize("minimum, span", [(0.0, 1e-6), (-5e-7, 1e-6), (1.0, 1e-6), (2.5e-3, 1e-3), (-0.2, 0.1), (1e-9, 3e-9),
                                           (-1.0, 3.0), (2.0, 7.0), (300.0, 1e3), (-1e6, 2e6), (0.0, 1e6), (-4e8, 1e9),
                                           (1e9, 1e9), (1e17, 1e16)])
def test_unscaling_is_exact_to_1e_12_and_gives_back_the_tables_decimals(minimum, span):
    rng = np.random.default_rng(int(span * 1e6) % 97)
    scale = max(abs(minimum), abs(minimum + span))
    for values in (minimum + span * rng.uniform(size=300), np.r_[minimum, minimum + span, 5.14280811 * span / 7 + minimum]):
        back = undo_scaling((values - minimum) / span, minimum, span)
        assert np.all(np.abs(back - values) <= 1e-12 * np.maximum(np.abs(values), abs(minimum)))
    # a table's values of 12 digits come back as they are, without the noise of scaling
    step = 10.0 ** (np.floor(np.log10(scale)) - 11)
    decimals = np.round((minimum + span * rng.uniform(size=300)) / step) * step
    decimals = np.array([float("%.12g" % v) for v in decimals])
    assert reprs(undo_scaling((decimals - minimum) / span, minimum, span)) == reprs(decimals + 0.0)
    # distinct values stay distinct and in order
    assert (np.diff(undo_scaling(np.linspace(0, 1, 257), minimum, span)) > 0).all()


def reads_as(shown, name):
    """Whether ``shown`` is the name or its leading words and "…", then maybe last or middle words ("~n" aside)."""
    name, separator = name.strip(), r"[\s_\-./,;:()\[\]{}'\"]"
    if name in (shown, re.sub(r"~\d+$", "", shown)):
        return True
    head, cut, part = re.sub(r"~\d+$", "", shown).partition("…")
    whole_head = name.startswith(head) and (re.match(separator, name[len(head):]) or not re.search(separator, head))
    part = part.lstrip(" ")
    if not part:
        return bool(cut and head and whole_head)
    words = re.escape(part[:-1]) + r"(?=%s)" % separator if part.endswith("…") else re.escape(part) + "$"
    return bool(cut and head and whole_head) and bool(re.search(r"(?<=%s)%s" % (separator, words), name[len(head):]))


NEAR = ["religious", "religious ", " religious", "mean con~1", "mean concavity", "mean concave points", "mean concave pointy",
        "sensor_reading_12", "sensor_reading_13", "a_x_b_and_more", "xylophone x", "x_ray_reading_value", "worst compactness",
        "worst concave points", "sensor reading value 12", "sensor reading value 13", "income 2019 per household member",
        "income 2020 per household member", "Pneumonoultramicroscopicsilicovolcanoconiosis", "Intercept (column)"]


@pytest.mark.parametrize("width", [10, 15, DISPLAY_WIDTH])
def test_display_names_are_the_names_or_their_leading_words_and_distinct(width):
    shown = truncate_names(NEAR, width)
    assert list(shown) == NEAR and len({" ".join(s.split()) for s in shown.values()}) == len(NEAR), shown
    assert all(len(s) <= width and s == s.strip() and " x " not in s and not s.endswith(" x") and not s.startswith("x ")
               and s != "Intercept" for s in shown.values())
    assert all(reads_as(shown[n], n) for n in NEAR), shown
    assert all(shown[n] == n for n in NEAR if len(n) <= width and n == n.strip() and n != "xylophone x")


@pytest.mark.parametrize("names, width, expected", [
    (["mean concave points", "worst concave points", "mean radius"], 15, ["mean concave…", "worst concave…", "mean radius"]),
    (["mean fractal dimension", "worst fractal dimension", "fractal dimension error", "mean concave points"], DISPLAY_WIDTH,
     ["mean fractal…", "worst fractal…", "fractal dimension…", "mean concave points"]),
    (["bill_length_mm", "bill_depth_mm"], 12, ["bill_length…", "bill_depth…"]),
    (["sensor reading value 12", "sensor reading value 13"], DISPLAY_WIDTH, ["sensor reading… 12", "sensor reading… 13"]),
    (["sensor_reading_value_00012", "sensor_reading_value_00013"], DISPLAY_WIDTH, ["sensor_reading…00012", "sensor_reading…00013"]),
    (["income 2019 per household member", "income 2020 per household member"], 15, ["income 2019…", "income 2020…"]),
    (["Pneumonoultramicroscopicsilicovolcanoconiosis"], 10, ["Pneumonou…"]),
    # a shortened name must not read as another with "…" added
    (["color_intensity", "color_intensity (per litre, measured twice)"], DISPLAY_WIDTH, ["color_intensity", "color… twice)"]),
])
def test_display_names_keep_whole_words_and_tell_alike_names_apart(names, width, expected):
    assert list(truncate_names(names, width).values()) == expected


def test_titles_carry_the_label_of_their_value_axis(experiment):
    exp, classification = experiment, experiment.task == "classification"
    assert exp.interpret_fi("glm")["title"].axis_label == ("drop in ROC AUC" if classification else "drop in R²")
    logit = "contribution to the logit of P(yes)" if classification else "contribution to the prediction of y"
    tree = "contribution to P(yes)" if classification else logit
    for model, label in (("glm", logit), ("tree", tree), ("gami", logit)):
        title = exp.interpret_local_fi(model, 41)["title"]
        assert title.axis_label == label and title.startswith("Sample 41: ")
        numbers = re.findall(r"(?<![\w(])-?\d+\.\d*(?:e[-+]\d+)?", title)
        assert all(len(n.lstrip("-").split("e")[0].replace(".", "").lstrip("0")) <= 4 for n in numbers), title
    assert exp.interpret_local_effect("ebm", 3)["title"].axis_label == logit
