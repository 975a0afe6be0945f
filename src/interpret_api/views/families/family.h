// What the units of the families share: the value of an additive family's main effect, its curve,
// and the heat map of a pair that the experiment lists among the model's active pairs.
#pragma once

#include "views/effects.h"
#include "views/families/rows.h"
#include "views/idioms.h"

#include <initializer_list>
#include <optional>
#include <utility>

namespace vexo {

// {'feature': feature, 'feature_type': feature_type, <more entries>, 'output': item}: the main effect
// of the additive families.
py::dict effect_value(py::handle feature, py::handle feature_type,
                      std::initializer_list<std::pair<py::handle, py::handle>> more, py::handle item);

// Where an additive family's effect plot reads a keyword's value: value[key], output[key] or
// output['density'][key], where output = value['output'].
enum class In { value, output, density };
struct Entry {
    In in;
    Name key;
};

// One additive family's row of the table of its effect plot's keywords: a categorical feature's
// bars, a continuous feature's curve.
struct EffectLayout {
    Entry importance;
    Entry categories, height, density_names;  // the bars
    bool ticks;                                // the bars labelled by the output's input_ticks, input_labels
    Entry xgrid, ygrid;                        // the curve
    bool curve_of_any_type;                    // the curve for every feature type but "categorical", else
                                               // only for "continuous"
};

// output = value['output']
// if value['feature_type'] == 'categorical':
//     main_effect_plot.plot(value['feature_type'], importance=<importance>, categories=<categories>,
//         height=<height>, density_names=<density_names>, scores=output['density']['scores'],
//         [xticks=output['input_ticks'], xticks_label=output['input_labels'],] figsize=figsize, scaler=scaler)
// elif value['feature_type'] == 'continuous':        (else: where the curve is of any type)
//     main_effect_plot.plot(value['feature_type'], importance=<importance>,
//         density_names=output['density']['names'], scores=output['density']['scores'],
//         xgrid=<xgrid>, ygrid=<ygrid>, figsize=figsize, scaler=scaler)
void plot_additive_effect(const EffectLayout& layout, py::handle main_effect_plot, py::handle value,
                          py::handle scaler, py::handle figsize);

// The key under which the experiment files the pair, found through the pair's name in either order,
// or none (having printed the refusal) where the model has no such pair:
//     if feature_combine_01 in self.experiment.act_inter_lis[self.model]: feature_combine = feature_combine_01
//     elif feature_combine_10 in self.experiment.act_inter_lis[self.model]: feature_combine = feature_combine_10
//     else: print("No this interaction effect"); return
//     inverse_dict = {v: k for k, v in self.experiment.inter_effect_trunc_dict[self.model].items()}
//     pair_key = inverse_dict[feature_combine]
std::optional<py::object> active_pair_key(const PairArgs& args);

// {'feature_combine': pair_key}
py::dict pair_input(py::handle pair_key);

// heat_plot = PlotHeatmap(mesh_grid=100, feature_combine=interpret_result['input']['feature_combine'])
// heat_plot.plot_interpret(mat_value=interpret_result['value'][grid], extent=interpret_result['value'][extent],
//                          importance=interpret_result['value']['importance'], figsize=figsize, scaler=scaler)
void heat_map(py::handle interpret_result, py::handle grid, py::handle extent, py::handle figsize,
              py::handle scaler);

// The drawing of a pair whose record's value is a heat map of value[grid] over value[extent].
template <const Name& grid, const Name& extent>
void plot_heat_map(py::handle interpret_result, py::handle scaler, py::handle figsize) {
    heat_map(interpret_result, interned(grid), interned(extent), figsize, scaler);
}

}  // namespace vexo
