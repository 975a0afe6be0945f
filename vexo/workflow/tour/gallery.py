"""The gallery's page, in the page template ``page.html``: the comparison of the families (a
table of every family's scores on the test split, their importance ranks side by side and the
effects of their most important features on one axis), then one section per family with its
scores, its figures, tables and errors and a line naming the views that it does not offer; a
bar of links to every section stays at the top of the window.
"""
import html
import os
import string
import struct

from ..experiment.scores import better, format_score
from .command import one_line
from .folder import PAGE, write_text
from .views import NO_COEFFICIENTS


SUMMARY_ROWS = 30


def refused(entry):
    return bool(entry.printed) and not (entry.files or entry.error or entry.table is not None)


def picture_size(path):
    """A PNG file's width and height in pixels, from its header; None for any other file."""
    try:
        with open(path, "rb") as handle:
            head = handle.read(24)
    except OSError:
        return None
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


def entry_html(model, entry, folder=None):
    e = html.escape
    # a column's name may hold control characters, which a page cannot show
    title, parts = one_line(entry.title), []
    for name in entry.files:
        # "2x": the browser shows the PNG at half its pixel size, sharp on any screen; that size
        # written out keeps its place while it loads (no jump under a link just followed) and
        # holds in every browser, which may otherwise take the file for the 1x one of "src"
        size = picture_size(os.path.join(folder, name)) if folder else None
        size = ' width="%d" height="%d"' % tuple((n + 1) // 2 for n in size) if size else ""
        parts.append('<a href="%s"><img src="%s" srcset="%s 2x"%s alt="%s"></a>' % (
            e(name), e(name), e(name), size, e("%s: %s" % (model, title))))
    if entry.table is not None:
        table = entry.table
        if len(table) > SUMMARY_ROWS:
            parts.append("<p>The first %d of %d rows.</p>" % (SUMMARY_ROWS, len(table)))
            table = table.head(SUMMARY_ROWS)
        parts.append('<div class="table">%s</div>'
                     % table.to_html(border=0, float_format=lambda v: "%.4g" % v))
    if entry.error:
        parts.append('<p class="error">%s</p>' % e(entry.error))
    elif refused(entry):
        parts.append('<p class="refused">%s</p>' % e(one_line(entry.printed)))
    if not parts:
        parts.append('<p class="refused">Nothing drawn.</p>')
    # trees and tables take a row of the grid of their own
    wide = (entry.files and entry.view.method in ("get_tree", "get_local_tree")
            or entry.table is not None)
    wide = ' class="wide"' if wide else ""
    return '<figure id="%s-%s"%s><figcaption>%s</figcaption>%s</figure>' % (
        e(model), e(entry.view.slug), wide, e(title), "\n".join(parts))


# What a view prints when it does not draw this family's models, and the tour's word for the
# coefficients of a model that has none; the page lists those views in one line per family.
NOT_OFFERED = ("Not supported", NO_COEFFICIENTS)


def write_gallery(out, title, summary, sections, notes=(), comparison=()):
    e = html.escape
    # the data's name may be a file name that is not UTF-8; the notes name columns
    title, summary, notes = one_line(title), one_line(summary), [one_line(n) for n in notes]
    body = ['<header id="top"><h1>%s</h1><p>%s</p>' % (e(title), e(summary))]
    if notes:
        body.append('<ul class="notes">%s</ul>' % "".join("<li>%s</li>" % e(n) for n in notes))
    body.append("</header>")
    # a bar that stays at the top of the window, whichever section is read
    body.append('<nav><a href="#top">Top</a><a href="#compare">Compare</a>%s</nav>' % "".join(
        '<a href="#%s">%s</a>' % (e(s.model), e(s.model)) for s in sections))
    body.append(compare_html(sections, comparison, out))
    body.extend(section_html(section, out) for section in sections)
    page = page_template().substitute(title=e(title), body="\n".join(body))
    path = os.path.join(out, PAGE)
    write_text(path, page)
    return path


def compare_html(sections, comparison, folder=None):
    """The families side by side: their scores, their importance ranks, the effects of their
    most important features (their pictures in ``folder``)."""
    shown = "\n".join(entry_html("compare", entry, folder) for entry in comparison)
    return ('<section id="compare"><h2>Compare<a class="up" href="#top">back to top</a></h2>'
            '%s%s</section>' % (scores_table(sections),
                                '<div class="views">%s</div>' % shown if shown else ""))


def section_html(section, folder=None):
    """One family: its heading, its scores, what it draws (its pictures in ``folder``), then in
    a line or two the views that it does not offer."""
    e = html.escape
    model = section.model
    heading = ('<h2>%s <small>%s</small><a class="up" href="#top">back to top</a></h2>'
               % (e(model), e(one_line(section.estimator))))
    if section.error:
        failure = '<p class="error">Failed while %s: %s</p>' % (
            e(section.failed_step), e(one_line(section.error)))
        return '<section id="%s">%s%s</section>' % (e(model), heading, failure)
    shown = [entry_html(model, entry, folder) for entry in section.entries if not refused(entry)]
    return '<section id="%s">%s%s<div class="views">%s</div>%s</section>' % (
        e(model), heading, score_line(section.scores) if section.scores else "", "\n".join(shown),
        refusals_html(model, [entry for entry in section.entries if refused(entry)]))


def refusals_html(model, entries):
    """The views that refuse the model: those that the family does not offer in one line,
    named by their titles, each other refusal in a line with its message. Each title keeps
    the anchor that the view's figure would have."""
    e = html.escape

    def named(entry):
        return '<span id="%s-%s">%s</span>' % (e(model), e(entry.view.slug),
                                               e(one_line(entry.title)))

    def message(entry):
        return one_line(entry.printed.splitlines()[-1])

    absent = [named(entry) for entry in entries if message(entry) in NOT_OFFERED]
    lines = ['<p class="not-offered">Not offered for this family: %s.</p>' % ", ".join(absent)
             ] if absent else []
    lines.extend('<p class="refused">%s: %s</p>' % (named(entry), e(message(entry)))
                 for entry in entries if message(entry) not in NOT_OFFERED)
    return '<div class="refusals">%s</div>' % "\n".join(lines) if lines else ""


def score_line(scores):
    """The family's scores on the test split beside the baseline's, and a warning where the
    model does no better."""
    e = html.escape
    framing = ", " + one_line(scores.explained) if scores.explained else ""
    line = ('<p class="score">Test split (%d rows%s): <b>%s</b>. Baseline (%s): %s.'
            % (scores.rows, e(framing), e(scores.model_text()), e(one_line(scores.baseline)),
               e(scores.baseline_text())))
    if not scores.beats_baseline:
        line += (' <span class="weak">No better than the baseline: its explanations describe '
                 'a model that has not learnt the target.</span>')
    return line + "</p>"


def scores_table(sections):
    """Every family's scores on the test split in one table, the baseline's in its last row."""
    e = html.escape
    scored = [s.scores for s in sections if s.scores is not None]
    first = scored[0] if scored else None
    columns = ["Scores"] if first is None else [score.name for score in first.metrics]
    rows = []
    for section in sections:
        cells = ['<td><a href="#%s">%s</a></td><td>%s</td>'
                 % (e(section.model), e(section.model), e(one_line(section.estimator)))]
        if section.scores is None:
            cells.append('<td colspan="%d" class="weak">%s</td>' % (len(columns), e(
                "failed while " + section.failed_step if section.failed_step else "not scored")))
        else:
            # a score that is no better than the baseline's stands out
            cells.extend('<td%s>%s</td>' % ("" if better(s) else ' class="weak"',
                                            format_score(s.key, s.model))
                         for s in section.scores.metrics)
        rows.append("<tr>%s</tr>" % "".join(cells))
    caption = "The families' scores on the test split."
    if first is not None:
        rows.append('<tr class="baseline"><td>baseline</td><td>%s</td>%s</tr>' % (
            e(one_line(first.baseline)), "".join(
                "<td>%s</td>" % format_score(s.key, s.baseline) for s in first.metrics)))
        framing = " Each classifies %s." % one_line(first.explained) if first.explained else ""
        caption = ("The families' scores on the %d rows of the test split, beside a baseline "
                   "that ignores the features (in red: no better than the baseline).%s"
                   % (first.rows, framing))
    head = "".join("<th>%s</th>" % e(name) for name in ["Family", "Model"] + columns)
    return ('<div id="scores"><p>%s</p><table class="scores"><thead><tr>%s</tr></thead>'
            '<tbody>%s</tbody></table></div>' % (e(caption), head, "\n".join(rows)))


def page_template():
    """The page around the sections, with its style sheet: ``page.html`` beside this module,
    whose ``$title`` and ``$body`` the gallery fills in."""
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "page.html"),
              encoding="utf-8") as handle:
        return string.Template(handle.read())
