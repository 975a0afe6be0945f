"""README's pictures: the boosting machine's main effect of the body-mass index on scikit-learn's
diabetes data, and that feature's effect in a model of every family, drawn as the tour draws
them (in the package's look, at the gallery's resolution).

    python tools/readme_picture.py     # rewrites docs/ebm-main-effect-bmi.png and
                                       # docs/compare-effects-bmi.png
"""
import os
import shutil
import sys
import tempfile
from pathlib import Path

import matplotlib

ROOT = Path(__file__).resolve().parent.parent
PICTURE = ROOT / "docs" / "ebm-main-effect-bmi.png"
COMPARED = ROOT / "docs" / "compare-effects-bmi.png"
FEATURE = "bmi"


def main():
    matplotlib.use("Agg")
    from vexo.workflow import tour
    from vexo.workflow.interpret_api import InterpretAPI

    args = tour.parse_args(["--data", "diabetes"])
    _, frame, target = tour.load_table(args)
    experiment = tour.make_experiment(frame, target, args.task, args.seed)
    for family in tour.model_families():
        experiment.register(family, family)
    view = next(v for v in tour.VIEWS if v.slug == "main-effect-original")
    choices = tour.Choices(FEATURE, (FEATURE, FEATURE), (FEATURE, FEATURE), 0)
    with tempfile.TemporaryDirectory() as out:
        entry = tour.run_view(InterpretAPI(experiment, "ebm"), "ebm", view, choices, out)
        if entry.error or len(entry.files) != 1:
            print("the view did not draw one figure: %s" % (entry.error or entry.printed),
                  file=sys.stderr)
            return 1
        shutil.copyfile(os.path.join(out, entry.files[0]), str(PICTURE))
        files, _, error = tour.views.drawn(lambda: experiment.compare_effects(FEATURE), out,
                                           "compared")
        if error or len(files) != 1:
            print("the comparison did not draw one figure: %s" % error, file=sys.stderr)
            return 1
        shutil.copyfile(os.path.join(out, files[0]), str(COMPARED))
    print(PICTURE.relative_to(ROOT), COMPARED.relative_to(ROOT))
    return 0


if __name__ == "__main__":
    sys.exit(main())
