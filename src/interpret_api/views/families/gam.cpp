// The spline GAM: main effects only, as the explainer's "effect" entry holds them; it has no pair
// view (its records of a pair are the "others" one).
#include "views/families/family.h"
#include "views/families/rows.h"
#include "views/idioms.h"

namespace vexo {

namespace {

// elif <GAM>:
py::object gam_main_effect(py::handle /*self*/, py::handle exp, py::object& feature) {
    //     item = deepcopy(exp['effect'][feature])
    py::object item = call({deepcopy(), exp["effect"_n][feature]});
    //     value = {'feature': feature, 'feature_type': item['feature_type'], 'output': item}
    return effect_value(feature, item["feature_type"_n], {}, item);
}

// elif model_type == 'gam':
//     categorical: importance=output['feature_importance'], categories=output['inputs'],
//         height=output['outputs'], density_names=output['inputs']
//     continuous: importance=output['feature_importance'], xgrid=output['inputs'], ygrid=output['outputs']
constexpr EffectLayout kGamEffect{{In::output, "feature_importance"}, {In::output, "inputs"}, {In::output, "outputs"},
                                  {In::output, "inputs"},             false,                  {In::output, "inputs"},
                                  {In::output, "outputs"},            false};

void gam_plot_main_effect(py::handle main_effect_plot, py::handle value, py::handle scaler, py::handle figsize) {
    plot_additive_effect(kGamEffect, main_effect_plot, value, scaler, figsize);
}

}  // namespace

const FamilyRow kGam{"gam", {"GAMRegressor", "GAMClassifier"}, gam_main_effect, gam_plot_main_effect, nullptr, nullptr};

}  // namespace vexo
