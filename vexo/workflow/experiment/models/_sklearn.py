"""What our estimators need of scikit-learn, across the releases that the package supports."""

try:
    from sklearn.utils.validation import validate_data
except ImportError:  # scikit-learn before 1.6, the newest that installs on Python 3.8
    def validate_data(estimator, *args, **kwargs):
        return estimator._validate_data(*args, **kwargs)


class BinaryOnly:
    """Tags of a classifier of two classes (one logit), neither multiclass nor multilabel, for
    scikit-learn's estimator checks; put before the estimator's scikit-learn classes."""

    def __sklearn_tags__(self):
        tags = super().__sklearn_tags__()
        tags.classifier_tags.multi_class = tags.classifier_tags.multi_label = False
        return tags

    def _more_tags(self):
        # where scikit-learn (before 1.6) reads an estimator's tags
        return {"binary_only": True, "multilabel": False}


__all__ = ["BinaryOnly", "validate_data"]
