"""The estimators of our own families, scikit-learn compatible, on the experiment's input matrix:
``gam`` (penalised spline GAMs, with screened pairs in ``GAMINet*``) and ``relu_dnn`` (ReLU
networks whose every prediction is a local linear model)."""
