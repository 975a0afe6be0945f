"""The experiment: one table, its train/test split, the models fitted on it and their
explanations, in the form that ``vexo.workflow.interpret_api`` draws.

- ``dataset``, ``columns``, ``features``: the validated table, how its columns become the
  features that the models see, and how each feature encodes its values and undoes that;
- ``pipeline``: a fitted model with the preprocessing that feeds it;
- ``families``: the model families, one object each, in one registry;
- ``models``: our own estimators (spline GAMs with and without pairs, ReLU networks);
- ``explain``, ``additive``, ``local_linear``: the explanations of fitted models;
- ``experiment``: ``Experiment``, which fits models on the table and hands out their
  explanations.
"""
from .experiment import Experiment

__all__ = ["Experiment"]
