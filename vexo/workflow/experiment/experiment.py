"""An experiment: one table, its train/test split, the models fitted on it and their
explanations, in the form that ``vexo.workflow.interpret_api`` draws.

    exp = Experiment(frame, target="price")
    exp.register("glm", "glm")
    exp.register("tree", "tree", max_depth=3)
    exp.register("relu", "reludnn", hidden_layer_sizes=(16, 8))
    exp.register("boost", "ebm", interactions=5)
    exp.interpret_fi("tree")                  # permutation importance on the test split
    exp.interpret_local_fi("glm", 17)         # why row 17 of `frame` got its prediction
    exp.compare_effects("area")               # the feature's effect in every model, one axis
    exp.compare_importance()                  # every model's importance ranks side by side

A ``sample_index`` is always a row position in the frame given to ``Experiment`` once the rows
whose target is missing are left out (``dataset.source_rows`` maps it back to the frame).

A classification explains the probability of one class, the positive one: with two classes the
second in sorted order unless ``positive_class`` names the other, with more than two the class
of ``positive_class`` (by default the most frequent) against all the others together.
"""

import numpy as np
from sklearn.base import clone

from ..plots import Sum, Title
from ..plots.bars import printed_number
from . import additive, explain, screen
from .compare import Comparisons
from .dataset import make_dataset
from .families import FAMILIES, Family, family_of, make_estimator
from .pipeline import ModelPipeline, check_estimator_task
from .scores import NAMES as SCORE_NAMES, model_scores

# Training rows whose place the effect views show (the dots over a pair's surface), at most.
EFFECT_ROWS = 2000


class Registered(dict):
    """Model name -> pipeline; a name that is not registered raises a KeyError naming those that are."""

    def __missing__(self, model):
        raise KeyError("no model is registered as %r; registered are %r" % (model, list(self)))


class Experiment(Comparisons):
    """Fits models on a table and explains them.

    Parameters
    ----------
    data : DataFrame of numeric, categorical (category, object or string dtype) and date
        columns; gaps are allowed in the features. A Dask DataFrame is read, split and
        sampled on its cluster's workers (``partitioned.dataset``)
    target : name of the target column
    task : "regression" or "classification"
    test_size : share of the rows kept for testing (permutation importance)
    random_state : seed of the split and of the models
    positive_class : for a classification, the label of the class that every model predicts
        and every view explains (the logit or probability of that class): with two classes
        the second in sorted order by default, with more the most frequent (ties: the first
        in sorted order), the other classes taken together as one. The label is compared as
        the table holds it (2 is not "2"). Each class, the positive one and the rest, needs
        at least ``target.MIN_CLASS_ROWS`` (5) rows.
    run : for a Dask DataFrame, run(step name, list of Dask tasks, watch=tasks they merge) ->
        their results

    Rows whose target is missing are dropped, with a note; a target missing everywhere, a
    constant regression target, or a classification of one class is refused with a
    ``ValueError``.

    The models see the features as ``vexo.workflow.experiment.columns`` prepares them on the training
    split: gaps filled (numbers with the training median, plus a 0/1 "<name> missing" feature
    where a column misses more than 5% of its training values; categories with a level
    "missing"), rare and unseen levels as "other", dates as days since the first training date,
    identifiers and constant columns left out, names that the views would split renamed. Every
    explanation is of that pipeline, imputed values included: a filled gap is explained as the
    median it became, and the indicator's part is what the model makes of the gap itself.

    Attributes
    ----------
    notes : list of str, one line per thing done to the table (the same list as
        ``dataset.notes``)
    dataset : the validated table (``vexo.workflow.experiment.dataset.Dataset``)
    registered_pipeline : dict, model name -> ``ModelPipeline``; an unknown name raises a
        ``KeyError`` that lists the registered ones
    interpret_result_dict : dict, model name -> the model's stored explanation (its
        explainer) once computed: a dictionary describing the tree for "tree",
        ``LocalLinearModels`` for "reludnn", ``additive.EBMExplainer`` for "ebm",
        ``additive.GAMEffects`` for "gam", ``additive.GAMINetEffects`` for "gami",
        None for the other families
    act_inter_lis : dict, model name -> the display names of the model's pair terms, each
        two names of ``dataset.truncated_columns_dict_15`` joined by " x " (empty for models
        without pairs)
    inter_effect_trunc_dict : dict, model name -> {full pair name "a x b": display name}
    screened : array of the positions of the features that the families whose cost grows
        fastest with the features ("ebm", "gam", "gami") use on a table of more than
        ``screen.SCREEN_FEATURES`` features (the strongest by ``screen``; a note names them),
        else None: they use every feature
    """

    def __init__(self, data, target, task="regression", test_size=0.2, random_state=0,
                 positive_class=None, run=None):
        self.dataset = make_dataset(data, target, run=run, task=task, test_size=test_size,
                                    random_state=random_state, positive_class=positive_class)
        self.notes = self.dataset.notes
        self.task = task
        self.random_state = random_state
        self.registered_pipeline = Registered()
        self.interpret_result_dict = {}
        self.act_inter_lis = {}
        self.inter_effect_trunc_dict = {}
        self._matrix = None
        self._importance = {}
        # Model name -> what a family derives from the fitted model once (its terms, ...).
        self._derived = {}
        # the positions of the features that the costly families use, None for all of them
        self.screened, note = screen.screen_table(self.dataset, self._all_inputs,
                                                  random_state, FAMILIES)
        if note:
            self.notes.append(note)

    def __setstate__(self, state):
        self.__dict__.update(state)
        self.__dict__.setdefault("_matrix", None)
        if self._matrix is not None:
            self._matrix.setflags(write=False)
        # saved with a copy of the input matrix per model: all of them see the one matrix
        self.__dict__.pop("_inputs", None)
        self.__dict__.setdefault("screened", None)
        # a pipeline saved before it read the training rows for a tree's split labels reads them
        # from the experiment's dataset
        for pipeline in self.registered_pipeline.values():
            pipeline.__dict__.setdefault("_dataset", self.dataset)
            pipeline.__dict__.setdefault("_split_values", {})

    def __repr__(self):
        return "Experiment(%d rows, target=%r, task=%r, models=%r)" % (
            self.dataset.n_rows, self.dataset.target, self.task,
            list(self.registered_pipeline))

    # Models ----------------------------------------------------------------------------

    def register(self, name, family, replace=False, **params):
        """Fit a model on the training split and file it under ``name``.

        ``family`` is the name of a family of ``families.FAMILIES`` ("glm", "tree",
        "reludnn", "ebm", "gam", "gami"; ``params`` override the family's settings of the
        model), or an unfitted scikit-learn estimator, which is cloned and fitted. A name that
        is taken is refused unless ``replace`` is true; replacing drops the old explanations.
        Returns the fitted ``ModelPipeline``.
        """
        if not isinstance(name, str) or not name:
            raise ValueError("a model name must be a non-empty string, got %r" % (name,))
        if name in self.registered_pipeline and not replace:
            raise ValueError("a model named %r is registered already; pass replace=True to "
                             "refit it" % name)
        if isinstance(family, str):
            if self.screened is not None and family in FAMILIES:
                params = dict(FAMILIES[family].screen_settings(
                    self.screened, self.dataset.n_features), **params)
            estimator = make_estimator(family, self.dataset, self.random_state, **params)
            family_name = family
        else:
            if params:
                raise ValueError("model parameters %r are for a family name; set them on the "
                                 "estimator instead" % sorted(params))
            check_estimator_task(family, self.task)
            family_name = family_of(family)
            estimator = FAMILIES[family_name].adopt(clone(family), self.dataset)

        pipeline = ModelPipeline(name, family_name, estimator, self.dataset)
        inputs = self._all_inputs()
        train = self.dataset.train_index
        FAMILIES[family_name].fit(estimator, inputs[train], self.dataset.encoded_target(train),
                                  self.dataset, self.random_state)

        for table in (self.interpret_result_dict, self._importance, self._derived):
            table.pop(name, None)
        self.registered_pipeline[name] = pipeline
        try:
            pairs = FAMILIES[family_name].interactions(self, name)
        except BaseException:
            # A model whose terms cannot be read is not left half registered.
            for table in (self.registered_pipeline, self._derived,
                          self.act_inter_lis, self.inter_effect_trunc_dict):
                table.pop(name, None)
            raise
        self.act_inter_lis[name] = list(pairs.values())
        self.inter_effect_trunc_dict[name] = pairs
        return pipeline

    # What the families read of a fitted model -------------------------------------------

    def _all_inputs(self):
        """The input matrix of every model of the table (all of them see it alike), made once;
        read only, as every model shares it."""
        held = 0 if self._matrix is None else len(self._matrix)
        if held < len(self.dataset.data):
            # a table on a cluster adds the rows that a sample_index fetches
            more = ModelPipeline("", Family.name, None, self.dataset).transform(
                self.dataset.data.iloc[held:])
            self._matrix = more if self._matrix is None else np.concatenate([self._matrix, more])
            self._matrix.setflags(write=False)
        return self._matrix

    def model_inputs(self, model, rows):
        """The model's input matrix (model scale) at the row positions ``rows``."""
        self.registered_pipeline[model]  # a model that is not registered has none
        return self._all_inputs()[rows]

    def train_inputs(self, model):
        """The model's input matrix on the training split."""
        return self.model_inputs(model, self.dataset.train_index)

    def sample_of(self, positions, limit):
        """At most ``limit`` of the row positions, drawn with the experiment's seed; those of a
        classification hold both classes (``explain.sample_rows``)."""
        labels = self.dataset.encoded_target(positions) if self.task == "classification" \
            else None
        return explain.sample_rows(positions, self.random_state, limit, labels)

    def derived(self, model, key, compute):
        """What ``compute()`` derives from the fitted model, computed once per model: refitting
        the model forgets it."""
        cache = self._derived.setdefault(model, {})
        if key not in cache:
            cache[key] = compute()
        return cache[key]

    def _pipeline(self, model):
        return self.registered_pipeline[model]

    def _family(self, model):
        return FAMILIES[self._pipeline(model).family]

    def _sample(self, model, sample_index):
        """The pipeline, the row position and the sample's input row."""
        pipeline = self._pipeline(model)
        row = self.dataset.check_sample_index(sample_index)
        return pipeline, row, self.model_inputs(model, row)

    # Explanations ----------------------------------------------------------------------

    def interpret_single(self, model):
        """Compute the model's stored explanation (once) and return it."""
        family = self._family(model)
        if model not in self.interpret_result_dict:
            explainer = family.explainer(self, model)
            self._describe_effects(model, explainer)
            self.interpret_result_dict[model] = explainer
        return self.interpret_result_dict[model]

    def _describe_effects(self, model, explainer):
        """Have the explainer's effects say what they are effects on (``effect_label``), where
        the training rows lie (at most ``EFFECT_ROWS`` of them, in model scale) and which
        features take few values (``effect_levels``), for the effect views to show."""
        describe = getattr(explainer, "describe_effects", None)
        if describe is None:
            return
        if self.dataset.partitioned and hasattr(explainer, "densities"):
            # the data drawn under each main effect: every training row, not the sample
            self.dataset.count_densities(explainer.densities())
        rows = self.sample_of(self.dataset.train_index, EFFECT_ROWS)
        describe(self.effect_label(model), self.model_inputs(model, rows),
                 self.effect_levels(model))

    def effect_label(self, model):
        """What the model's main and pair effects are effects on, as the value axis of their
        views reads: "effect on the prediction of price", "effect on the logit of yes"."""
        return "effect on " + self.response_words(model)

    def effect_levels(self, model):
        """Column -> the values of each feature that takes few: a categorical feature's codes
        (its levels in ``dataset.categories`` order) and the two values of a numeric feature
        that takes two in the training split (a 0/1 flag, a sex coded 1 and 2)."""
        dataset = self.dataset
        numeric = [j for j, name in enumerate(dataset.feature_names)
                   if not dataset.is_categorical(name)]
        levels = {j: values for j, (values, _) in additive.two_level_columns(
            self.train_inputs(model), numeric).items()}
        for j, name in enumerate(dataset.feature_names):
            if dataset.is_categorical(name):
                levels[j] = np.arange(len(dataset.categories[name]), dtype=float)
        return levels

    def get_interpret(self, model):
        """The model's explainer: the same object as ``interpret_result_dict[model]``."""
        return self.interpret_single(model)

    def interpret_fi(self, model):
        """Permutation importance on the test split, least important first (of equal drops,
        the features that the model does not read first).

        Returns a new dictionary on every call: "feature_names" (full names), "importance"
        (the mean drop of the score when the feature's test values are shuffled) and "title",
        which names the score and, for a classification, the positive class (a
        ``plots.Title`` whose axis label is the drop, e.g. "drop in R²"). A test split of
        more than ``explain.FI_ROWS`` rows is sampled down to that many.
        """
        pipeline = self._pipeline(model)
        if model not in self._importance:
            metric = self._score_name(pipeline.estimator)
            importance = self._permutation_importance(model, metric)
            # among equal drops (none at all, where the model needs no single feature) the
            # features that the model reads count as more important than those it does not
            used = self._family(model).used_columns(pipeline.estimator)
            reads = np.ones(len(importance)) if used is None else np.isin(
                np.arange(len(importance)), used)
            order = np.lexsort((reads, importance))
            self._importance[model] = (
                [self.dataset.feature_names[j] for j in order],
                importance[order],
                self._importance_title(metric))
        names, importance, title = self._importance[model]
        return {"feature_names": list(names), "importance": importance.copy(), "title": title}

    def _importance_title(self, metric):
        explained = "" if self.task == "regression" else " of P(%s)" % (
            self.dataset.positive_class,)
        score = SCORE_NAMES.get(metric, metric)
        return Title("Permutation Importance%s (%s drop on the test split)" % (explained, score),
                     axis_label="drop in %s" % score)

    def _permutation_importance(self, model, metric):
        """Each feature's mean drop of the score over the shuffles of its test values; on at
        most ``explain.FI_ROWS`` test rows."""
        rows = self.sample_of(self.dataset.test_index, explain.FI_ROWS)
        return self._family(model).permutation_importance(
            self, model, self.model_inputs(model, rows), self.dataset.encoded_target(rows),
            metric)

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
        range, or from the reference level to the level. Also "titles": group -> the
        ``plots.Title`` of its chart ("Model Coefficients", naming the group and saying what
        a coefficient is), and "original_scale": the same result per unit of each numeric
        feature in its own units (``explain.per_unit_coefficients``), in the same order.
        "reludnn": {"type": "llm", "ystd_llms", "all_bias_weight", "feature_importance",
        "n_features", "feature_names", "coefficient_label"} of its local linear models.
        "ebm", "gam", "gami": {"type": "effect", "value": (names, importances)}, one entry
        per main effect (the feature's name) and pair (its display name), least important
        first; a term's importance is its share of the mean absolute contribution over the
        training rows.
        """
        return self._family(model).effect_importance(self, model)

    def interpret_local_effect(self, model, sample_index):
        """How the model's terms make up its response for one row, or None for a model without
        effect terms (only "ebm", "gam" and "gami" have them).

        {"x": term names (a feature's name for a main effect, the display name of a pair, and
        "Intercept"), "value": per term the row's values of its features in model scale (an
        array of one tuple per term; the intercept's is empty), "y": per term its
        contribution, "title"}, smallest magnitude first. The contributions, intercept
        included, add up to the response (the logit for a classifier); the title (a
        ``plots.Title``) says so: "Sample 3: prediction 67.21 = intercept 152.1 + effects",
        and its ``adds_up`` lets a chart of some of the terms show the others as one.
        """
        _, row, x_row = self._sample(model, sample_index)
        return self._family(model).local_effect(self, model, row, x_row)

    def interpret_local_fi(self, model, sample_index, centered=True):
        """Each feature's contribution to the model's response for one row, smallest magnitude
        first: {"x" (full names), "y" (contributions), "value" (the row in model scale),
        "title" (a ``plots.Title``: "Sample 3: prediction 66.99 = training mean 152.1 +
        contributions", whose axis label says what the contributions add to and whose
        ``adds_up`` lets a chart of some of the features show the others as one)}.
        Where the model's contributions over the training rows are known ("glm", "tree",
        "reludnn", "ebm", "gam", "gami") also "stem0" and "stem1": the 5th and 95th
        percentile of the feature's contribution over the training rows, to show how unusual
        the row's contribution is.

        What the contributions add up to, by family (the baseline that the title names):
        - "glm": the response (the logit for a classifier) minus the mean training response
          when ``centered`` (every value measured from its training mean), minus the intercept
          otherwise;
        - "reludnn": with the weights of the row's own local linear model, the response minus
          that linear model at the training mean when ``centered``, minus its intercept
          otherwise (not the response at the mean: another sample's linear model differs);
        - "ebm", "gam", "gami": a feature's contribution is its main effect plus half of each
          of its pairs; they add up to the response (the logit for a classifier) minus the
          mean training response when ``centered``, minus the intercept otherwise;
        - "tree": the leaf's mean (probability) minus the training mean, whatever ``centered``;
        - any other model: sampled Shapley values of the response (probability) against
          training rows; they add up to the response minus its mean over those rows.
        """
        _, row, x_row = self._sample(model, sample_index)
        family = self._family(model)
        parts, spread, response, baseline = family.local_contributions(self, model, x_row, centered)
        order = np.argsort(np.abs(parts), kind="stable")
        result = {
            "x": [self.dataset.feature_names[j] for j in order],
            "y": parts[order],
            "value": x_row[order].copy(),
            "title": self.local_title(model, row, response, family.baseline_name(centered),
                                      baseline, len(parts), "features"),
        }
        if spread is not None:
            low, high = np.percentile(spread, [5, 95], axis=0)
            result["stem0"], result["stem1"] = low[order], high[order]
        return result

    def _response(self, model):
        """What the model's local explanations explain: "prediction", "logit", "probability"
        or "score"."""
        if self.task == "regression":
            return "prediction"
        if self._family(model).logit:
            return "logit"
        if hasattr(self._pipeline(model).estimator, "predict_proba"):
            return "probability"
        return "score"

    def _response_name(self, model):
        """The model's response as a title names it: "prediction", "logit of P(<positive>)",
        "P(<positive>)" or "score of <positive>"."""
        kind = self._response(model)
        if kind == "prediction":
            return kind
        positive = self.dataset.classes[1]
        if kind == "logit":
            return "logit of P(%s)" % (positive,)
        return "P(%s)" % (positive,) if kind == "probability" else "%s of %s" % (kind, positive)

    def response_words(self, model):
        """The model's response as an axis names it: "the prediction of <target>", "the logit
        of P(<positive>)", "P(<positive>)" or "the score of <positive>"."""
        kind = self._response(model)
        if kind == "prediction":
            return "the prediction of %s" % (self.dataset.target,)
        if kind == "probability":
            return self._response_name(model)
        return "the " + self._response_name(model)

    def local_title(self, model, row, response, baseline_name, baseline, count, kind):
        """The title of one row's explanation as a sum: "Sample 3: prediction 67.21 =
        intercept 152.1 + effects" (``kind`` "terms") or "... + contributions"; its value axis
        says what the parts add to, and its ``adds_up`` that ``count`` parts add ``response``
        minus ``baseline``. Every number is printed as the charts print it (4 significant
        digits)."""
        parts = "effects" if kind == "terms" else "contributions"
        # a line of a wrapped title never ends between a name and its number, nor leaves the
        # last word alone
        text = "Sample %d: %s\u00a0%s = %s\u00a0%s\u00a0+\u00a0%s" % (
            row, self._response_name(model), printed_number(response), baseline_name, printed_number(baseline),
            parts)
        return Title(text, axis_label="contribution to " + self.response_words(model),
                     adds_up=Sum(float(response), float(baseline), int(count), kind))

    def coefficient_words(self, model, per_unit=False, between=" "):
        """What a coefficient of the model's numeric feature is, as an axis says it; ``between``
        the response and the unit (a line break for an axis that is not fitted to its
        figure)."""
        unit = "per unit of the feature" if per_unit else "over the feature's training range"
        return "change of %s%s%s" % (self.response_words(model), between, unit)

    def interpret_local_tree(self, model, sample_index):
        """A tree model's drawing of one row (a new dictionary on every call), or None for
        other families: the tree entries of ``interpret_result_dict[model]`` and
        "node_index" (the row's path from the root to its leaf), "node_related" (the nodes to
        draw: the root and both children of every split on the path, level by level) and
        "node_other" (the drawn branches that the row does not take and that are not leaves;
        their subtrees are left out)."""
        _, _, x_row = self._sample(model, sample_index)
        return self._family(model).local_tree(self, model, x_row)

    # Scores ----------------------------------------------------------------------------

    def scores(self, model):
        """How well the model predicts the test split, beside a baseline that ignores the
        features: a ``scores.Scores`` record (computed once per fit).

        A regression: R² and RMSE, beside predicting the training mean for every row. A
        classification, the positive class against the rest: ROC AUC of the model's
        probability of the positive class and the accuracy of its predicted class, beside
        always predicting the training split's majority class (AUC 0.5).

            exp.scores("glm")["r2"].model        # the model's R² on the test split
            exp.scores("glm").as_dict()          # {"r2": {"model": ..., "baseline": ...}, ...}
        """
        self._pipeline(model)
        return self.derived(model, "scores", lambda: model_scores(self, model))

