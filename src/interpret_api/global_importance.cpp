// Global importance: the model's feature importance, drawn as bars.
#include "interpret_api.h"

namespace vexo {

using namespace pybind11::literals;

// def fi(self, return_data=False, figsize=(8, 6)):
py::object fi(const Args& args) {
    auto [self, return_data, figsize] = args.unpack<3>();
    //     interp_fi = self.experiment.interpret_fi(self.model)
    py::object interp_fi = self.attr("experiment"_n).attr("interpret_fi"_n)(self.attr("model"_n));
    //     interpret_result = {'key': 'fi', 'model': self.model, 'input': None, 'value': interp_fi}
    py::dict interpret_result = record("fi", self.attr("model"_n), py::none(), interp_fi);
    //     InterpretGraph.plot_fi(interpret_result, figsize=figsize)
    InterpretGraph().attr("plot_fi"_n)(interpret_result, "figsize"_a = figsize);
    //     if return_data:
    //         out = interpret_result['value']
    //         out.pop('title')
    //         return out
    if (truthy(return_data)) {
        py::object out = interpret_result["value"_n];
        out.attr("pop"_n)("title"_n);
        return out;
    }
    return py::none();
}

// @staticmethod
// def plot_fi(interpret_result, max_show=10, figsize=(8, 6)):
py::object plot_fi(const Args& args) {
    auto [interpret_result, max_show_arg, figsize] = args.unpack<3>();
    //     hbar = PlotHBar()
    py::object hbar = PlotHBar()();
    //     max_show = max_show if max_show < len(...['feature_names']) else len(...['feature_names'])
    py::object value = interpret_result["value"_n];
    py::object max_show = at_most(max_show_arg, length(value["feature_names"_n]));
    //     hbar.plot(X=...['feature_names'][-max_show:], height=...['importance'][-max_show:],
    //               title=...['title'], figsize=figsize)
    hbar.attr("plot"_n)("X"_a = tail(value["feature_names"_n], max_show),
                      "height"_a = tail(value["importance"_n], max_show), "title"_a = value["title"_n],
                      "figsize"_a = figsize);
    return py::none();
}

}  // namespace vexo
