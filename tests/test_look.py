import matplotlib.pyplot as plt

from vexo.workflow import look


def test_the_sheet_is_reachable_by_name_and_by_the_module():
    with plt.style.context("vexo.workflow.look"):
        by_name = dict(plt.rcParams)
    with look.context():
        by_module = dict(plt.rcParams)
    assert by_name == by_module and by_name != dict(plt.rcParamsDefault)
    with plt.style.context("default"):
        look.use()
        assert plt.rcParams["axes.titlesize"] == by_name["axes.titlesize"]
