"""examples/tour.ipynb runs in a real kernel under MPLBACKEND=Agg and shows every figure and table."""

import base64
import io
import os
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


# Appended to the notebook: the backend that the kernel ended with and whether the package's look is in force.
CHECK = ("import matplotlib as mpl\nfrom vexo.workflow import look\nnow = dict(mpl.rcParams)\n"
         "with look.context():\n    print(mpl.get_backend(), dict(mpl.rcParams) == now)")


@pytest.fixture(scope="module")
def executed(tmp_path_factory):
    notebook = nbformat.read(NOTEBOOK, as_version=4)
    notebook.cells.append(nbformat.v4.new_code_cell(CHECK, metadata={"tags": ["check"]}))
    # Run outside the checkout, whose source folder would hide the installed compiled module.
    cwd = tmp_path_factory.mktemp("notebook")
    client = nbclient.NotebookClient(notebook, timeout=300, kernel_name="python3",
                                     resources={"metadata": {"path": str(cwd)}})
    # as containers often export it: a notebook that leaves the backend to it shows no figure
    client.execute(env=dict(os.environ, MPLBACKEND="Agg"))
    return notebook


def test_every_drawing_cell_shows_one_png_the_summary_a_table_the_refusal_its_text(executed):
    [printed] = [out["text"] for out in tagged(executed, "check")[0].outputs if out.output_type == "stream"]
    assert "inline" in printed and printed.split()[-1] == "True", printed
    cells = tagged(executed, "draws")
    assert len(cells) >= 10
    for cell in cells:
        [image] = [out["data"]["image/png"] for out in cell.outputs if "image/png" in out.get("data", {})]
        pixels = mpimg.imread(io.BytesIO(base64.b64decode(image)))
        assert (pixels[..., :3].min(axis=2) < 0.9).mean() > 0.01, cell.source
        assert "Not supported" not in "".join(out.get("text", "") for out in cell.outputs), cell.source
    [page] = [out["data"]["text/html"] for out in tagged(executed, "table")[0].outputs if "text/html" in out.get("data", {})]
    assert "<table" in page and "Count" in page
    assert [out.get("text") for out in tagged(executed, "refuses")[0].outputs] == ["Not supported\n"]
