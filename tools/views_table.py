"""README's table of views by model family, made from the view table of the tests
(``VIEWS`` in tests/test_experiment_views.py, which calls every view on every family).

    python tools/views_table.py           # rewrite the table in README.md
    python tools/views_table.py --check   # exit 1 when README's table is not the generated one
"""
import argparse
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
README = ROOT / "README.md"
BEGIN = "<!-- views by family: written by tools/views_table.py, do not edit -->"
END = "<!-- end of views by family -->"
# The models of the test experiment that are not named after their family.
FAMILY = {"relu": "reludnn"}


def view_table():
    sys.path.insert(0, str(ROOT / "tests"))
    try:
        import test_experiment_views as table
    finally:
        sys.path.pop(0)
    return table


def cell(outcome, table):
    if outcome == table.DRAW:
        return "draws"
    if outcome == table.SHOW:
        return "table"
    if outcome == table.REFUSE:
        return "refuses"
    return "raises %s" % getattr(outcome, "__name__", outcome)


def render(table=None):
    """The table in Markdown: one row per ``show`` value and the method it reaches."""
    table = table or view_table()
    rows = {}
    for show, _, method, outcome in table.VIEWS:
        methods = sorted({m for m in method.values() if m}) if isinstance(method, dict) else [method]
        label = "`%s` | %s" % (show, ", ".join("`%s`" % m for m in methods))
        # Rows of the same view with other arguments: a family whose outcome differs shows both.
        cells = rows.setdefault(label, [[] for _ in table.MODELS])
        for found, model in zip(cells, table.MODELS):
            text = cell(outcome[model], table)
            if text not in found:
                found.append(text)
    header = ["`show`", "method"] + [FAMILY.get(m, m) for m in table.MODELS]
    lines = ["| %s |" % " | ".join(header), "|%s" % ("---|" * len(header))]
    lines += ["| %s | %s |" % (label, " | ".join(" / ".join(found) for found in cells))
              for label, cells in rows.items()]
    return "\n".join(lines)


def replaced(text, generated):
    start, stop = text.index(BEGIN) + len(BEGIN), text.index(END)
    return text[:start] + "\n" + generated + "\n" + text[stop:]


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args(argv)
    text = README.read_text(encoding="utf-8")
    new = replaced(text, render())
    if args.check:
        return 0 if new == text else 1
    README.write_text(new, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
