"""README stays true: its commands, its committed picture and its table of views by family."""

import importlib.util
import re
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
README = (ROOT / "README.md").read_text(encoding="utf-8")


def test_the_top_gives_exactly_the_tour_command_and_the_command_that_ci_runs_and_small_pictures():
    commands = re.findall(r"```sh\n(.*?)\n```", README.split("\n## ", 1)[0], re.S)
    assert commands == ["pip install . && vexo-tour", (ROOT / ".ci" / "run").read_text().strip().splitlines()[-1]]
    pictures = re.findall(r"!\[[^\]]*\]\((docs/[^)]+\.png)\)", README)
    assert pictures and all(0 < (ROOT / p).stat().st_size < 150_000 for p in pictures)


def test_the_table_of_views_by_family_is_the_generated_one():
    pytest.importorskip("vexo.workflow.interpret_api")
    spec = importlib.util.spec_from_file_location("views_table", ROOT / "tools" / "views_table.py")
    views_table = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(views_table)
    generated = views_table.replaced(README, views_table.render())
    assert generated == README, "README's table is stale: run python tools/views_table.py"


def test_the_api_tour_runs_as_written(tmp_path, monkeypatch, capsys):
    pytest.importorskip("vexo.workflow.interpret_api")
    tour = "\n".join(re.findall(r"```python\n(.*?)\n```", README, re.S))
    monkeypatch.chdir(tmp_path)
    namespace = {}
    exec(compile(tour, "README.md", "exec"), namespace)
    assert sorted(namespace["table"]) == ["feature_names", "importance"]
    assert (tmp_path / "importance.png").stat().st_size > 10_000
    assert "Not supported" not in capsys.readouterr().out
