"""The views as the same lines of Python: the order oracle of the tests and the call benchmark's baseline."""

PYTHON = '''
def init(self, experiment=None, model=''):
    self.experiment = experiment
    self.model = model
    self.pipeline = experiment.registered_pipeline[self.model]
    if self.model not in self.experiment.interpret_result_dict.keys():
        self.experiment.interpret_single(self.model)

def fi(self, return_data=False, figsize=(8, 6)):
    interp_fi = self.experiment.interpret_fi(self.model)
    interpret_result = {'key': 'fi', 'model': self.model, 'input': None, 'value': interp_fi}
    InterpretGraph.plot_fi(interpret_result, figsize=figsize)
    if return_data:
        out = interpret_result['value']
        out.pop('title')
        return out

def plot_fi(interpret_result, max_show=10, figsize=(8, 6)):
    hbar = PlotHBar()
    n = len(interpret_result['value']['feature_names'])
    max_show = max_show if max_show < n else n
    hbar.plot(X=interpret_result['value']['feature_names'][-max_show:],
              height=interpret_result['value']['importance'][-max_show:],
              title=interpret_result['value']['title'], figsize=figsize)

def model_interpret(self, show=None, uni_feature=None, bi_features=None, sample_id=0, return_data=False,
                    root=0, depth=3, centered=True, original_scale=False, figsize=(8, 6)):
    if show == "global_fi":
        res = self.fi(return_data=return_data, figsize=figsize)
        if return_data:
            return res
    elif show == "global_ei":
        if self.pipeline.estimator.__class__.__name__ in ("ReluDNNRegressor", "ReluDNNClassifier"):
            print("Not supported")
        else:
            self.ei(figsize=figsize)
    elif show == "global_effect_plot":
        if bi_features is None:
            self.main_effect(uni_feature, original_scale=original_scale, figsize=figsize)
        elif uni_feature is None:
            self.interaction_effect(bi_features[0], bi_features[1], original_scale=original_scale, figsize=figsize)
        else:
            print("Cannot input both uni_feature and bi_features")
    elif show == "local_fi":
        res = self.fi_local(sample_id, centered=centered, return_data=return_data,
                            original_scale=original_scale, figsize=figsize)
        if return_data:
            return res
    elif show == "local_ei":
        self.ei_local(sample_id, original_scale=original_scale, figsize=figsize)
    elif show == "llm_summary":
        self.llm_df()
    elif show == "llm_violin":
        self.llm_violin()
    elif show == "llm_pc":
        if self.pipeline.estimator.__class__.__name__ not in ("ReluDNNRegressor", "ReluDNNClassifier"):
            print("Not supported")
        else:
            self.ei(figsize=figsize)
    elif show == "tree_global":
        self.get_tree(root, depth, original_scale=original_scale)
    elif show == "tree_local":
        self.get_local_tree(sample_id, original_scale=original_scale)
    elif show == "glm_coef":
        self.coef(uni_feature, original_scale=original_scale)
'''


def python_views(**module_globals):
    """The functions of PYTHON, run with `module_globals` (InterpretGraph, PlotHBar, print, ...)."""
    namespace = dict(module_globals)
    exec(PYTHON, namespace)
    return namespace
