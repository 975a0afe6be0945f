"""GAMI's pairs: ranked on the main effects' residuals, kept where they lower the held-out loss."""

import numpy as np
import pytest

import tables
from vexo.workflow.experiment.models import gam
from vexo.workflow.experiment.models.gam import GAMINetClassifier, GAMINetRegressor, GAMRegressor


@pytest.mark.parametrize("data", ["diabetes", "breast_cancer"])
def test_gami_keeps_and_draws_pairs_of_the_bundled_data_that_lowered_the_held_out_loss(data):
    bundled = tables.bundled(data)
    estimator = bundled.registered_pipeline["gami"].estimator
    kept, screened, losses = estimator.kept_pairs_, estimator.screened_pairs_, estimator.holdout_losses_
    assert kept and set(kept) <= set(screened) and len(screened) <= 10 and len(losses) == len(screened) + 1
    assert list(estimator.screen_gains_) == sorted(estimator.screen_gains_, reverse=True)
    # each kept pair lowered the mean held-out loss below that of the model before it
    kept_losses = [losses[0]] + [loss for pair, loss in zip(screened, losses[1:]) if pair in kept]
    assert list(np.diff(kept_losses) < 0) == [True] * len(kept)
    assert [tuple(t) for t in estimator.term_features_[estimator.n_features_in_:]] == kept
    names = bundled.dataset.feature_names
    assert sorted(bundled.inter_effect_trunc_dict["gami"]) == sorted("%s x %s" % (names[a], names[b]) for a, b in kept)
    # the pairs carry an effect of their own: GAMI's surface is not GAM's
    train = bundled.registered_pipeline["gami"].transform(bundled.dataset.data)[bundled.dataset.train_index]
    assert np.all(estimator.eval_terms(train)[:, estimator.n_features_in_:].std(axis=0) > 1e-6)


def additive_table(seed, n=300, pair=0.0, classify=False):
    """Five features; y is additive in the first three, plus ``pair`` x3 * x4."""
    rng = np.random.default_rng(seed)
    X = rng.uniform(-1, 1, size=(n, 5))
    eta = np.sin(3 * X[:, 0]) + X[:, 1] ** 2 + X[:, 2] + pair * X[:, 3] * X[:, 4]
    if classify:
        return X, (eta + rng.logistic(0, 0.5, n) > 0.3).astype(int)
    return X, eta + rng.normal(0, 0.5, n)


@pytest.mark.parametrize("cls", [GAMINetRegressor, GAMINetClassifier])
def test_held_out_check_drops_what_the_screening_ranked_from_noise(cls):
    model = cls(random_state=3).fit(*additive_table(3, classify=cls is GAMINetClassifier))
    # ten pairs are ranked on any table; on an additive one nearly all are dropped
    assert len(model.screened_pairs_) == 10 and len(model.kept_pairs_) <= 2


def test_pairs_follow_the_seed_and_none_are_screened_without_interactions_or_rows_to_hold_out():
    X, y = additive_table(5, pair=2.0)
    first, other = (GAMINetRegressor(random_state=s).fit(X, y) for s in (1, 2))
    assert first.holdout_losses_[0] != other.holdout_losses_[0]  # another seed holds out other rows
    none = GAMINetRegressor(interactions=0, random_state=0).fit(X, y)
    assert none.screened_pairs_ == none.kept_pairs_ == none.holdout_losses_ == [] and len(none.term_features_) == 5
    # without pairs GAMI is the GAM of the same settings
    assert np.allclose(none.predict(X), GAMRegressor(random_state=0).fit(X, y).predict(X))
    given = GAMINetRegressor(interactions=[(4, 3)], random_state=0).fit(X, y)
    assert given.kept_pairs_ == [(3, 4)] and given.holdout_losses_ == []


def test_fast_gain_counts_the_interaction_contrast_only():
    a, b = np.meshgrid(np.arange(8), np.arange(8), indexing="ij")
    a, b = a.ravel(), b.ravel()
    ones = np.ones(len(a))
    bins_a, bins_b = (a, 8), (b, 8)
    # row and column effects, however uneven, leave no interaction to gain
    additive = np.sin(a) + b ** 2 / 10.0
    assert gam._fast_gain(bins_a, bins_b, additive, ones, 1) == pytest.approx(0, abs=1e-9)
    # a checkerboard of quadrants is explained whole by the cut through its middle
    board = np.sign(a - 3.5) * np.sign(b - 3.5)
    assert gam._fast_gain(bins_a, bins_b, board, ones, 1) == pytest.approx(np.sum(board ** 2))
    # weights count as rows: doubling them all doubles the gain
    assert gam._fast_gain(bins_a, bins_b, 2 * board, 2 * ones, 1) == pytest.approx(2 * np.sum(board ** 2))


@pytest.mark.parametrize("weight", [1.0, 0.25])  # a classifier's weights p (1 - p) are at most 1/4
@pytest.mark.parametrize("smallest, usable", [(6, True), (7, True), (8, False)])
def test_a_cut_is_screened_where_each_quadrant_holds_at_least_the_fewest_rows(smallest, usable, weight):
    # quadrant rows 7, 10, 10, 10: the quadrants are counted in rows, whatever the weights
    codes = np.repeat([[0, 0], [0, 1], [1, 0], [1, 1]], [7, 10, 10, 10], axis=0)
    board = np.where(codes[:, 0] == codes[:, 1], 1.0, -1.0)
    gain = gam._fast_gain((codes[:, 0], 2), (codes[:, 1], 2), weight * board, np.full(len(board), weight), smallest)
    assert (gain > 0) == usable
