"""What our estimators need of scikit-learn, across the releases that the package supports."""

try:
    from sklearn.utils.validation import validate_data
except ImportError:  # scikit-learn before 1.6, the newest that installs on Python 3.8
    def validate_data(estimator, *args, **kwargs):
        return estimator._validate_data(*args, **kwargs)

__all__ = ["validate_data"]
