// The interaction effect of a feature pair, per model family, and its plot.
#include "views/effects.h"
#include "views/idioms.h"
#include "views/llm_plots.h"
#include "views/records.h"
#include "views/views.h"

#include <optional>

namespace vexo {

namespace {

// The pair string under which the experiment lists the pair, in either order; None when neither.
// if feature_combine_01 in self.experiment.act_inter_lis[self.model]: ...
// elif feature_combine_10 in self.experiment.act_inter_lis[self.model]: ...
py::object active_pair(py::handle self, py::handle feature_combine_01, py::handle feature_combine_10) {
    for (py::handle feature_combine : {feature_combine_01, feature_combine_10}) {
        py::object act_inter_lis = self.attr("experiment"_n).attr("act_inter_lis"_n);
        if (contains(act_inter_lis[self.attr("model"_n)], feature_combine)) {
            return py::reinterpret_borrow<py::object>(feature_combine);
        }
    }
    return py::none();
}

// exp.<bounds>[item['fidx'][k]]: the bound of one feature of the pair.
py::object bound_of(py::handle exp, py::handle bounds, py::handle item, int k) {
    py::object values = exp.attr(bounds);
    return values[item["fidx"_n][py::int_(k)]];
}

// inverse_dict = {v: k for k, v in self.experiment.inter_effect_trunc_dict[self.model].items()}
// pair_key = inverse_dict[feature_combine]
py::object pair_key_of(py::handle self, py::handle feature_combine) {
    py::object inter_effect_trunc_dict = self.attr("experiment"_n).attr("inter_effect_trunc_dict"_n);
    py::dict inverse_dict = inverted(inter_effect_trunc_dict[self.attr("model"_n)]);
    return inverse_dict[feature_combine];
}

// The heat map of a boosting machine's pair, on a grid over the two features' ranges:
//     item = deepcopy(exp.interaction_[pair_key])
//     ... ygrid = item['predict_func'](xgrid_input).reshape(mesh_grid, mesh_grid); extent = [...]
struct PairGrid {
    py::object item;
    py::object ygrid;
    py::list extent;
};

PairGrid ebm_pair_grid(py::handle exp, py::handle pair_key) {
    //     item = deepcopy(exp.interaction_[pair_key])
    py::object item = call({deepcopy(), exp.attr("interaction_"_n)[pair_key]});
    //     mesh_grid = 100
    py::int_ mesh_grid(100);
    //     x0, x1 = np.meshgrid(
    //         np.linspace(exp.min_value_[item['fidx'][0]], exp.max_value_[item['fidx'][0]], mesh_grid),
    //         np.linspace(exp.min_value_[item['fidx'][1]], exp.max_value_[item['fidx'][1]], mesh_grid)[::-1])
    py::object meshgrid = np().attr("meshgrid"_n);
    py::object first = call({method(np(), "linspace"), bound_of(exp, "min_value_"_n, item, 0),
                             bound_of(exp, "max_value_"_n, item, 0), mesh_grid});
    py::object second = call({method(np(), "linspace"), bound_of(exp, "min_value_"_n, item, 1),
                              bound_of(exp, "max_value_"_n, item, 1), mesh_grid});
    second = reversed(second);
    auto [x0, x1] = unpack_two(call({meshgrid, first, second}));
    //     xgrid_input = np.zeros((mesh_grid * mesh_grid, exp.n_features_in_))
    py::object xgrid_input =
        call({method(np(), "zeros"), py::make_tuple(mesh_grid * mesh_grid, exp.attr("n_features_in_"_n))});
    //     xgrid_input[:, [item['fidx'][0], item['fidx'][1]]] = np.hstack(
    //         [np.reshape(x0, [-1, 1]), np.reshape(x1, [-1, 1])])
    py::object hstack = np().attr("hstack"_n);
    py::list columns;
    columns.append(call({method(np(), "reshape"), x0, list_of({-1, 1})}));
    columns.append(call({method(np(), "reshape"), x1, list_of({-1, 1})}));
    py::object stacked = call({hstack, columns});
    py::list pair_columns;
    pair_columns.append(item["fidx"_n][py::int_(0)]);
    pair_columns.append(item["fidx"_n][py::int_(1)]);
    xgrid_input[py::make_tuple(colon(), pair_columns)] = stacked;
    //     ygrid = item['predict_func'](xgrid_input).reshape(mesh_grid, mesh_grid)
    py::object ygrid = call({method(call({item["predict_func"_n], xgrid_input}), "reshape"), mesh_grid, mesh_grid});
    //     extent = [exp.min_value_[item['fidx'][0]], exp.max_value_[item['fidx'][0]],
    //               exp.min_value_[item['fidx'][1]], exp.max_value_[item['fidx'][1]]]
    py::list extent;
    extent.append(bound_of(exp, "min_value_"_n, item, 0));
    extent.append(bound_of(exp, "max_value_"_n, item, 0));
    extent.append(bound_of(exp, "min_value_"_n, item, 1));
    extent.append(bound_of(exp, "max_value_"_n, item, 1));
    return {item, ygrid, extent};
}

// The record of a family drawn as a heat map (boosting machine, GAMI network), or none where the
// experiment lists no such pair.
std::optional<py::dict> heat_map_record(py::handle self, py::handle exp, const Family& family,
                                        py::handle feature_combine_01, py::handle feature_combine_10,
                                        py::handle original_scale) {
    py::object feature_combine = active_pair(self, feature_combine_01, feature_combine_10);
    if (feature_combine.is_none()) {
        print("No this interaction effect");
        return std::nullopt;
    }
    py::object pair_key = pair_key_of(self, feature_combine);
    const bool ebm = &family == &kEbm;
    PairGrid grid;
    if (ebm) {
        grid = ebm_pair_grid(exp, pair_key);
    } else {
        //     item = deepcopy(exp[pair_key])
        grid.item = call({deepcopy(), exp[pair_key]});
    }
    //     interpret_result = {..., 'model_type': <family>, 'input': {'feature_combine': pair_key},
    //                         'value': <the boosting machine's grid, or item>, 'scaler': ...}
    //     where the boosting machine's grid is {'extent': extent, 'ygrid': ygrid, 'importance': item['importance']}
    py::object model = self.attr("model"_n);
    py::dict input;
    input["feature_combine"_n] = pair_key;
    py::object value = grid.item;
    if (ebm) {
        py::dict v;
        v["extent"_n] = grid.extent;
        v["ygrid"_n] = grid.ygrid;
        v["importance"_n] = grid.item["importance"_n];
        value = v;
    }
    return effect_record("interaction_effect", model, self, family.code, input, value, original_scale);
}

// The record of a ReLU network's pair, whose features are named by their display names.
py::dict reludnn_pair_record(py::handle self, py::handle exp, py::object feature0, py::object feature1,
                             py::handle original_scale) {
    //     inverse_dict = {v: k for k, v in self.experiment.dataset.truncated_columns_dict_15.items()}
    py::dict inverse_dict = inverted(self.attr("experiment"_n).attr("dataset"_n).attr("truncated_columns_dict_15"_n));
    //     feature0 = self.experiment.dataset.truncated_columns_dict_10[inverse_dict[feature0]]
    py::object names_10 = self.attr("experiment"_n).attr("dataset"_n).attr("truncated_columns_dict_10"_n);
    feature0 = names_10[inverse_dict[feature0]];
    //     feature1 = self.experiment.dataset.truncated_columns_dict_10[inverse_dict[feature1]]
    names_10 = self.attr("experiment"_n).attr("dataset"_n).attr("truncated_columns_dict_10"_n);
    feature1 = names_10[inverse_dict[feature1]];
    //     ind1 = np.where(np.array(exp.feature_names) == feature0)[0][0] + 1
    py::object ind1 = position_of([&] { return py::object(exp.attr("feature_names"_n)); }, feature0);
    //     ind2 = np.where(np.array(exp.feature_names) == feature1)[0][0] + 1
    py::object ind2 = position_of([&] { return py::object(exp.attr("feature_names"_n)); }, feature1);
    //     interpret_result = {..., 'model_type': 'reludnn',
    //         'input': {'feature0': feature0, 'feature1': feature1},
    //         'value': {'feature_idx': [ind1, ind2], 'nllms_top': exp.nllms_top,
    //                   'all_bias_weight': exp.all_bias_weight, 'all_weights': exp.all_weights,
    //                   'center_llms': exp.center_llms, 'count_llms': exp.count_llms,
    //                   'all_biases': exp.all_biases, 'feature_names': exp.feature_names,
    //                   'feature_names_full': self.experiment.dataset.feature_names},
    //         'scaler': ...}
    py::dict input;
    input["feature0"_n] = feature0;
    input["feature1"_n] = feature1;
    py::list feature_idx;
    feature_idx.append(ind1);
    feature_idx.append(ind2);
    py::dict value;
    value["feature_idx"_n] = feature_idx;
    for (py::handle name : {"nllms_top"_n, "all_bias_weight"_n, "all_weights"_n, "center_llms"_n, "count_llms"_n,
                            "all_biases"_n, "feature_names"_n}) {
        value[name] = exp.attr(name);
    }
    value["feature_names_full"_n] = self.attr("experiment"_n).attr("dataset"_n).attr("feature_names"_n);
    return effect_record("interaction_effect", self.attr("model"_n), self, kReluDnn.code, input, value,
                         original_scale);
}

}  // namespace

// def interaction_effect(self, feature0, feature1=None, original_scale=False, figsize=(8, 6)):
py::object interaction_effect(const Params<5>& args) {
    auto [self, feature0_arg, feature1_arg, original_scale, figsize] = args;
    py::object feature0 = py::reinterpret_borrow<py::object>(feature0_arg);
    py::object feature1 = py::reinterpret_borrow<py::object>(feature1_arg);
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
    py::object feature_combine_01 = (feature0 + py::str(" x ")) + feature1;
    //     feature_combine_10 = feature1 + " x " + feature0
    py::object feature_combine_10 = (feature1 + py::str(" x ")) + feature0;
    py::dict interpret_result;

    //     if <boosting machine>: ... elif <GAMI network>: ... (a heat map)
    const Family* heat_map = is_family(self, kEbm) ? &kEbm : is_family(self, kGami) ? &kGami : nullptr;
    if (heat_map != nullptr) {
        std::optional<py::dict> r =
            heat_map_record(self, exp, *heat_map, feature_combine_01, feature_combine_10, original_scale);
        if (!r) {
            return py::none();
        }
        interpret_result = *r;
    //     elif <ReLU network>:
    } else if (is_family(self, kReluDnn)) {
        interpret_result = reludnn_pair_record(self, exp, feature0, feature1, original_scale);
    } else {
        //     interpret_result = {..., 'model_type': 'others', 'input': {'feature_combine': None},
        //                         'value': None, 'scaler': None}
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

// heat_plot = PlotHeatmap(mesh_grid=100, feature_combine=interpret_result['input']['feature_combine'])
// heat_plot.plot_interpret(mat_value=interpret_result['value'][grid], extent=interpret_result['value'][extent],
//                          importance=interpret_result['value']['importance'], figsize=figsize, scaler=scaler)
void heat_map(py::handle interpret_result, py::handle grid, py::handle extent, py::handle figsize,
              py::handle scaler) {
    py::object heat_plot = call({PlotHeatmap(), kw("mesh_grid", py::int_(100)),
                                 kw("feature_combine", interpret_result["input"_n]["feature_combine"_n])});
    call({method(heat_plot, "plot_interpret"), kw("mat_value", interpret_result["value"_n][grid]),
          kw("extent", interpret_result["value"_n][extent]),
          kw("importance", interpret_result["value"_n]["importance"_n]), kw("figsize", figsize),
          kw("scaler", scaler)});
}

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
    py::object model_type = interpret_result["model_type"_n];
    //     if model_type == 'ebm': <the heat map of value['ygrid'] over value['extent']>
    //     elif model_type == 'gami': <the heat map of value['outputs'] over value['axis_extent']>
    const bool ebm = equals(model_type, kEbm.code);
    if (ebm || equals(model_type, kGami.code)) {
        heat_map(interpret_result, ebm ? "ygrid"_n : "outputs"_n, ebm ? "extent"_n : "axis_extent"_n, figsize, scaler);
    //     elif model_type == 'reludnn':
    } else if (equals(model_type, kReluDnn.code)) {
        //     pair_plot(feature_idx=value['feature_idx'], nllms_top=value['nllms_top'],
        //         count_llms=value['count_llms'], all_bias_weight=value['all_bias_weight'],
        //         all_weights=value['all_weights'], center_llms=value['center_llms'],
        //         all_biases=value['all_biases'], feature_names=value['feature_names'],
        //         feature_names_full=value['feature_names_full'], figsize=figsize)
        py::object value = interpret_result["value"_n];
        auto [feature_idx, nllms_top, count_llms, all_bias_weight, all_weights, center_llms, all_biases,
              feature_names, feature_names_full] =
            entries(value, {"feature_idx"_n, "nllms_top"_n, "count_llms"_n, "all_bias_weight"_n, "all_weights"_n,
                            "center_llms"_n, "all_biases"_n, "feature_names"_n, "feature_names_full"_n});
        py::int_ nllms(100);
        py::bool_ offdiagsmooth(false);
        pair_plot({feature_idx, nllms_top, count_llms, all_bias_weight, all_weights, center_llms, all_biases,
                   feature_names, feature_names_full, nllms, 2.0 / 3.0, figsize, offdiagsmooth},
                  scaler);
        //     plt.show()
        call({method(plt(), "show")});
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
