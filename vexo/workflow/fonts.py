"""Fonts for the names of a table: matplotlib draws a character that its fonts lack as a box, and
its default font has no Chinese, Japanese or Korean. ``use_fonts_for(texts)`` finds installed
fonts that have the characters of the texts and puts them after the current ones in
``rcParams["font.family"]``, where matplotlib falls back through them glyph by glyph.

The package's figures choose their fonts when they are drawn: ``dress(figure)`` gives the texts
of one figure the fonts that they need, and the package's style block (``look.context()``) and
the views' own figures have it run before a figure is measured or drawn. Nothing changes the
user's ``rcParams``. To have every figure of a session draw some texts, call

    from vexo.workflow.fonts import use_fonts_for
    use_fonts_for(["年齢", "収入", "région"])
"""
import warnings

import matplotlib
from matplotlib import font_manager
from matplotlib.figure import Figure
from matplotlib.text import Text

__all__ = ["MissingGlyphsWarning", "dress", "dress_when_drawn", "fallbacks_for", "texts_of", "use_fonts_for"]

# Placeholder fonts that "have" every character as a box.
_PLACEHOLDERS = ("last resort",)


class MissingGlyphsWarning(UserWarning):
    """No installed font has some characters of the names: they are drawn as boxes."""


_charmaps = {}
_warned = set()
_scanned = []


def _charmap(path):
    """The code points that the font file has, or an empty set if it cannot be read."""
    if path not in _charmaps:
        try:
            from matplotlib.ft2font import FT2Font

            _charmaps[path] = frozenset(FT2Font(str(path)).get_charmap())
        except Exception:  # a broken font file is a font without characters
            _charmaps[path] = frozenset()
    return _charmaps[path]


def _drawable(text):
    """The code points of the text that the default fonts may lack."""
    return {ord(c) for c in str(text) if ord(c) > 127 and c.isprintable() and not c.isspace()}


def _current_paths(families):
    """The files of the fonts that the families resolve to, as matplotlib finds them."""
    paths = []
    for family in families:
        try:
            paths.append(font_manager.findfont(font_manager.FontProperties(family=[family]),
                                               fallback_to_default=False))
        except ValueError:
            pass
    return paths


def _candidates(families):
    """Family name -> font file of its regular face, for the installed fonts not in use."""
    chosen = {}
    for entry in font_manager.fontManager.ttflist:
        name = entry.name
        if name in families or name.lower().startswith(_PLACEHOLDERS):
            continue
        regular = entry.style == "normal" and entry.weight in (400, "normal", "regular")
        if name not in chosen or regular:
            chosen[name] = entry.fname
    return chosen


def _preference(name, region):
    # sans-serif faces suit the figures' default; monospaced and symbol faces come last; of the
    # regional variants of a CJK family, the one whose glyph forms suit the script
    lowered = name.lower()
    return ("sans" not in lowered, "mono" in lowered, "math" in lowered or "stix" in lowered,
            not name.endswith(" " + region), name)


def _region(codes):
    if any(0x3040 <= c <= 0x30FF for c in codes):
        return "JP"
    if any(0xAC00 <= c <= 0xD7AF or 0x1100 <= c <= 0x11FF for c in codes):
        return "KR"
    return "SC"


def _cover(missing, candidates):
    """Greedily the families that together have the most of ``missing``; (families, rest)."""
    added, missing, region = [], set(missing), _region(missing)
    while missing:
        best = min(candidates, default=None, key=lambda name: (
            -len(missing & _charmap(candidates[name])), _preference(name, region)))
        if best is None or not missing & _charmap(candidates[best]):
            break
        added.append(best)
        missing -= _charmap(candidates.pop(best))
    return added, missing


def _scan_new_fonts():
    """Add the system's fonts that matplotlib's font cache does not know yet (a font installed
    after the cache was built); once per process."""
    if _scanned:
        return
    _scanned.append(True)
    known = {entry.fname for entry in font_manager.fontManager.ttflist}
    for path in font_manager.findSystemFonts():
        if path not in known:
            try:
                font_manager.fontManager.addfont(path)
            except Exception:  # not a font matplotlib can read
                pass


def fallbacks_for(texts, families):
    """The fewest installed families that, after ``families``, have the characters of ``texts``.

    When no installed font has some characters, warns once for them with a
    ``MissingGlyphsWarning``. Never raises over fonts: at worst the characters stay boxes.
    """
    wanted = set()
    for text in texts:
        wanted |= _drawable(text)
    if not wanted:
        return []
    try:
        families = list(families)
        missing = set(wanted)
        for path in _current_paths(families):
            missing -= _charmap(path)
        if not missing:
            return []
        added, rest = _cover(missing, _candidates(families))
        if rest and not _scanned:
            _scan_new_fonts()
            added, rest = _cover(missing, _candidates(families))
        missing = rest
    except Exception:  # fonts never stop a drawing
        return []
    new = missing - _warned
    if new:
        _warned.update(new)
        sample = "".join(chr(code) for code in sorted(new)[:10]) + ("..." if len(new) > 10 else "")
        warnings.warn("no installed font has the characters %s of the names, so they are drawn "
                      "as boxes; install a font that has them (the Noto fonts cover most "
                      "scripts)" % sample, MissingGlyphsWarning, stacklevel=3)
    return added


def use_fonts_for(texts):
    """Make matplotlib draw the characters of ``texts`` with installed fonts that have them, in
    every figure from now on: adds the fewest families needed after the current ones in
    ``rcParams["font.family"]`` and returns their names."""
    families = list(matplotlib.rcParams["font.family"])
    added = fallbacks_for(texts, families)
    if added:
        matplotlib.rcParams["font.family"] = families + added
    return added


def dress(figure):
    """Give the texts of the figure whose characters their fonts lack installed fonts that have
    them, after their own; the rest of the figure and ``rcParams`` stay as they are."""
    texts = [t for t in figure.findobj(Text) if _drawable(t.get_text())]
    if not texts:
        return
    families = list(matplotlib.rcParams["font.family"])
    added = fallbacks_for([t.get_text() for t in texts], families)
    for text in texts:
        own = list(text.get_fontfamily())
        more = [family for family in added if family not in own]
        if more:
            text.set_fontfamily(own + more)


class _DressedFirst:
    """A figure's method (``draw``, or its canvas's ``get_renderer``) that dresses the figure
    first. A plain object rather than a closure, so that the figure still pickles."""

    def __init__(self, figure, owner, name):
        self.figure, self.owner, self.name = figure, owner, name

    def __call__(self, *args, **kwargs):
        dress(self.figure)
        return getattr(type(self.owner), self.name)(self.owner, *args, **kwargs)


def dress_when_drawn(figure):
    """Have ``dress`` run on the figure before it is measured or drawn, whatever texts it holds
    by then: the package's figure hook, and the views' own figures' (a figure of another kind is
    left alone)."""
    if not isinstance(figure, Figure) or isinstance(vars(figure).get("draw"), _DressedFirst):
        return
    figure.draw = _DressedFirst(figure, figure, "draw")
    canvas = figure.canvas
    if hasattr(canvas, "get_renderer"):
        canvas.get_renderer = _DressedFirst(figure, canvas, "get_renderer")


def texts_of(dataset):
    """What the figures of a dataset write: its feature names, its target and class labels and
    the levels of its categorical features."""
    texts = list(dataset.feature_names) + [str(dataset.target)]
    if dataset.classes is not None:
        texts.extend(str(label) for label in dataset.classes)
    for levels in dataset.categories.values():
        texts.extend(str(level) for level in levels)
    return texts
