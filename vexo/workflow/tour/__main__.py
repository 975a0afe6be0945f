"""``python -m vexo.workflow.tour``: the ``vexo-tour`` command."""
import sys

from . import main

sys.exit(main())
