"""The experiment workflow: experiments, their plots and the interpretation of their models.

The modules are imported on demand, so that importing the package stays light:
``from vexo.workflow.interpret_api import InterpretAPI, InterpretGraph``.
"""
