// Global importance: the model's feature importance and effect importance, drawn as bars or, for a
// ReLU network, as the parallel-coordinate plot of its local linear models; a linear model's
// coefficients of one group.
#include "views/idioms.h"
#include "views/records.h"
#include "views/views.h"

namespace vexo {

// def fi(self, return_data=False, figsize=(8, 6)):
py::object fi(const Params<3>& args) {
    auto [self, return_data, figsize] = args;
    //     interp_fi = self.experiment.interpret_fi(self.model)
    py::object interp_fi = call({method(self.attr("experiment"_n), "interpret_fi"), self.attr("model"_n)});
    //     interpret_result = {'key': 'fi', 'model': self.model, 'input': None, 'value': interp_fi}
    py::dict interpret_result = record("fi", self.attr("model"_n), py::none(), interp_fi);
    //     InterpretGraph.plot_fi(interpret_result, figsize=figsize)
    call({method(InterpretGraph(), "plot_fi"), interpret_result, kw("figsize", figsize)});
    //     if return_data:
    if (truthy(return_data)) {
        //     out = interpret_result['value']
        py::object out = interpret_result["value"_n];
        //     out.pop('title')
        call({method(out, "pop"), "title"});
        //     return out
        return out;
    }
    return py::none();
}
constexpr Row fi_row{Owner::api, method<fi>("fi", "self, return_data=False, figsize=(8, 6)")};

// @staticmethod
// def plot_fi(interpret_result, max_show=10, figsize=(8, 6)):
py::object plot_fi(const Params<3>& args) {
    auto [interpret_result, max_show_arg, figsize] = args;
    //     hbar = PlotHBar()
    py::object hbar = call({PlotHBar()});
    //     n = len(interpret_result['value']['feature_names'])
    //     max_show = max_show if max_show < n else n
    py::object max_show = at_most(max_show_arg, length(interpret_result["value"_n]["feature_names"_n]));
    //     hbar.plot(X=interpret_result['value']['feature_names'][-max_show:],
    //               height=interpret_result['value']['importance'][-max_show:],
    //               title=interpret_result['value']['title'], figsize=figsize)
    call({method(hbar, "plot"), kw("X", tail(interpret_result["value"_n]["feature_names"_n], max_show)),
          kw("height", tail(interpret_result["value"_n]["importance"_n], max_show)),
          kw("title", interpret_result["value"_n]["title"_n]), kw("figsize", figsize)});
    return py::none();
}
constexpr Row plot_fi_row{Owner::graph, method<plot_fi>("plot_fi", "interpret_result, max_show=10, figsize=(8, 6)")};

namespace {

// The parallel-coordinate plot of plot_ei, which reads `max_show` of the enclosing call:
// def pc_plot(ystd_llms, all_bias_weight, feature_importance, n_features, feature_names,
//             tuple figsize, xlabel_rotation, ylabel):
void pc_plot(py::handle max_show, py::handle ystd_llms, py::handle all_bias_weight, py::handle feature_importance,
             py::handle n_features, py::handle feature_names, py::handle figsize, py::handle xlabel_rotation,
             py::handle ylabel) {
    check_tuple_argument("figsize", figsize);
    //     idx = np.where(ystd_llms > 0)[0]
    py::object idx = call({np().attr("where"_n), compare(ystd_llms, py::int_(0), Py_GT)})[py::int_(0)];
    //     show_idx = np.argsort(feature_importance)[-max_show:][::-1]
    py::object show_idx = reversed(tail(call({np().attr("argsort"_n), feature_importance}), max_show));
    //     if len(idx) == 0: return
    if (py::len(idx) == 0) {
        return;
    }
    //     plt.figure(figsize=figsize)
    with_fonts(call({plt().attr("figure"_n), kw("figsize", figsize)}));
    //     plt.axhline(0, linestyle="--", color="black")
    call({plt().attr("axhline"_n), py::int_(0), kw("linestyle", "--"), kw("color", "black")});
    //     plt.plot(all_bias_weight[idx][:, show_idx + 1].T)
    py::object plot = plt().attr("plot"_n);
    py::object rows = all_bias_weight[idx];
    py::object columns = show_idx + py::int_(1);
    call({plot, rows[py::make_tuple(colon(), columns)].attr("T"_n)});
    //     plt.xticks(np.arange(max_show if max_show < n_features else n_features), np.array(feature_names)[show_idx])
    call({plt().attr("xticks"_n), call({np().attr("arange"_n), at_most(max_show, n_features)}),
          call({np().attr("array"_n), feature_names})[show_idx]});
    //     plt.title("Parallel Coordinate Plot of LLM Coefficients", fontsize=15)
    call({plt().attr("title"_n), "Parallel Coordinate Plot of LLM Coefficients", kw("fontsize", py::int_(15))});
    //     plt.xticks(rotation=xlabel_rotation)
    call({plt().attr("xticks"_n), kw("rotation", xlabel_rotation)});
    //     plt.xlabel("feature, most important first")
    call({plt().attr("xlabel"_n), "feature, most important first"});
    //     plt.ylabel(ylabel)
    call({plt().attr("ylabel"_n), ylabel});
    //     plt.tight_layout()
    call({plt().attr("tight_layout"_n)});
    //     plt.show()
    call({plt().attr("show"_n)});
}

}  // namespace

// def ei(self, figsize=(8, 6)):
py::object ei(const Params<2>& args) {
    auto [self, figsize] = args;
    //     interp_ei = self.experiment.interpret_ei(self.model)
    py::object interp_ei = call({self.attr("experiment"_n).attr("interpret_ei"_n), self.attr("model"_n)});
    //     interpret_result = {'key': 'ei', 'model': self.model, 'input': None, 'value': interp_ei}
    py::dict interpret_result = record("ei", self.attr("model"_n), py::none(), interp_ei);
    //     InterpretGraph.plot_ei(interpret_result, figsize=figsize)
    call({InterpretGraph().attr("plot_ei"_n), interpret_result, kw("figsize", figsize)});
    return py::none();
}
constexpr Row ei_row{Owner::api, method<ei>("ei", "self, figsize=(8, 6)")};

// @staticmethod
// def plot_ei(interpret_result, max_show=10, figsize=(8, 6)):
py::object plot_ei(const Params<3>& args) {
    auto [interpret_result, max_show_arg, figsize] = args;
    py::object v = interpret_result["value"_n];
    //     if v is None or v['type'] == "coefficient":
    //         print("Not supported")
    if (v.is_none() || equals(v["type"_n], "coefficient")) {
        print("Not supported");
        return py::none();
    }
    //     elif v['type'] == "effect":
    if (equals(v["type"_n], "effect")) {
        //     hbar = PlotHBar()
        py::object hbar = call({PlotHBar()});
        //     max_show = max_show if max_show < len(v['value'][0]) else len(v['value'][0])
        py::object max_show = at_most(max_show_arg, length(v["value"_n][py::int_(0)]));
        //     hbar.plot(X=v['value'][0][-max_show:], height=v['value'][1][-max_show:],
        //               title="Effect Importance", figsize=figsize)
        call({hbar.attr("plot"_n), kw("X", tail(v["value"_n][py::int_(0)], max_show)),
              kw("height", tail(v["value"_n][py::int_(1)], max_show)), kw("title", "Effect Importance"),
              kw("figsize", figsize)});
        return py::none();
    }
    //     else:
    //         pc_plot(ystd_llms=v['ystd_llms'], all_bias_weight=v['all_bias_weight'],
    //                 feature_importance=v['feature_importance'], xlabel_rotation=90,
    //                 n_features=v['n_features'], feature_names=v['feature_names'], figsize=figsize,
    //                 ylabel=<what a coefficient is>)
    auto [ystd_llms, all_bias_weight, feature_importance, n_features, feature_names] = entries(
        v, {"ystd_llms"_n, "all_bias_weight"_n, "feature_importance"_n, "n_features"_n, "feature_names"_n});
    pc_plot(max_show_arg, ystd_llms, all_bias_weight, feature_importance, n_features, feature_names, figsize,
            py::int_(90), coefficient_label(v));
    //         plt.show()
    call({plt().attr("show"_n)});
    return py::none();
}
constexpr Row plot_ei_row{Owner::graph, method<plot_ei>("plot_ei", "interpret_result, max_show=10, figsize=(8, 6)")};

// def coef(self, show_feature='Numeric', figsize=(8, 6), original_scale=False):
py::object coef(const Params<4>& args) {
    auto [self, show_feature, figsize, original_scale] = args;
    //     interp_ei = self.experiment.interpret_ei(self.model)
    py::object interp_ei = call({self.attr("experiment"_n).attr("interpret_ei"_n), self.attr("model"_n)});
    //     if original_scale and interp_ei is not None and 'original_scale' in interp_ei:
    //         interp_ei = interp_ei['original_scale']
    // The coefficients per unit of each feature in its own units, where the experiment has them.
    if (truthy(original_scale) && !interp_ei.is_none() && contains(interp_ei, "original_scale"_n)) {
        interp_ei = interp_ei["original_scale"_n];
    }
    //     interpret_result = {'key': 'glm_coef', 'model': self.model, 'input': None, 'value': interp_ei}
    py::dict interpret_result = record("glm_coef", self.attr("model"_n), py::none(), interp_ei);
    //     InterpretGraph.plot_coef(interpret_result, show_feature, figsize=figsize)
    call({InterpretGraph().attr("plot_coef"_n), interpret_result, show_feature, kw("figsize", figsize)});
    return py::none();
}
constexpr Row coef_row{Owner::api, method<coef>("coef", "self, show_feature='Numeric', figsize=(8, 6), original_scale=False")};

// @staticmethod
// def plot_coef(interpret_result, show_feature=None, max_show=10, figsize=(8, 6)):
py::object plot_coef(const Params<4>& args) {
    auto [interpret_result, show_feature, max_show_arg, figsize] = args;
    // A None result fails here with the interpreter's TypeError: it is not subscriptable.
    py::object v = interpret_result["value"_n];
    //     if v['type'] != "coefficient":
    //         print("Not supported")
    if (truthy(compare(v["type"_n], interned("coefficient"), Py_NE))) {
        print("Not supported");
        return py::none();
    }
    //     hbar = PlotHBar()
    py::object hbar = call({PlotHBar()});
    //     ind = np.where(v['feature_hier'] == show_feature)[0]
    py::object ind = call({np().attr("where"_n), compare(v["feature_hier"_n], show_feature, Py_EQ)})[py::int_(0)];
    //     n = np.array(v['feature_names'])[ind].shape[0]
    //     max_show = max_show if max_show < n else n
    py::object n = call({np().attr("array"_n), v["feature_names"_n]})[ind].attr("shape"_n)[py::int_(0)];
    py::object max_show = at_most(max_show_arg, n);
    //     title = "Model Coefficients"
    //     if isinstance(show_feature, str) and 'titles' in v and show_feature in v['titles']:
    //         title = v['titles'][show_feature]
    // The experiment's title of the group is "Model Coefficients" too, and says which group it
    // is and what its coefficients are.
    py::object title = py::str("Model Coefficients");
    if (PyUnicode_Check(show_feature.ptr()) && contains(v, "titles"_n)) {
        py::object titles = v["titles"_n];
        if (contains(titles, show_feature)) {
            title = titles[show_feature];
        }
    }
    //     hbar.plot(X=np.array(v['feature_names'])[ind][-max_show:],
    //               height=np.array(v['importance'])[ind][-max_show:],
    //               title=title, figsize=figsize)
    call({hbar.attr("plot"_n), kw("X", tail(call({np().attr("array"_n), v["feature_names"_n]})[ind], max_show)),
          kw("height", tail(call({np().attr("array"_n), v["importance"_n]})[ind], max_show)),
          kw("title", title), kw("figsize", figsize)});
    return py::none();
}
constexpr Row plot_coef_row{Owner::graph, method<plot_coef>("plot_coef", "interpret_result, show_feature=None, max_show=10, figsize=(8, 6)")};

// The rows of this unit's methods, in their order in the two classes.
Rows global_importance_rows() { return {fi_row, ei_row, coef_row, plot_fi_row, plot_coef_row, plot_ei_row}; }

}  // namespace vexo
