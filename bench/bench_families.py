"""Fit time of every model family on the two data sets of the tour: scikit-learn's diabetes
(regression, 442 rows, 10 features) and breast cancer (classification, 569 rows, 30 features).

Each family is registered with its default settings in an experiment of the data set; the time
is that of ``register`` (preprocessing and fitting on the training split), the best of
``--repeat`` runs, beside the model's score on the test split.

    python bench/bench_families.py [--repeat 3]
"""
import argparse
import time

import numpy as np
import pandas as pd
from sklearn.datasets import load_breast_cancer, load_diabetes
from sklearn.metrics import r2_score, roc_auc_score

from vexo.workflow.experiment import Experiment
from vexo.workflow.experiment.families import FAMILIES


def tour_sets():
    diabetes = load_diabetes(as_frame=True).frame
    cancer = load_breast_cancer(as_frame=True).frame
    cancer["target"] = np.where(cancer["target"] == 1, "benign", "malignant")
    return [("diabetes", diabetes, "regression"), ("breast cancer", cancer, "classification")]


def test_score(exp, model):
    pipeline, rows = exp.registered_pipeline[model], exp.dataset.rows(exp.dataset.test_index)
    if exp.task == "regression":
        return "R2 %.3f" % r2_score(rows[exp.dataset.target], pipeline.predict(rows))
    truth = rows[exp.dataset.target] == exp.dataset.classes[1]
    return "AUC %.3f" % roc_auc_score(truth, pipeline.predict_proba(rows)[:, 1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    families = [name for name in FAMILIES if name != "generic"]
    rows = []
    for data_name, frame, task in tour_sets():
        exp = Experiment(frame, "target", task=task)
        for family in families:
            times = []
            for _ in range(args.repeat):
                start = time.perf_counter()
                exp.register(family, family, replace=True)
                times.append(time.perf_counter() - start)
            rows.append((data_name, family, min(times), test_score(exp, family)))
    table = pd.DataFrame(rows, columns=["data", "family", "fit seconds", "test score"])
    print(table.to_string(index=False, float_format="%.2f"))


if __name__ == "__main__":
    main()
