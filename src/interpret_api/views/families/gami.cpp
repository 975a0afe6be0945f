// The GAMI network: the main effect and the pairs as the explainer holds them.
#include "views/effects.h"
#include "views/families/family.h"
#include "views/families/rows.h"
#include "views/idioms.h"

namespace vexo {

namespace {

// elif <GAMI network>:
py::object gami_main_effect(py::handle /*self*/, py::handle exp, py::object& feature) {
    //     item = deepcopy(exp[feature])
    py::object item = call({deepcopy(), exp[feature]});
    //     value = {'feature': feature, 'feature_type': item['type'], 'output': item}
    return effect_value(feature, item["type"_n], {}, item);
}

// elif model_type == 'gami':
//     categorical: importance=output['importance'], categories=output['inputs'],
//         height=output['outputs'], density_names=output['density']['names'],
//         xticks=output['input_ticks'], xticks_label=output['input_labels']
//     continuous: importance=output['importance'], xgrid=output['inputs'], ygrid=output['outputs']
constexpr EffectLayout kGamiEffect{{In::output, "importance"}, {In::output, "inputs"}, {In::output, "outputs"},
                                   {In::density, "names"},     true,                   {In::output, "inputs"},
                                   {In::output, "outputs"},    false};

void gami_plot_main_effect(py::handle main_effect_plot, py::handle value, py::handle scaler, py::handle figsize) {
    plot_additive_effect(kGamiEffect, main_effect_plot, value, scaler, figsize);
}

// elif <GAMI network>:
std::optional<py::dict> gami_interaction_effect(const PairArgs& args) {
    //     <pair_key of the active pair, or print("No this interaction effect") and return>
    std::optional<py::object> pair_key = active_pair_key(args);
    if (!pair_key) {
        return std::nullopt;
    }
    //     item = deepcopy(exp[pair_key])
    py::object item = call({deepcopy(), args.exp[*pair_key]});
    //     interpret_result = {..., 'model_type': 'gami', 'input': {'feature_combine': pair_key},
    //                         'value': item, 'scaler': ...}
    py::object model = args.self.attr("model"_n);
    return effect_record("interaction_effect", model, args.self, kGami.name, pair_input(*pair_key), item,
                         args.original_scale);
}

// elif model_type == 'gami': <the heat map of value['outputs'] over value['axis_extent']>
constexpr Name kOutputs{"outputs"};
constexpr Name kAxisExtent{"axis_extent"};

}  // namespace

const FamilyRow kGami{"gami", {"GAMINetRegressor", "GAMINetClassifier"}, gami_main_effect, gami_plot_main_effect,
                      gami_interaction_effect, plot_heat_map<kOutputs, kAxisExtent>};

}  // namespace vexo
