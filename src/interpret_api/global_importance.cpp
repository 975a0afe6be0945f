// Global importance: the model's feature importance, drawn as bars.
#include "interpret_api.h"

namespace vexo {

namespace {

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

}  // namespace

Rows global_importance_rows() {
    return {
        {method<fi>("fi", "self, return_data=False, figsize=(8, 6)")},
        {method<plot_fi>("plot_fi", "interpret_result, max_show=10, figsize=(8, 6)")},
    };
}

}  // namespace vexo
