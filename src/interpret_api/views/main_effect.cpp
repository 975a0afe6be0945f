// The main effect of one feature and its plot; each family builds and draws its own value
// (families/<name>.cpp).
#include "views/effects.h"
#include "views/families/rows.h"
#include "views/idioms.h"
#include "views/records.h"
#include "views/views.h"

namespace vexo {

// def main_effect(self, feature, original_scale=False, figsize=(8, 6)):
py::object main_effect(const Params<4>& args) {
    auto [self, feature_arg, original_scale, figsize] = args;
    py::object feature = py::reinterpret_borrow<py::object>(feature_arg);
    //     exp = self.experiment.get_interpret(self.model)
    py::object exp = call({method(self.attr("experiment"_n), "get_interpret"), self.attr("model"_n)});
    //     if <boosting machine>: ... elif <GAMI network>: ... elif <ReLU network>: ... elif <GAM>: ...
    //         model_type, value = <the family's name>, <its value of the feature>
    //     else:
    //         model_type, value = 'others', None
    Name model_type = kOthers;
    py::object value = py::none();
    if (const FamilyRow* family = family_of(self, &FamilyRow::main_effect)) {
        model_type = family->name;
        value = family->main_effect(self, exp, feature);
    }
    //     interpret_result = {'key': 'main_effect', 'model': self.model, 'model_type': model_type,
    //                         'input': {'feature': feature}, 'value': value, 'scaler': ...}
    py::dict input;
    input["feature"_n] = feature;
    py::dict interpret_result =
        effect_record("main_effect", self.attr("model"_n), self, model_type, input, value, original_scale);
    //     InterpretGraph.plot_main_effect(interpret_result, figsize=figsize)
    call({method(InterpretGraph(), "plot_main_effect"), interpret_result, kw("figsize", figsize)});
    return py::none();
}
constexpr Row main_effect_row{Owner::api, method<main_effect>("main_effect", "self, feature, original_scale=False, figsize=(8, 6)")};

namespace {

// The body of plot_main_effect below its refusal of a record without a value.
void draw_main_effect(py::handle interpret_result, py::handle scaler, py::handle figsize) {
    //     value = interpret_result['value']
    py::object value = interpret_result["value"_n];
    //     main_effect_plot = PlotEffect(feature=value['feature'])
    py::object main_effect_plot = call({PlotEffect(), kw("feature", value["feature"_n])});
    //     model_type = interpret_result['model_type']
    py::object model_type = interpret_result["model_type"_n];
    //     if model_type == 'ebm': ... elif model_type == 'gami': ... elif model_type == 'reludnn': ...
    //     elif model_type == 'gam': ...: the family's drawing; any other model_type draws nothing
    if (const FamilyRow* family = family_named(model_type, &FamilyRow::plot_main_effect)) {
        family->plot_main_effect(main_effect_plot, value, scaler, figsize);
    }
}

}  // namespace

// @staticmethod
// def plot_main_effect(interpret_result, figsize=(8, 6)):
py::object plot_main_effect(const Params<2>& args) { return effect_plot(args, draw_main_effect); }
constexpr Row plot_main_effect_row{Owner::graph, method<plot_main_effect>("plot_main_effect", "interpret_result, figsize=(8, 6)")};

// The rows of this unit's methods, in their order in the two classes.
Rows main_effect_rows() { return {main_effect_row, plot_main_effect_row}; }

}  // namespace vexo
