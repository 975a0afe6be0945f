"""vexo: a machine-learning experiment workflow."""
