"""examples/tour.ipynb runs top to bottom in a real Jupyter kernel: every drawing cell shows a
PNG, the summary cell an HTML table, the refusing cell its text."""

import base64
import io
from pathlib import Path

import matplotlib.image as mpimg
import pytest

nbformat = pytest.importorskip("nbformat")
nbclient = pytest.importorskip("nbclient")
pytest.importorskip("ipykernel")
pytest.importorskip("vexo.workflow.interpret_api")

NOTEBOOK = Path(__file__).resolve().parent.parent / "examples" / "tour.ipynb"


def tagged(notebook, tag):
    return [cell for cell in notebook.cells if tag in cell.metadata.get("tags", ())]


@pytest.fixture(scope="module")
def executed(tmp_path_factory):
    notebook = nbformat.read(NOTEBOOK, as_version=4)
    # Run outside the checkout, whose source folder would hide the installed compiled module.
    cwd = tmp_path_factory.mktemp("notebook")
    client = nbclient.NotebookClient(notebook, timeout=300, kernel_name="python3",
                                     resources={"metadata": {"path": str(cwd)}})
    client.execute()
    return notebook


def test_every_drawing_cell_shows_one_png(executed):
    cells = tagged(executed, "draws")
    assert len(cells) >= 10
    for cell in cells:
        images = [out for out in cell.outputs if "image/png" in out.get("data", {})]
        assert len(images) == 1, cell.source
        pixels = mpimg.imread(io.BytesIO(base64.b64decode(images[0]["data"]["image/png"])))
        assert (pixels[..., :3].min(axis=2) < 0.9).mean() > 0.01, cell.source
        printed = "".join(out.get("text", "") for out in cell.outputs if out.output_type == "stream")
        assert "Not supported" not in printed, cell.source


def test_the_summary_cell_shows_an_html_table_and_the_refusal_its_text(executed):
    [summary] = tagged(executed, "table")
    pages = [out["data"]["text/html"] for out in summary.outputs if "text/html" in out.get("data", {})]
    assert len(pages) == 1 and "<table" in pages[0] and "Count" in pages[0]
    [refusal] = tagged(executed, "refuses")
    assert [out.get("text") for out in refusal.outputs] == ["Not supported\n"]
