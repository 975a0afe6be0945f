"""The local linear models (LLMs) of a ReLU network.

A ReLU network is linear on every region of its input space where the set of active hidden
units stays the same. Grouping the training samples by their activation pattern therefore
splits them into regions, and on each region the network *is* one linear model, exactly:
output = bias + weights . x for every sample of the region.
"""

import numpy as np
import pandas as pd

from ..plots.measures import EffectValues
from .models.relu_dnn import relu_forward


def region_linear_model(layers, active):
    """Weights and bias of the network on the region of one activation pattern."""
    n_inputs = layers[0][0].shape[0]
    weights, bias = np.eye(n_inputs), np.zeros(n_inputs)
    start = 0
    for w, b in layers[:-1]:
        mask = active[start:start + w.shape[1]]
        start += w.shape[1]
        weights = (weights @ w) * mask
        bias = (bias @ w + b) * mask
    w, b = layers[-1]
    return (weights @ w)[:, 0], float((bias @ w + b)[0])


class LocalLinearModels:
    """The LLMs of a fitted ReLU network over a set of samples, largest region first.

    Parameters
    ----------
    layers : list of (weights, biases), as ``relu_layers()`` of the network gives them
    x : 2-D array, the samples in model scale (the training split)
    feature_names : display names, one per column of ``x``
    sample_index : positions of the rows of ``x`` in the user's frame

    Attributes (L local linear models, p features)
    ----------
    x : the samples, (n, p)
    sample_index : (n,) frame positions of the rows of ``x``
    llm_of_sample : (n,) the LLM of each row of ``x``
    sample_idx_by_llms : list of L arrays of row positions in ``x``
    all_weights : (L, p); all_biases : (L,); all_bias_weight : (L, 1 + p), bias first
    count_llms : (L,) samples per LLM, descending; nllms : L
    nllms_top : how many LLMs the views draw at most (all of them; they come largest first)
    center_llms : (L, p) mean of each LLM's samples
    ymean_llms, ystd_llms : (L,) mean and spread of the network's output on each LLM's
        samples (the logit for a classifier); a one-sample LLM has spread 0
    feature_importance : (p,) percent; mean absolute contribution w_j (x_j - mean_j) of each
        feature over the samples, scaled to sum to 100
    feature_names, n_features
    layers : copies of the network's layers, in the units of its output
    coefficient_label : what a weight is, as the views' axes say it (the experiment names
        the network's output); by default "coefficient"
    """

    coefficient_label = "coefficient"
    # rows of each LLM over every training row of a table on a cluster (``count_over``)
    count_llms_table = None

    def __init__(self, layers, x, feature_names, sample_index=None):
        self.layers = [(np.array(w), np.array(b)) for w, b in layers]
        self.x = np.asarray(x, dtype=float)
        n, p = self.x.shape
        self.feature_names = list(feature_names)
        self.n_features = p
        self.sample_index = np.arange(n) if sample_index is None else np.asarray(sample_index)

        output, patterns = relu_forward(layers, self.x)
        _, first, inverse, counts = np.unique(patterns, axis=0, return_index=True,
                                              return_inverse=True, return_counts=True)
        inverse = inverse.ravel()
        # Largest region first; among equal counts, the region met first in the samples.
        order = np.lexsort((first, -counts))
        rank = np.empty_like(order)
        rank[order] = np.arange(len(order))
        self.llm_of_sample = rank[inverse]

        self.nllms = len(order)
        self.nllms_top = self.nllms
        self.count_llms = counts[order].astype(int)
        # Rows grouped by their LLM in one sort (rows in ascending order within an LLM).
        by_llm = np.argsort(self.llm_of_sample, kind="stable")
        self.sample_idx_by_llms = np.split(by_llm, np.cumsum(self.count_llms)[:-1])
        self.all_weights = np.empty((self.nllms, p))
        self.all_biases = np.empty(self.nllms)
        for k, rows in enumerate(self.sample_idx_by_llms):
            self.all_weights[k], self.all_biases[k] = region_linear_model(
                layers, patterns[rows[0]])
        llm, count = self.llm_of_sample, self.count_llms.astype(float)
        self.center_llms = np.column_stack(
            [np.bincount(llm, weights=self.x[:, j], minlength=self.nllms) / count
             for j in range(p)]) if p else np.empty((self.nllms, 0))
        self.ymean_llms = np.bincount(llm, weights=output, minlength=self.nllms) / count
        deviation = output - self.ymean_llms[llm]
        self.ystd_llms = np.sqrt(np.bincount(llm, weights=deviation ** 2,
                                             minlength=self.nllms) / count)
        self.all_bias_weight = np.column_stack([self.all_biases, self.all_weights])

        contributions = self.contributions(np.arange(n), centered=True)
        mean_abs = np.abs(contributions).mean(axis=0)
        total = mean_abs.sum()
        self.feature_importance = 100 * mean_abs / total if total > 0 else np.zeros(p)

    def patterns(self):
        """The activation pattern of each LLM, (L, hidden units)."""
        first = [rows[0] for rows in self.sample_idx_by_llms]
        return relu_forward(self.layers, self.x[first])[1]

    def count_over(self, counts):
        """Keep ``counts`` (rows of each LLM over more rows than the samples: every training row
        of a table on a cluster) as ``count_llms_table``, which ``summary`` shows. The views
        weigh each LLM by ``count_llms``, one copy per sample, which stays the samples' count:
        a copy per row of a table of millions would not fit in memory."""
        self.count_llms_table = np.asarray(counts, dtype=int)

    def describe_effects(self, axis_label, rows=None, levels=None):
        """Have the models' weights say what the network's output is (``EffectValues``): the
        profile of a feature draws each model's part of that output."""
        self.all_weights = EffectValues(self.all_weights, axis_label)

    def weights_of(self, rows):
        """The weights of the LLM of each given row of ``x``, (len(rows), p)."""
        return self.all_weights[self.llm_of_sample[rows]]

    def contributions(self, rows, centered=True):
        """Each feature's part w_j x_j of the output of the given rows of ``x``, by their own
        LLM; ``centered`` measures x_j from its mean over all samples instead of from 0."""
        x = self.x[rows]
        if centered:
            x = x - self.x.mean(axis=0)
        return self.weights_of(rows) * x

    def local_model(self, x_row):
        """(weights, bias) of the network's linear model at one point in model scale, which
        need not be one of the samples."""
        x_row = np.asarray(x_row, dtype=float).reshape(1, -1)
        _, pattern = relu_forward(self.layers, x_row)
        return region_linear_model(self.layers, pattern[0])

    def summary(self):
        """One row per LLM, largest first: its size, the network's output on its samples,
        its intercept and its weight of each feature."""
        table = pd.DataFrame({
            "Count": self.count_llms,
            "Response Mean": self.ymean_llms,
            "Response Std": self.ystd_llms,
            "Intercept": self.all_biases,
        }, index=pd.Index(["LLM %d" % (k + 1) for k in range(self.nllms)], name="LLM"))
        if self.count_llms_table is not None:
            table.insert(1, "Training rows", self.count_llms_table)
        # a feature named as a column of the table (a "Count") is told apart from it
        weights = pd.DataFrame(self.all_weights, index=table.index, columns=[
            name + " (feature)" if name in table.columns else name for name in self.feature_names])
        return pd.concat([table, weights], axis=1)

    def __repr__(self):
        return "LocalLinearModels(%d LLMs over %d samples, %d features)" % (
            self.nllms, self.x.shape[0], self.n_features)
