"""The gallery's page: one section per family with its figures, tables and errors, in the page
template ``page.html``.
"""
import html
import os
import string

from .command import one_line
from .folder import PAGE, write_text


SUMMARY_ROWS = 30


def refused(entry):
    return bool(entry.printed) and not (entry.files or entry.error or entry.table is not None)


def entry_html(model, entry):
    e = html.escape
    # a column's name may hold control characters, which a page cannot show
    title, parts = one_line(entry.title), []
    for name in entry.files:
        # "2x": the browser shows the PNG at half its pixel size, sharp on any screen
        parts.append('<a href="%s"><img src="%s" srcset="%s 2x" alt="%s"></a>' % (
            e(name), e(name), e(name), e("%s: %s" % (model, title))))
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
    wide = (entry.files and entry.view.show in ("tree_global", "tree_local")
            or entry.table is not None)
    wide = ' class="wide"' if wide else ""
    return '<figure id="%s-%s"%s><figcaption>%s</figcaption>%s</figure>' % (
        e(model), e(entry.view.slug), wide, e(title), "\n".join(parts))


def write_gallery(out, title, summary, sections, notes=()):
    e = html.escape
    # the data's name may be a file name that is not UTF-8; the notes name columns
    title, summary, notes = one_line(title), one_line(summary), [one_line(n) for n in notes]
    body = ["<h1>%s</h1>" % e(title), "<p>%s</p>" % e(summary)]
    if notes:
        body.append('<ul class="notes">%s</ul>' % "".join("<li>%s</li>" % e(n) for n in notes))
    body.append("<nav>%s</nav>" % "".join('<a href="#%s">%s</a>' % (e(s.model), e(s.model))
                                          for s in sections))
    for model, estimator, entries, failed_step, error in sections:
        if error:
            failure = '<p class="error">Failed while %s: %s</p>' % (e(failed_step), e(error))
            body.append('<section id="%s"><h2>%s <small>%s</small></h2>%s</section>'
                        % (e(model), e(model), e(estimator), failure))
            continue
        # What the model draws, then, compactly, the views that refuse it with their message.
        shown = [entry_html(model, entry) for entry in entries if not refused(entry)]
        refusals = [entry_html(model, entry) for entry in entries if refused(entry)]
        refusals = ('<h3>Views that refuse this model</h3><div class="refusals">%s</div>'
                    % "\n".join(refusals)) if refusals else ""
        body.append('<section id="%s"><h2>%s <small>%s</small></h2><div class="views">%s</div>'
                    '%s</section>' % (e(model), e(model), e(estimator), "\n".join(shown), refusals))
    page = page_template().substitute(title=e(title), body="\n".join(body))
    path = os.path.join(out, PAGE)
    write_text(path, page)
    return path


def page_template():
    """The page around the sections, with its style sheet: ``page.html`` beside this module,
    whose ``$title`` and ``$body`` the gallery fills in."""
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "page.html"),
              encoding="utf-8") as handle:
        return string.Template(handle.read())
