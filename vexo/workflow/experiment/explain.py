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

from .models import sampling


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
    seed = np.random.RandomState(random_state).randint(np.iinfo(np.int32).max + 1)
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
        order, where = np.arange(n), np.arange(n)
        generator = np.random.RandomState(seed)
        for r in range(n_repeats):
            # Each shuffle permutes the column as the previous one left it.
            generator.shuffle(order)
            where = where[order]
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
