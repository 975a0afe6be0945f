"""Names in any script are drawn with an installed font that has them; a script no font has is said once."""

import io
import pickle
import unicodedata
import warnings

import matplotlib
import matplotlib.pyplot as plt
import pandas as pd
import pytest
from matplotlib import font_manager

from vexo.workflow import fonts
from vexo.workflow.plots import PlotHBar


@pytest.fixture(autouse=True)
def fresh_fonts(monkeypatch):
    """The rcParams and what the module has warned about and scanned, restored after each test."""
    monkeypatch.setitem(matplotlib.rcParams, "font.family", ["sans-serif"])
    monkeypatch.setattr(fonts, "_warned", set())
    monkeypatch.setattr(fonts, "_scanned", [])


def letter_only_in(family):
    """A letter that only this family has among installed fonts (placeholder fonts aside)."""
    others = set(fonts._charmap(font_manager.findfont(font_manager.FontProperties(family=["sans-serif"]))))
    for entry in font_manager.fontManager.ttflist:
        if not entry.name.lower().startswith((family[:4].lower(),) + fonts._PLACEHOLDERS):
            others |= fonts._charmap(entry.fname)
    path = next(e.fname for e in font_manager.fontManager.ttflist if e.name == family)
    return next(chr(c) for c in sorted(fonts._charmap(path) - others) if unicodedata.category(chr(c))[0] in "LS")


def missing_glyph_warnings(text, figure=None):
    if figure is None:
        figure = plt.figure(figsize=(2, 1))
        figure.text(0.1, 0.5, text)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        figure.savefig(io.BytesIO(), format="png")
    plt.close(figure)
    # "missing from font(s) ..." since matplotlib 3.8, "missing from current font" before
    return [w for w in caught if "missing from" in str(w.message)]


def drawn_with_missing_glyphs(draw):
    """The missing-glyph warnings of saving what draw() shows."""
    from vexo.workflow.figures import capture

    with capture() as figures:
        draw()
    return sum((missing_glyph_warnings(None, figure) for figure in figures), [])


def a_tree_of(text):
    from vexo.workflow.experiment import Experiment
    from vexo.workflow.interpret_api import InterpretAPI

    exp = Experiment(pd.DataFrame({text: [1.0, 2.0, 3.0, 4.0] * 10, "y": range(40)}), "y")
    exp.register("tree", "tree", max_depth=1)
    InterpretAPI(exp, "tree").get_tree(0, 1)


# a figure made in the look and drawn later: the pickling test below
@pytest.mark.parametrize("draw", [
    lambda text: PlotHBar().plot(X=["b", text], height=[1.0, 2.0], title=text, figsize=(4, 3)),
    a_tree_of,  # a view that draws with matplotlib itself
], ids=["bars", "tree view"])
def test_a_character_the_default_font_lacks_is_drawn_with_an_installed_font_that_has_it(draw):
    # STIXGeneral ships with matplotlib, so every machine has a font beyond the default.
    rare = letter_only_in("STIXGeneral")
    assert missing_glyph_warnings("age " + rare)
    assert not drawn_with_missing_glyphs(lambda: draw("age " + rare))
    assert matplotlib.rcParams["font.family"] == ["sans-serif"]


def test_a_figure_whose_fonts_are_chosen_when_drawn_still_pickles_and_draws_so():
    from vexo.workflow import look

    with look.context():
        fig = plt.figure(figsize=(2, 1))
    fig.text(0.1, 0.5, "age " + letter_only_in("STIXGeneral"))
    loaded = pickle.loads(pickle.dumps(fig))
    plt.close(fig)
    assert not missing_glyph_warnings(None, loaded) and matplotlib.rcParams["font.family"] == ["sans-serif"]


def test_an_experiment_made_or_loaded_leaves_the_fonts_as_they_are():
    from vexo.workflow.experiment import Experiment

    rare = letter_only_in("STIXGeneral")
    saved = pickle.dumps(Experiment(pd.DataFrame({"a": range(0, 60, 3), "y": ["yes " + rare, "no"] * 10}), "y",
                                    task="classification"))
    pickle.loads(saved)
    assert matplotlib.rcParams["font.family"] == ["sans-serif"]


def test_a_font_installed_after_matplotlibs_cache_was_built_is_found(monkeypatch):
    rare = letter_only_in("STIXGeneral")
    known = font_manager.fontManager.ttflist
    monkeypatch.setattr(font_manager.fontManager, "ttflist", [e for e in known if e.name != "STIXGeneral"])
    monkeypatch.setattr(font_manager, "findSystemFonts",
                        lambda *args, **kwargs: sorted({e.fname for e in known if e.name == "STIXGeneral"}))
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert fonts.use_fonts_for([rare]) == ["STIXGeneral"]
    assert matplotlib.rcParams["font.family"] == ["sans-serif", "STIXGeneral"]


def test_characters_that_no_font_has_are_warned_about_once(monkeypatch):
    monkeypatch.setattr(fonts, "_candidates", lambda families: {})
    monkeypatch.setattr(fonts, "_scanned", [True])
    with pytest.warns(fonts.MissingGlyphsWarning, match="身高") as caught:
        assert fonts.use_fonts_for(["身高", "age"]) == []
    assert len(caught) == 1 and "\n" not in str(caught[0].message) and matplotlib.rcParams["font.family"] == ["sans-serif"]
    with pytest.warns(fonts.MissingGlyphsWarning) as caught:
        fonts.use_fonts_for(["身高体重"])
    assert "体重" in str(caught[0].message) and "身" not in str(caught[0].message)
