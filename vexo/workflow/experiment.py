"""An experiment: one table, its train/test split, the models fitted on it and their
explanations, in the form that ``vexo.workflow.interpret_api`` draws.

    exp = Experiment(frame, target="price")
    exp.register("glm", "glm")
    exp.register("tree", "tree", max_depth=3)
    exp.register("relu", "reludnn", hidden_layer_sizes=(16, 8))
    exp.interpret_fi("tree")                  # permutation importance on the test split
    exp.interpret_local_fi("glm", 17)         # why row 17 of `frame` got its prediction

A ``sample_index`` is always a row position in the frame given to ``Experiment``.
"""

import numpy as np
from sklearn.base import clone
from sklearn.inspection import permutation_importance

from . import explain
from .dataset import Dataset
from .local_linear import LocalLinearModels
from .pipeline import ModelPipeline, check_estimator_task, family_of, make_estimator

# Background rows for the contributions of models that have no decomposition of their own.
_BACKGROUND_ROWS = 200


class Registered(dict):
    """Model name -> pipeline; a name that is not registered raises a KeyError naming those that are."""

    def __missing__(self, model):
        raise KeyError("no model is registered as %r; registered are %r" % (model, list(self)))


class Experiment:
    """Fits models on a table and explains them.

    Parameters
    ----------
    data : DataFrame of numeric and categorical (category, object or string dtype) columns,
        without missing values
    target : name of the target column
    task : "regression" or "classification" (a binary target)
    test_size : share of the rows kept for testing (permutation importance)
    random_state : seed of the split and of the models

    Attributes
    ----------
    dataset : the validated table (``vexo.workflow.dataset.Dataset``)
    registered_pipeline : dict, model name -> ``ModelPipeline``; an unknown name raises a
        ``KeyError`` that lists the registered ones
    interpret_result_dict : dict, model name -> the model's stored explanation once computed:
        a dictionary describing the tree for "tree", ``LocalLinearModels`` for "reludnn",
        None for the other families
    act_inter_lis, inter_effect_trunc_dict : dict, model name -> the model's interaction
        terms (a list of "a x b" names) and their display names; empty for every family here
    """

    def __init__(self, data, target, task="regression", test_size=0.2, random_state=0):
        self.dataset = Dataset(data, target, task=task, test_size=test_size,
                               random_state=random_state)
        self.task = task
        self.random_state = random_state
        self.registered_pipeline = Registered()
        self.interpret_result_dict = {}
        self.act_inter_lis = {}
        self.inter_effect_trunc_dict = {}
        self._inputs = {}
        self._importance = {}

    def __repr__(self):
        return "Experiment(%d rows, target=%r, task=%r, models=%r)" % (
            self.dataset.data.shape[0], self.dataset.target, self.task,
            list(self.registered_pipeline))

    # Models ----------------------------------------------------------------------------

    def register(self, name, family, replace=False, **params):
        """Fit a model on the training split and file it under ``name``.

        ``family`` is "glm", "tree" or "reludnn" (``params`` go to the model's constructor),
        or an unfitted scikit-learn estimator, which is cloned and fitted. A name that is
        taken is refused unless ``replace`` is true; replacing drops the old explanations.
        Returns the fitted ``ModelPipeline``.
        """
        if not isinstance(name, str) or not name:
            raise ValueError("a model name must be a non-empty string, got %r" % (name,))
        if name in self.registered_pipeline and not replace:
            raise ValueError("a model named %r is registered already; pass replace=True to "
                             "refit it" % name)
        if isinstance(family, str):
            estimator = make_estimator(family, self.dataset, self.random_state, **params)
            kind = family
        else:
            if params:
                raise ValueError("model parameters %r are for a family name; set them on the "
                                 "estimator instead" % sorted(params))
            check_estimator_task(family, self.task)
            estimator = clone(family)
            kind = family_of(estimator)

        pipeline = ModelPipeline(name, kind, estimator, self.dataset)
        inputs = pipeline.transform(self.dataset.data)
        train = self.dataset.train_index
        estimator.fit(inputs[train], self.dataset.encoded_target(train))

        for table in (self.interpret_result_dict, self._importance):
            table.pop(name, None)
        self.registered_pipeline[name] = pipeline
        self._inputs[name] = inputs
        self.act_inter_lis[name] = []
        self.inter_effect_trunc_dict[name] = {}
        return pipeline

    def _pipeline(self, model):
        return self.registered_pipeline[model]

    def _sample(self, model, sample_index):
        """The pipeline, the row position and the sample's input row."""
        pipeline = self._pipeline(model)
        row = self.dataset.check_sample_index(sample_index)
        return pipeline, row, self._inputs[model][row]

    # Explanations ----------------------------------------------------------------------

    def interpret_single(self, model):
        """Compute the model's stored explanation (once) and return it."""
        pipeline = self._pipeline(model)
        if model not in self.interpret_result_dict:
            train = self.dataset.train_index
            if pipeline.family == "tree":
                result = explain.tree_result(pipeline.estimator, self.dataset.feature_names)
            elif pipeline.family == "reludnn":
                result = LocalLinearModels(
                    pipeline.estimator.relu_layers(), self._inputs[model][train],
                    [self.dataset.truncated_columns_dict_10[f]
                     for f in self.dataset.feature_names],
                    sample_index=train)
            else:
                result = None
            self.interpret_result_dict[model] = result
        return self.interpret_result_dict[model]

    def get_interpret(self, model):
        """The model's explainer: the same object as ``interpret_result_dict[model]``."""
        return self.interpret_single(model)

    def interpret_fi(self, model):
        """Permutation importance on the test split, least important first.

        Returns a new dictionary on every call: "feature_names" (full names), "importance"
        (the mean drop of the score when the feature's test values are shuffled) and "title".
        """
        pipeline = self._pipeline(model)
        if model not in self._importance:
            test = self.dataset.test_index
            metric = self._score_name(pipeline.estimator)
            result = permutation_importance(
                pipeline.estimator, self._inputs[model][test],
                self.dataset.encoded_target(test), scoring=metric, n_repeats=5,
                random_state=self.random_state)
            order = np.argsort(result.importances_mean, kind="stable")
            self._importance[model] = (
                [self.dataset.feature_names[j] for j in order],
                result.importances_mean[order],
                "Permutation Importance (%s drop on the test split)" % metric)
        names, importance, title = self._importance[model]
        return {"feature_names": list(names), "importance": importance.copy(), "title": title}

    def _score_name(self, estimator):
        if self.task == "regression":
            return "r2"
        if hasattr(estimator, "predict_proba") or hasattr(estimator, "decision_function"):
            return "roc_auc"
        return "accuracy"

    def interpret_ei(self, model):
        """The model's global terms, or None where it has none.

        "glm": {"type": "coefficient", "feature_hier", "feature_names", "importance"}, one
        entry per coefficient (plus the intercept, group "Intercept"), smallest magnitude
        first; a numeric feature's group is "Numeric", a level's group its feature's name.
        A coefficient is the change of the linear predictor across the feature's training
        range, or from the reference level to the level.
        "reludnn": {"type": "llm", "ystd_llms", "all_bias_weight", "feature_importance",
        "n_features", "feature_names"} of its local linear models.
        """
        pipeline = self._pipeline(model)
        if pipeline.family == "glm":
            intercept, _ = explain.linear_parts(pipeline.estimator)
            terms = explain.linear_terms(pipeline.estimator, self.dataset)
            terms.append(("Intercept", "Intercept", intercept))
            terms.sort(key=lambda term: abs(term[2]))
            names, groups, values = zip(*terms)
            return {"type": "coefficient", "feature_hier": np.array(groups, dtype=object),
                    "feature_names": np.array(names, dtype=object),
                    "importance": np.array(values, dtype=float)}
        if pipeline.family == "reludnn":
            llms = self.interpret_single(model)
            return {"type": "llm", "ystd_llms": llms.ystd_llms,
                    "all_bias_weight": llms.all_bias_weight,
                    "feature_importance": llms.feature_importance,
                    "n_features": llms.n_features, "feature_names": llms.feature_names}
        return None

    def interpret_local_effect(self, model, sample_index):
        """None: none of these families has effect terms of its own (main effects and
        interactions), which is what the local effect view explains a sample by."""
        self._sample(model, sample_index)
        return None

    def interpret_local_fi(self, model, sample_index, centered=True):
        """Each feature's contribution to the model's response for one row, smallest magnitude
        first: {"x" (full names), "y" (contributions), "value" (the row in model scale),
        "title"}. For "glm" and "reludnn" also "stem0" and "stem1": the 5th and 95th
        percentile of the feature's contribution over the training rows, to show how unusual
        the row's contribution is.

        ``centered`` measures every value from its training mean, so the contributions add up
        to the response minus the response at the mean; otherwise from 0, so they add up to
        the response minus the intercept. A tree's contributions are always measured from the
        training mean, and another model's from the average over the feature's training
        values.
        """
        pipeline, row, x_row = self._sample(model, sample_index)
        train_inputs = self._inputs[model][self.dataset.train_index]
        estimator, family = pipeline.estimator, pipeline.family
        spread = None
        if family == "glm":
            train_parts = explain.linear_contributions(estimator, self.dataset, train_inputs)
            parts = explain.linear_contributions(estimator, self.dataset, x_row[None, :])[0]
            if centered:
                baseline = train_parts.mean(axis=0)
                parts, train_parts = parts - baseline, train_parts - baseline
            spread = train_parts
            response = explain.linear_response(estimator, x_row[None, :])[0]
        elif family == "reludnn":
            llms = self.interpret_single(model)
            weights, _ = llms.local_model(x_row)
            parts = weights * (x_row - llms.x.mean(axis=0) if centered else x_row)
            spread = llms.contributions(np.arange(llms.x.shape[0]), centered=centered)
            response = explain.linear_response(estimator, x_row[None, :])[0]
        elif family == "tree":
            parts = explain.tree_contributions(estimator, x_row[None, :])[0]
            response = explain.model_response(estimator, x_row[None, :])[0]
        else:
            spaced = np.linspace(0, len(train_inputs) - 1,
                                 min(len(train_inputs), _BACKGROUND_ROWS)).astype(int)
            background = train_inputs[spaced]
            parts = explain.occlusion_contributions(
                lambda X: explain.model_response(estimator, X), x_row, background)
            response = explain.model_response(estimator, x_row[None, :])[0]

        order = np.argsort(np.abs(parts), kind="stable")
        result = {
            "x": [self.dataset.feature_names[j] for j in order],
            "y": parts[order],
            "value": x_row[order].copy(),
            "title": self._local_title(pipeline, row, response, centered),
        }
        if spread is not None:
            low, high = np.percentile(spread, [5, 95], axis=0)
            result["stem0"], result["stem1"] = low[order], high[order]
        return result

    def _local_title(self, pipeline, row, response, centered):
        if self.task == "regression":
            what = "prediction %.4g" % response
        else:
            positive = self.dataset.classes[1]
            if pipeline.family in ("glm", "reludnn"):
                what = "logit of %s %.4g" % (positive, response)
            elif hasattr(pipeline.estimator, "predict_proba"):
                what = "P(%s) %.3f" % (positive, response)
            else:
                what = "score of %s %.4g" % (positive, response)
        if centered or pipeline.family in ("tree", "generic"):
            base = "relative to the training mean"
        else:
            base = "relative to the intercept"
        return "Sample %d: %s, contributions %s" % (row, what, base)

    def interpret_local_tree(self, model, sample_index):
        """A tree model's drawing of one row (a new dictionary on every call), or None for
        other families: the tree entries of ``interpret_result_dict[model]`` and
        "node_index" (the row's path from the root to its leaf), "node_related" (the nodes to
        draw: the root and both children of every split on the path, level by level) and
        "node_other" (the drawn branches that the row does not take and that are not leaves;
        their subtrees are left out)."""
        pipeline, _, x_row = self._sample(model, sample_index)
        if pipeline.family != "tree":
            return None
        return explain.tree_local(pipeline.estimator, self.dataset.feature_names, x_row)
