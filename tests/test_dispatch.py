"""model_interpret: which view a `show` value reaches is told by the estimator's class name at each
call; what a view raises passes through unchanged. (Arguments and order: tests/test_call_order.py.)"""
import types

import pytest

from conftest import ExperimentDouble, estimator_named
from vexo.workflow.interpret_api import InterpretAPI


class RecordingAPI(InterpretAPI):
    """The dispatcher calls every view through the object, so a subclass can record them."""

    def ei(self, **kwargs):
        self.calls.append(("ei", kwargs))

    def fi(self, **kwargs):
        raise LookupError("from the view")


def test_relu_network_is_told_by_the_estimator_class_name_at_each_call(capsys):
    api = RecordingAPI(ExperimentDouble({"model": "GAMINetRegressor"}, computed=["model"]), "model")

    def outcome(show):
        api.calls = []
        api.model_interpret(show=show)
        return api.calls, capsys.readouterr().out

    drawn, refused = ([("ei", {"figsize": (8, 6)})], ""), ([], "Not supported\n")
    relu_class = type("ReluDNNRegressor", (), {})
    for estimator, relu in [(relu_class(), True), (estimator_named("GAMINetRegressor"), False),
                            (estimator_named("ReluDNNClassifier"), True), (estimator_named("ReluDNN"), False),
                            (estimator_named("reludnnclassifier"), False),
                            (type("TunedReluDNN", (relu_class,), {})(), False)]:
        api.pipeline = types.SimpleNamespace(estimator=estimator)
        assert (outcome("global_ei"), outcome("llm_pc")) == ((refused, drawn) if relu else (drawn, refused))
    with pytest.raises(LookupError, match="from the view"):
        api.model_interpret(show="global_fi", return_data=True)
