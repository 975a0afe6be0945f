"""The experiment's table, pipelines and targets, and its one-line refusals of bad input."""

import warnings

import numpy as np
import pandas as pd
import pytest
from sklearn.exceptions import ConvergenceWarning
from sklearn.neural_network import MLPRegressor

from conftest import make_frame
from vexo.workflow.experiment import Experiment
from vexo.workflow.experiment.models.gam import GAMINetClassifier, GAMRegressor
from vexo.workflow.experiment.models.relu_dnn import ReluDNNClassifier, ReluDNNRegressor


def experiment_of(frame=None, task="regression", positive_class=None):
    return Experiment(make_frame(n=60) if frame is None else frame, "y", task=task, positive_class=positive_class)


def register(family, **settings):
    experiment = experiment_of()
    try:
        experiment.register("bad", family, **settings)
    finally:  # a refused model is not left registered
        assert "bad" not in experiment.registered_pipeline


def target(y):
    return pd.DataFrame({"x": np.arange(20.0), "y": y})


def classes(counts, positive_class=None):
    frame = pd.DataFrame({"y": np.repeat(list(counts), list(counts.values()))}).assign(x=1.0)
    return lambda: experiment_of(frame, "classification", positive_class)


# Data that the additive estimators refuse (the four classes share their checks)
X = np.column_stack([np.linspace(0, 1, 30), np.tile([0.0, 1.0, 2.5], 10)])
Y = X[:, 0] > 0.5

@pytest.mark.parametrize("refused, message", [
    (lambda: experiment_of(make_frame(n=60).iloc[0:0]), "data is empty"),
    (lambda: experiment_of(make_frame(n=60).rename(columns={"y": "z"})), "target column 'y' is not in the data"),
    (lambda: experiment_of(make_frame(n=60)[["y"]].assign(when=pd.Timestamp("2024-01-01"), id=["r%d" % i for i in range(60)])),
     "^no column is left to explain 'y': 'when' takes one value in the training split; 'id' holds identifiers "
     "\\(48 of its 48 training values are distinct\\)$"),
    (lambda: experiment_of(target(np.nan)), r"^target column 'y' has no values: it is missing in all 20 rows$"),
    (lambda: experiment_of(target(3.5)), r"^the regression target 'y' takes the single value 3.5 in every row"),
    (lambda: experiment_of(target(np.r_[np.inf, np.arange(19.0)])), r"^target column 'y' holds infinite values in 1 row$"),
    (lambda: experiment_of(target(np.r_[-1e300, np.arange(19.0)])),
     r"^the regression target 'y' spans -1e\+300 to 18: the sum of its squares passes the largest double"),
    (lambda: experiment_of(target(np.arange(20.0)).assign(x=pd.Series([10 ** 400] + list(range(19)), dtype=object))),
     r"^column 'x' holds a number beyond the largest double \(1.798e\+308\)$"),
    (classes({"a": 20}), r"at least two classes; column 'y' takes the single value 'a'$"),
    (classes({"a": 20, "b": 3, "c": 1}, "a"), r"^the classes other than 'a' together of the target"),
    (classes({1: 10, 2: 10, 3: 10}, "2"),
     r"^positive_class '2' is not a label .* are 1, 2, 3 \('2' and 2 differ: give the label as the table holds it\)$"),
    (classes({k: 6 for k in range(12)}, 99), r"labels are 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, \.\.\. \(12 labels\)$"),
    (lambda: experiment_of().register("tree", "tree").transform_to_orignial_scale("colour", [0.0, np.nan]),
     "^feature 'colour' has no level at the code NaN$"),
    (lambda: register("svm"), "unknown model family 'svm'"),
    (lambda: register("ebm", bags=3), "ExplainableBoostingRegressor has no setting.*'bags'.*outer_bags"),
    (lambda: register("gam", n_splines=2), "n_splines must be an integer of at least 4, got 2"),
    (lambda: register("gam", lam=-1), 'lam must be a positive number or "auto", got -1'),
    (lambda: register("gam", categorical_features=[9]), "categorical_features must be column positions below 5"),
    (lambda: register("gami", interactions=[(0, 0)]), "pairs of distinct column positions"),
    (lambda: register("gami", validation_fraction=1.0), "validation_fraction must lie between 0 and 1, got 1.0"),
    (lambda: GAMRegressor(categorical_features=[1]).fit(X, Y), "categorical column 1 must hold integer codes.*2.5"),
    (lambda: GAMINetClassifier().fit(np.column_stack([X[:, 0], np.ones(30)]), Y), r"column\(s\) \[1\] take a single value"),
    (lambda: GAMINetClassifier().fit(X, ["a"] * 30), "needs samples of two classes.*one class, a$"),
])
def test_bad_tables_targets_and_settings_are_refused_in_one_line_naming_the_problem(refused, message):
    with pytest.raises(ValueError, match=message) as refusal:
        refused()
    assert "\n" not in str(refusal.value)


def test_a_term_of_three_features_is_refused():
    experiment = Experiment(make_frame(n=60), "y")
    # The boosting machine can fit a term of three features, which no view draws.
    with pytest.raises(ValueError, match="only main effects and pairs.*3 features"), \
            pytest.warns(UserWarning, match="3 or more terms"):
        experiment.register("triple", "ebm", interactions=[(0, 1, 2)], outer_bags=1, max_rounds=10,
                            smoothing_rounds=0, interaction_smoothing_rounds=0, max_interaction_bins=4)
    assert "triple" not in experiment.registered_pipeline and "triple" not in experiment.act_inter_lis


def test_the_split_is_stratified_the_pipeline_scales_to_unit_range_and_predicts_labels(experiment):
    pipe, ds = experiment.registered_pipeline["glm"], experiment.dataset
    assert sorted(np.concatenate([ds.train_index, ds.test_index])) == list(range(ds.data.shape[0]))
    assert len(ds.test_index) == round(0.2 * ds.data.shape[0])
    if ds.task == "classification":
        assert ds.encoded_target(ds.test_index).mean() == pytest.approx(ds.encoded_target().mean(), abs=0.05)
        relu, rows = experiment.registered_pipeline["relu"], ds.data.iloc[ds.test_index]
        prediction, proba = relu.predict(rows), relu.predict_proba(rows)
        assert set(prediction) <= {"yes", "no"} and np.mean(prediction == rows["y"]) > 0.8
        assert np.allclose(proba.sum(axis=1), 1) and list(np.where(proba[:, 1] > 0.5, "yes", "no")) == list(prediction)
    X = pipe.transform(ds.data)
    numeric = [ds.feature_names.index(f) for f in ds.numeric_features]
    assert np.allclose(X[ds.train_index][:, numeric].min(axis=0), 0)
    assert np.allclose(X[ds.train_index][:, numeric].max(axis=0), 1)
    # A split threshold between two codes names the level below it.
    assert pipe.transform_to_orignial_scale("colour", np.array([[0.5, 1.5]]))[0][0][1] == "green"


def test_more_than_two_classes_default_to_the_most_frequent_and_two_keep_the_second_unless_told():
    species = np.random.default_rng(1).permutation(np.repeat(["medium", "large", "small"], [50, 60, 40]))
    exp = Experiment(pd.DataFrame({"x": np.arange(150.0) * 10, "species": species}), "species", task="classification")
    assert exp.notes == ["classification of 'large' against the rest (3 classes; the most frequent; choose with "
                         "positive_class)"]
    # Equally frequent classes: the first in order, numbers in numeric order, and the note says so.
    tied = Experiment(pd.DataFrame({"x": np.arange(60.0) * 10, "y": np.repeat([10, 9, 30], 20)}), "y", task="classification")
    assert tied.dataset.positive_class == 9
    assert tied.notes == ["classification of 9 against the rest (3 classes; 9, 10 and 30 tie as the most frequent with 20 rows "
                          "each: the first in sorted order; choose with positive_class)"]
    frame = pd.DataFrame({"x": np.random.default_rng(0).normal(size=40), "sex": np.tile(["M", "F"], 20)})
    flipped = Experiment(frame, "sex", task="classification", positive_class="F")
    assert list(flipped.dataset.classes) == ["M", "F"] and flipped.notes == []
    assert list(flipped.dataset.encoded_target()) == list((frame["sex"] == "F").astype(int))
    # a label with a percent sign is written into titles as it is
    share = Experiment(frame.assign(sex=np.tile(["0%", "100%"], 20)), "sex", task="classification")
    share.register("glm", "glm")
    title = share.interpret_local_fi("glm", 0)["title"]
    assert "logit of P(100%)\u00a0" in title and title.axis_label == "contribution to the logit of P(100%)"


def test_rows_without_a_target_are_dropped_and_positions_count_what_is_left():
    frame = pd.DataFrame({"x": np.arange(30.0) * 10, "y": np.arange(30.0) ** 2})
    frame.loc[[0, 7, 29], "y"] = np.nan
    exp = Experiment(frame, "y")
    ds = exp.dataset
    assert exp.notes == ["dropped 3 rows whose target is missing"] and ds.dropped_rows == 3
    assert list(ds.source_rows) == [i for i in range(30) if i not in (0, 7, 29)]
    # Position 6 is the user's row 7's successor, row 8.
    assert ds.data["x"].iloc[ds.check_sample_index(6)] == frame["x"].iloc[ds.source_rows[6]] == 80
    with pytest.raises(IndexError, match="the data has 27 rows once those without a target"):
        ds.check_sample_index(27)


@pytest.mark.parametrize("task", ["regression", "classification"])
def test_ctrl_c_while_the_network_trains_is_raised_and_registers_nothing(task, monkeypatch):
    experiment = Experiment(make_frame(task, n=60), "y", task=task)
    with pytest.warns(ConvergenceWarning):  # the fit's own warnings still reach the caller
        kept = experiment.register("relu", "reludnn", hidden_layer_sizes=(4,), max_iter=3)
    steps = []

    def interrupted(self, *args, **kwargs):
        steps.append(1)
        if len(steps) == 3:
            raise KeyboardInterrupt
        return whole(self, *args, **kwargs)

    whole = MLPRegressor._backprop  # a step of every batch of scikit-learn's training loop
    for network in (ReluDNNRegressor, ReluDNNClassifier):
        monkeypatch.setattr(network, "_backprop", interrupted)
    for name in ("relu", "new"):
        steps.clear()
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # scikit-learn only warns of the interruption
            with pytest.raises(KeyboardInterrupt):
                experiment.register(name, "reludnn", replace=True, hidden_layer_sizes=(4,), max_iter=3)
    assert list(experiment.registered_pipeline) == ["relu"] and experiment.registered_pipeline["relu"] is kept
    assert list(experiment.act_inter_lis) == ["relu"]
