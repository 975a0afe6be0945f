"""Small ReLU multilayer perceptrons whose every prediction is a local linear model.

Both classes are scikit-learn MLPs with the activation fixed to ReLU. The regressor learns a
standardised target and undoes the standardisation in ``predict``; the classifier (binary)
adds ``decision_function``, the logit that its sigmoid output unit turns into a probability.
``relu_layers`` hands out the layers in the units of the network's output (the prediction for
the regressor, the logit for the classifier), so that the local linear models are exact.
"""

import warnings

import numpy as np
from sklearn.neural_network import MLPClassifier, MLPRegressor
from sklearn.utils.multiclass import check_classification_targets, type_of_target
from sklearn.utils.validation import check_is_fitted

from ._sklearn import BinaryOnly, validate_data


def _require_target(estimator, y):
    # scikit-learn's own wording, which its estimator checks look for.
    if y is None:
        raise ValueError("%s requires y to be passed, but the target y is None."
                         % type(estimator).__name__)


# What scikit-learn's training loop warns when it swallows a KeyboardInterrupt and keeps the
# network as far as it got.
_INTERRUPTED = "Training interrupted by user."


def _fit_or_interrupt(fit, X, y):
    """``fit(X, y)``, with a Ctrl-C during training raised again as KeyboardInterrupt: a network
    trained for part of its time must not pass for a finished one, whatever the caller does
    with warnings. Other warnings of the fit are issued again."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = fit(X, y)
    if any(str(w.message) == _INTERRUPTED for w in caught):
        raise KeyboardInterrupt("the network's training was interrupted")
    for w in caught:
        warnings.warn_explicit(w.message, w.category, w.filename, w.lineno, source=w.source)
    return result


class _ReluMLP:
    """The parameters of both networks: an MLP with its activation fixed to ReLU and adam."""

    def __init__(self, hidden_layer_sizes=(20, 20), alpha=1e-4, batch_size="auto",
                 learning_rate_init=1e-3, max_iter=2000, tol=1e-4, n_iter_no_change=10,
                 early_stopping=False, random_state=None):
        super().__init__(hidden_layer_sizes=hidden_layer_sizes, activation="relu",
                         solver="adam", alpha=alpha, batch_size=batch_size,
                         learning_rate_init=learning_rate_init, max_iter=max_iter, tol=tol,
                         n_iter_no_change=n_iter_no_change, early_stopping=early_stopping,
                         random_state=random_state)


class ReluDNNRegressor(_ReluMLP, MLPRegressor):

    def predict(self, X):
        check_is_fitted(self, "y_scale_")
        return super().predict(X) * self.y_scale_ + self.y_mean_

    def fit(self, X, y):
        _require_target(self, y)
        y = np.asarray(y, dtype=float)
        self.y_mean_ = float(y.mean())
        # A constant target would otherwise divide by zero.
        self.y_scale_ = float(y.std()) or 1.0
        return _fit_or_interrupt(super().fit, X, (y - self.y_mean_) / self.y_scale_)

    def relu_layers(self):
        """[(weights, biases), ...] of every layer, the last one mapping to the prediction."""
        check_is_fitted(self, "y_scale_")
        layers = [(w, b) for w, b in zip(self.coefs_, self.intercepts_)]
        w, b = layers[-1]
        layers[-1] = (w * self.y_scale_, b * self.y_scale_ + self.y_mean_)
        return layers


class ReluDNNClassifier(BinaryOnly, _ReluMLP, MLPClassifier):

    def fit(self, X, y):
        _require_target(self, y)
        check_classification_targets(y)
        # Refused before fitting: a multiclass network would have one output unit per class,
        # and its layers would no longer be those of one logit.
        kind = type_of_target(y, input_name="y")
        if kind != "binary":
            raise ValueError("Only binary classification is supported. The type of the target "
                             "is %s." % kind)
        classes = np.unique(np.asarray(y).ravel())
        if len(classes) == 1:
            raise ValueError("ReluDNNClassifier needs samples of two classes; the target has "
                             "one class, %s" % (classes[0],))
        return _fit_or_interrupt(super().fit, X, y)

    def relu_layers(self):
        """[(weights, biases), ...] of every layer, the last one mapping to the logit."""
        check_is_fitted(self, "coefs_")
        return [(w, b) for w, b in zip(self.coefs_, self.intercepts_)]

    def decision_function(self, X):
        """The logit of ``classes_[1]`` for each row of X."""
        layers = self.relu_layers()
        X = validate_data(self, X, reset=False, dtype=float)
        return relu_forward(layers, X)[0]


def relu_forward(layers, X):
    """The network's output for the rows of X and each row's activation pattern (one boolean
    column per hidden unit, all hidden layers side by side)."""
    a, patterns = X, []
    for w, b in layers[:-1]:
        z = a @ w + b
        active = z > 0
        patterns.append(active)
        a = np.where(active, z, 0.0)
    w, b = layers[-1]
    out = (a @ w + b)[:, 0]
    pattern = np.hstack(patterns) if patterns else np.zeros((X.shape[0], 0), dtype=bool)
    return out, pattern
