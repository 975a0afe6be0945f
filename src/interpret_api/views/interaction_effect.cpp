// The interaction effect of a feature pair and its plot; each family with a pair view builds and
// draws its own record (families/<name>.cpp).
#include "views/effects.h"
#include "views/families/rows.h"
#include "views/idioms.h"
#include "views/records.h"
#include "views/views.h"

#include <optional>

namespace vexo {

// def interaction_effect(self, feature0, feature1=None, original_scale=False, figsize=(8, 6)):
py::object interaction_effect(const Params<5>& args) {
    auto [self, feature0, feature1, original_scale, figsize] = args;
    //     if feature0 == "None":
    //         print("No interaction effect")
    //         return
    if (equals(feature0, "None")) {
        print("No interaction effect");
        return py::none();
    }
    //     exp = self.experiment.get_interpret(self.model)
    py::object exp = call({method(self.attr("experiment"_n), "get_interpret"), self.attr("model"_n)});
    //     feature_combine_01 = feature0 + " x " + feature1
    py::object feature_combine_01 = pair_name(feature0, feature1);
    //     feature_combine_10 = feature1 + " x " + feature0
    py::object feature_combine_10 = pair_name(feature1, feature0);
    py::dict interpret_result;

    //     if <boosting machine>: ... elif <GAMI network>: ... elif <ReLU network>: ...
    //         interpret_result = <the family's record of the pair>, or return where it has no such pair
    if (const FamilyRow* family = family_of(self, &FamilyRow::interaction_effect)) {
        std::optional<py::dict> r = family->interaction_effect(
            {self, exp, feature0, feature1, feature_combine_01, feature_combine_10, original_scale});
        if (!r) {
            return py::none();
        }
        interpret_result = *r;
    } else {
        //     else:
        //         interpret_result = {..., 'model_type': 'others', 'input': {'feature_combine': None},
        //                             'value': None, 'scaler': None}
        py::dict input;
        input["feature_combine"_n] = py::none();
        interpret_result = effect_record("interaction_effect", self.attr("model"_n), self, kOthers, input, py::none(),
                                         py::bool_(false));
    }
    //     InterpretGraph.plot_interaction_effect(interpret_result, figsize=figsize)
    call({method(InterpretGraph(), "plot_interaction_effect"), interpret_result, kw("figsize", figsize)});
    return py::none();
}
constexpr Row interaction_effect_row{Owner::api, method<interaction_effect>("interaction_effect", "self, feature0, feature1=None, original_scale=False, figsize=(8, 6)")};

namespace {

// The body of plot_interaction_effect below its refusal of a record without a value.
void draw_interaction_effect(py::handle interpret_result, py::handle scaler, py::handle figsize) {
    //     try:
    //         if interpret_result['input']['feature_combine'] == "None":
    //             print("No interaction effect")
    //             return
    //     except Exception:
    //         pass
    bool no_pair = false;
    try_except_pass([&] { no_pair = equals(interpret_result["input"_n]["feature_combine"_n], "None"); });
    if (no_pair) {
        print("No interaction effect");
        return;
    }
    //     model_type = interpret_result['model_type']
    py::object model_type = interpret_result["model_type"_n];
    //     if model_type == 'ebm': ... elif model_type == 'gami': ... elif model_type == 'reludnn': ...:
    //     the family's drawing; any other model_type draws nothing
    if (const FamilyRow* family = family_named(model_type, &FamilyRow::plot_interaction_effect)) {
        family->plot_interaction_effect(interpret_result, scaler, figsize);
    }
}

}  // namespace

// @staticmethod
// def plot_interaction_effect(interpret_result, figsize=(8, 6)):
py::object plot_interaction_effect(const Params<2>& args) { return effect_plot(args, draw_interaction_effect); }
constexpr Row plot_interaction_effect_row{Owner::graph, method<plot_interaction_effect>("plot_interaction_effect", "interpret_result, figsize=(8, 6)")};

// The rows of this unit's methods, in their order in the two classes.
Rows interaction_effect_rows() { return {interaction_effect_row, plot_interaction_effect_row}; }

}  // namespace vexo
