"""Every view reached through ``model_interpret`` on every model of a real experiment draws, or
prints its refusal, and raises nothing. A row joins once ``InterpretAPI`` has the method it reaches."""

import matplotlib.pyplot as plt
import pytest

api = pytest.importorskip("vexo.workflow.interpret_api")

DRAW, REFUSE, SHOW = "draws", "refuses", "shows a table"
# The coefficient view reads the type of a result that models without terms do not have: the
# interpreter's TypeError for None, which is documented, not a refusal.
RAISE = TypeError
REFUSALS = {"Not supported", "No interaction effect", "No this interaction effect"}
MODELS = ("glm", "tree", "relu", "ebm", "gam", "gami")
ADDITIVE = ("ebm", "gam", "gami")


def only(model, outcome):
    return {m: outcome if m == model else REFUSE for m in MODELS}


def drawn_by(*models):
    return {m: DRAW if m in models else REFUSE for m in MODELS}


EVERY = {m: DRAW for m in MODELS}
PAIR = ("income_per_household", "income_per_capita_usd")

# show, arguments, method reached (per model where the dispatcher decides), outcome per model
VIEWS = [
    ("global_fi", {}, "fi", EVERY),
    ("global_fi", {"return_data": True}, "fi", EVERY),
    ("global_ei", {}, {"glm": "ei", "tree": "ei", "relu": None, "ebm": "ei", "gam": "ei",
                       "gami": "ei"}, drawn_by(*ADDITIVE)),
    ("llm_pc", {}, {"glm": None, "tree": None, "relu": "ei", "ebm": None, "gam": None,
                    "gami": None}, only("relu", DRAW)),
    ("glm_coef", {"uni_feature": "Numeric"}, "coef", dict(only("glm", DRAW), tree=RAISE)),
    ("global_effect_plot", {"uni_feature": "age", "original_scale": True}, "main_effect",
     drawn_by("relu", *ADDITIVE)),
    ("global_effect_plot", {"uni_feature": "colour"}, "main_effect", drawn_by("relu", *ADDITIVE)),
    ("global_effect_plot", {"uni_feature": "colour", "original_scale": True}, "main_effect",
     drawn_by("relu", *ADDITIVE)),
    # A GAM has no pairs: the interaction view does not know its family.
    ("global_effect_plot", {"bi_features": "pair", "original_scale": True},
     "interaction_effect", drawn_by("relu", "ebm", "gami")),
    ("local_fi", {"sample_id": 17, "centered": False, "return_data": True}, "fi_local", EVERY),
    # the colour column's value is its label in original units
    ("local_fi", {"sample_id": 17, "original_scale": True, "return_data": True}, "fi_local", EVERY),
    ("local_fi", {"sample_id": 5, "centered": False, "original_scale": False, "return_data": True},
     "fi_local", EVERY),
    ("local_ei", {"sample_id": 17, "original_scale": True}, "ei_local", drawn_by(*ADDITIVE)),
    ("llm_summary", {}, "llm_df", only("relu", SHOW)),
    ("llm_violin", {}, "llm_violin", only("relu", DRAW)),
    ("tree_global", {"original_scale": True}, "get_tree", only("tree", DRAW)),
    ("tree_global", {"root": 1, "depth": 9, "original_scale": True}, "get_tree", only("tree", DRAW)),
    ("tree_local", {"sample_id": 17, "original_scale": True}, "get_local_tree",
     only("tree", DRAW)),
    ("tree_local", {"sample_id": 250, "original_scale": False}, "get_local_tree", only("tree", DRAW)),
]


def reachable():
    """(model, show, arguments, outcome) of every row whose method exists, or that the dispatcher
    refuses itself."""
    for show, arguments, method, outcome in VIEWS:
        for model in MODELS:
            reached = method[model] if isinstance(method, dict) else method
            if reached is None or hasattr(api.InterpretAPI, reached):
                yield pytest.param(model, show, arguments, outcome, id="-".join(
                    [model, show] + ["%s=%s" % kv for kv in arguments.items()]))


@pytest.mark.parametrize("model, show, arguments, outcome", list(reachable()))
def test_view_draws_or_refuses(experiment, model, show, arguments, outcome, capsys):
    if arguments.get("bi_features") == "pair":
        # A pair is named as the 15-character display names name it.
        names = experiment.dataset.truncated_columns_dict_15
        arguments = dict(arguments, bi_features=tuple(names[f] for f in PAIR))

    view = api.InterpretAPI(experiment, model)
    expected = outcome[model]
    if expected is RAISE:
        with pytest.raises(RAISE):
            view.model_interpret(show=show, **arguments)
        return
    result = view.model_interpret(show=show, **arguments)

    printed = capsys.readouterr().out
    if expected == DRAW:
        assert plt.get_fignums(), "nothing drawn"
        assert not REFUSALS & set(printed.splitlines())
    elif expected == SHOW:
        assert "Count" in printed and "Not supported" not in printed
    else:
        assert printed.splitlines()[-1:] and printed.splitlines()[-1] in REFUSALS
    if arguments.get("return_data") and show == "global_fi":
        assert sorted(result) == ["feature_names", "importance"]
    elif arguments.get("return_data"):
        assert result["value"]["x"] and len(result["value"]["x"]) == len(result["value"]["y"])
    else:
        assert result is None
