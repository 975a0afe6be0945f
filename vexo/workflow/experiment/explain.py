"""How each model family explains itself, on the model's input matrix.

Contributions split a model's response for one sample into one part per feature:
- linear model: coefficient times value (the level's coefficient for a categorical feature);
  the response is the linear predictor (the logit for a classifier);
- decision tree: along the sample's path, each split's change of the node mean goes to the
  split's feature; the response is the leaf's mean (the probability of the positive class);
- ReLU network: the weights of the sample's own local linear model times its values;
- any other model: sampled Shapley values of the response against training rows.
"""

import numpy as np
from sklearn.metrics import accuracy_score, r2_score, roc_auc_score

from .models import sampling

# The scores of permutation importance by their names, as scikit-learn's scorers name them.
SCORES = {"r2": r2_score, "roc_auc": roc_auc_score, "accuracy": accuracy_score}


# Linear models -------------------------------------------------------------------------

def linear_parts(estimator):
    """(intercept, coefficients) of the fitted linear step of a "glm" pipeline."""
    linear = estimator.named_steps["linear"]
    return float(np.ravel(linear.intercept_)[0]), np.ravel(linear.coef_)


def linear_terms(estimator, dataset):
    """One (term, group, coefficient) per column of the design: a numeric feature is its own
    term in the group "Numeric"; each level of a categorical feature is a term "feature=label"
    in the feature's group, the reference (first) level with coefficient 0."""
    _, coef = linear_parts(estimator)
    terms, k = [], 0
    for name in dataset.categorical_features:
        labels = dataset.categories[name]
        terms.append(("%s=%s" % (name, labels[0]), name, 0.0))
        for label in labels[1:]:
            terms.append(("%s=%s" % (name, label), name, float(coef[k])))
            k += 1
    for name in dataset.feature_names:
        if name not in dataset.categories:
            terms.append((name, "Numeric", float(coef[k])))
            k += 1
    return terms


def per_unit_coefficients(names, groups, values, features):
    """The coefficients of ``linear_terms`` (and the intercept) for the features in their own
    units: a numeric feature's is its coefficient over the training range divided by that
    range (per year, per kg/m²), the intercept the linear predictor where every numeric
    feature is 0 in its own units; the levels' stay as they are."""
    per_unit = np.array(values, dtype=float)
    intercept = [k for k, group in enumerate(groups) if group == "Intercept"]
    for k, (name, group) in enumerate(zip(names, groups)):
        if group != "Numeric":
            continue
        feature = features[name]
        # a range beyond the largest double is kept halved, and so is its minimum here
        halves = getattr(feature, "halves", False)
        span, minimum = feature.range, feature.minimum / 2 if halves else feature.minimum
        per_unit[k] = values[k] / span / (2 if halves else 1)
        for i in intercept:
            per_unit[i] -= values[k] * (minimum / span)
    return per_unit


def linear_contributions(estimator, dataset, X):
    """Each feature's part of the linear predictor for the rows of X, (n, p); with the
    intercept they add up to it."""
    _, coef = linear_parts(estimator)
    parts = np.zeros(X.shape)
    k = 0
    for name in dataset.categorical_features:
        j = dataset.feature_names.index(name)
        level_coef = np.concatenate([[0.0], coef[k:k + len(dataset.categories[name]) - 1]])
        k += len(level_coef) - 1
        parts[:, j] = level_coef[X[:, j].astype(int)]
    for j, name in enumerate(dataset.feature_names):
        if name not in dataset.categories:
            parts[:, j] = coef[k] * X[:, j]
            k += 1
    return parts


def linear_response(estimator, X):
    if hasattr(estimator, "decision_function"):
        return estimator.decision_function(X)
    return estimator.predict(X)


# Decision trees ------------------------------------------------------------------------

def tree_node_means(tree):
    """The mean response of every node: the mean target for a regressor, the share of the
    positive class (the second) for a classifier."""
    value = tree.tree_.value[:, 0, :]
    if value.shape[1] == 1:
        return value[:, 0].astype(float)
    return value[:, 1] / value.sum(axis=1)


def tree_result(tree, feature_names):
    """The fitted tree with what drawing it needs, as a plain dictionary."""
    return {
        "tree": tree,
        "feature_names": list(feature_names),
        "max_depth": int(tree.get_depth()),
        "children_left": tree.tree_.children_left.copy(),
        "children_right": tree.tree_.children_right.copy(),
        "criterion": tree.criterion,
    }


def tree_path(tree, x_row):
    """Node ids from the root to the sample's leaf."""
    return tree.decision_path(np.asarray(x_row, dtype=float).reshape(1, -1)).indices.tolist()


def tree_local(tree, feature_names, x_row):
    """The tree result of one sample: its path (``node_index``), the nodes to draw
    (``node_related``: the root, then both children of every split on the path, level by
    level, left first) and the drawn nodes whose own children are left out (``node_other``:
    the branches that the sample does not take, where they are not leaves)."""
    left, right = tree.tree_.children_left, tree.tree_.children_right
    path = tree_path(tree, x_row)
    related, other = [path[0]], []
    for node in path[:-1]:
        for child in (left[node], right[node]):
            related.append(int(child))
            if child not in path and left[child] != -1:
                other.append(int(child))
    result = tree_result(tree, feature_names)
    result.update(node_index=path, node_related=related, node_other=other)
    return result


def tree_contributions(tree, X):
    """Each feature's part of the leaf mean for the rows of X, (n, p); they add up to the
    leaf mean minus the root mean (the training mean)."""
    means = tree_node_means(tree)
    left, right = tree.tree_.children_left, tree.tree_.children_right
    # node -> (its parent's feature, its mean minus its parent's): a row's parts are the sum
    # of these over the nodes of its path
    steps = np.zeros((len(means), tree.n_features_in_))
    for parent in np.flatnonzero(left != -1):
        for child in (left[parent], right[parent]):
            steps[child, tree.tree_.feature[parent]] = means[child] - means[parent]
    paths = tree.decision_path(np.asarray(X, dtype=float))
    return np.asarray(paths @ steps).reshape(len(X), -1)


# Any model -----------------------------------------------------------------------------

def model_response(estimator, X):
    """The number that contributions explain: the prediction of a regressor, the probability
    of the positive class (else the decision function) of a classifier."""
    if hasattr(estimator, "predict_proba") and hasattr(estimator, "classes_"):
        return estimator.predict_proba(X)[:, 1]
    if hasattr(estimator, "decision_function"):
        return np.ravel(estimator.decision_function(X))
    return np.asarray(estimator.predict(X), dtype=float)


def shapley_contributions(response, x_row, background, permutations, random_state):
    """Each feature's part of the response at the sample, (p,), by sampled Shapley values:
    along each of ``permutations`` random orders of the features (each with its reverse), the
    features switch one by one from a background row's values to the sample's, and each
    switch's change of the response goes to the feature switched. The changes of one walk add
    up to the response at the sample minus that at the background row, so the parts add up,
    exactly, to the response minus its mean over the background rows (the second result)."""
    x_row = np.asarray(x_row, dtype=float).reshape(1, -1)
    background = np.asarray(background, dtype=float)
    p, b = x_row.shape[1], background.shape[0]
    generator = np.random.RandomState(random_state)
    orders = []
    for _ in range(permutations):
        order = generator.permutation(p)
        orders += [order, order[::-1]]
    parts = np.zeros(p)
    for order in orders:
        # steps[k]: every background row with the first k features of the order switched
        steps = np.repeat(background[None, :, :], p + 1, axis=0)
        for k, j in enumerate(order, 1):
            steps[k:, :, j] = x_row[0, j]
        values = np.asarray(response(steps.reshape(-1, p)), dtype=float).reshape(p + 1, b)
        parts[order] += (values[1:] - values[:-1]).mean(axis=1)
    baseline = float(np.asarray(response(background), dtype=float).mean())
    return parts / len(orders), baseline


# Permutation importance ----------------------------------------------------------------

# Test rows that permutation importance shuffles: a larger test split is sampled down to this
# many (reproducibly, from the experiment's seed). The spread of the score over repeats shrinks
# like one over the root of the rows; at this size it is well below the importances worth
# reading, while the cost grows with rows times features times repeats.
FI_ROWS = 2000
# Shuffles of each feature; the importance is their mean drop of the score.
FI_REPEATS = 5
# Features beyond which a model that reads them all is asked for many shuffles at once, at
# most FI_CELLS values of its input (rows times features) a call, and scored for all of them
# together (``permutation_importance``); up to them, scikit-learn's own permutation importance
# gives the numbers, to the last bit.
FI_BATCH_FEATURES = 50
FI_CELLS = 2000000


def sample_rows(positions, random_state, limit, labels=None):
    """Row positions: all of them up to ``limit``, else a sample of ``limit`` of them drawn
    with the seed, in their given order; with ``labels`` (the class of each position) one that
    keeps both classes (``sampling.draw``)."""
    positions = np.asarray(positions)
    rows, _ = sampling.draw(len(positions), limit, np.random.RandomState(random_state), labels)
    return positions[rows]


def scored_response(estimator, X):
    """What scikit-learn's scorers read of a model: the decision function (the logit of an
    additive classifier), else the probability of the positive class, else the prediction."""
    if hasattr(estimator, "decision_function"):
        return np.ravel(estimator.decision_function(X))
    if hasattr(estimator, "predict_proba"):
        return estimator.predict_proba(X)[:, 1]
    return np.asarray(estimator.predict(X), dtype=float)


def shuffle_orders(n, n_repeats, random_state):
    """The row order of each of ``n_repeats`` shuffles of a column of ``n`` rows, as
    scikit-learn's ``permutation_importance`` shuffles every column with the same
    ``random_state``: each shuffle permutes the column as the previous one left it."""
    seed = np.random.RandomState(random_state).randint(np.iinfo(np.int32).max + 1)
    generator = np.random.RandomState(seed)
    order, where, orders = np.arange(n), np.arange(n), []
    for _ in range(n_repeats):
        generator.shuffle(order)
        where = where[order]
        orders.append(where)
    return orders


def permutation_importance(respond, X, y, scores, n_repeats, random_state, columns=None):
    """The drops of the score when each column of X is shuffled as scikit-learn's
    ``permutation_importance`` shuffles it with the same ``random_state``: (n_repeats, p).
    ``respond(X)``: what the score reads of the model; ``scores(y, responses)``: the score of
    each row of responses (``ROW_SCORES``). The model is asked for many shuffles at once, at
    most ``FI_CELLS`` values of its input a call, and they are scored together: on a table of
    a thousand features that is the difference between seconds and minutes. Only the
    ``columns`` given are shuffled (all by default); the others' drops are 0."""
    X = np.asarray(X, dtype=float)
    n, p = X.shape
    baseline = scores(y, np.asarray(respond(X))[None, :])[0]
    orders = shuffle_orders(n, n_repeats, random_state)
    shuffles = [(j, r) for j in (range(p) if columns is None else columns)
                for r in range(n_repeats)]
    per_call = max(1, FI_CELLS // max(n * p, 1))
    drops = np.zeros((n_repeats, p))
    for start in range(0, len(shuffles), per_call):
        batch = shuffles[start:start + per_call]
        stacked = np.tile(X, (len(batch), 1))
        for k, (j, r) in enumerate(batch):
            stacked[k * n:(k + 1) * n, j] = X[orders[r], j]
        scored = scores(y, np.asarray(respond(stacked)).reshape(len(batch), n))
        for k, (j, r) in enumerate(batch):
            drops[r, j] = baseline - scored[k]
    return drops


def _r2_rows(y, responses):
    y = np.asarray(y, dtype=float)
    total = np.sum((y - np.mean(y)) ** 2)
    if total == 0:
        return np.array([r2_score(y, row) for row in responses])
    return 1.0 - np.sum((responses - y) ** 2, axis=1) / total


def _roc_auc_rows(y, responses):
    # the share of (positive, negative) pairs that the response orders right, a tie counting
    # half: the area under the ROC curve, from the responses' ranks
    from scipy.stats import rankdata

    positive = np.asarray(y) == 1
    n_positive = int(positive.sum())
    n_negative = len(positive) - n_positive
    if n_positive == 0 or n_negative == 0:
        return np.array([roc_auc_score(y, row) for row in responses])
    ranks = rankdata(responses, axis=1)
    return (ranks[:, positive].sum(axis=1) - n_positive * (n_positive + 1) / 2.0) / (
        n_positive * n_negative)


def _accuracy_rows(y, responses):
    return np.mean(responses == np.asarray(y), axis=1)


# The same scores, of each row of a matrix of responses at once: scikit-learn's to rounding
# (a score that they cannot give, such as the ROC AUC of one class, is scikit-learn's own).
ROW_SCORES = {"r2": _r2_rows, "roc_auc": _roc_auc_rows, "accuracy": _accuracy_rows}


def additive_permutation_importance(terms, X, y, score, n_repeats, random_state):
    """The permutation importance of an additive model from its terms: shuffling a feature
    changes only the terms that involve it. A main effect depends on its feature alone, so its
    contributions are shuffled with it; only the pairs of the feature are evaluated again.

    terms: ``additive.AdditiveTerms``; score(y, response) with the response the model's
    prediction (the logit for a classifier). The features are shuffled as scikit-learn's
    ``permutation_importance`` shuffles them with the same ``random_state``, and each shuffled
    prediction is the terms added up as the model adds them (``AdditiveTerms.adder``): the very
    doubles that the model predicts, so that rows the model ties stay tied and the drops are
    scikit-learn's to the last bit. A model whose sum the terms do not give exactly is asked
    for every shuffled prediction instead. Returns (n_repeats, p) drops of the score, one
    column per feature.
    """
    X = np.asarray(X, dtype=float)
    n, p = X.shape
    parts = np.ascontiguousarray(terms.contributions(X))
    own = scored_response(terms.estimator, X)
    add = terms.adder(parts, own)
    baseline = score(y, own)
    orders = shuffle_orders(n, n_repeats, random_state)
    drops = np.empty((n_repeats, p))
    for j in range(p):
        mains = [t for t, term in enumerate(terms.features) if term == (j,)]
        pairs = [t for t, term in enumerate(terms.features) if len(term) == 2 and j in term]
        if not mains and not pairs:
            # a feature that the model leaves out (screened out of a wide table): no shuffle
            # of it changes a prediction
            drops[:, j] = 0.0
            continue
        shuffled, varied = X.copy(), parts.copy()
        for r, where in enumerate(orders):
            shuffled[:, j] = X[where, j]
            if add is None:
                response = scored_response(terms.estimator, shuffled)
            else:
                varied[:, mains] = parts[where][:, mains]
                if pairs:
                    varied[:, pairs] = terms.contributions(shuffled, pairs)
                response = add(terms.intercept, varied)
            drops[r, j] = baseline - score(y, response)
    return drops
