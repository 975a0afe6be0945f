// The explainable boosting machine: its main effect evaluated on a grid over the feature's range
// (or its categories' bars), its pairs as heat maps on a 100 by 100 grid.
#include "views/effects.h"
#include "views/families/family.h"
#include "views/families/rows.h"
#include "views/idioms.h"

namespace vexo {

namespace {

// ---------------------------------------------------------------------------------------------
// Main effect

// if <boosting machine>:
py::object ebm_main_effect(py::handle /*self*/, py::handle exp, py::object& feature) {
    //     item = deepcopy(exp.main_effect_[feature])
    py::object item = call({deepcopy(), exp.attr("main_effect_"_n)[feature]});
    //     col = item['fidx'][0]
    py::object col = item["fidx"_n][py::int_(0)];
    //     feature_type = exp.estimator.feature_types[col]
    py::object feature_type = exp.attr("estimator"_n).attr("feature_types"_n)[col];
    //     if feature_type == 'categorical':
    if (equals(feature_type, "categorical")) {
        //     categories = np.array([float(key) for key in
        //                            exp.estimator.preprocessor_.col_mapping_[col].keys()])
        py::object mapping = exp.attr("estimator"_n).attr("preprocessor_"_n).attr("col_mapping_"_n)[col];
        py::list keys;
        for (py::handle key : call({method(mapping, "keys")})) {
            keys.append(call({builtin_float(), key}));
        }
        py::object categories = call({method(np(), "array"), keys});
        //     value = {'feature': feature, 'feature_type': feature_type, 'categories': categories,
        //              'output': item}
        return effect_value(feature, feature_type, {{"categories"_n, categories}}, item);
    }
    //     xgrid_input = np.zeros((100, exp.n_features_in_))
    py::object xgrid_input = call({method(np(), "zeros"), py::make_tuple(py::int_(100), exp.attr("n_features_in_"_n))});
    //     xgrid = np.linspace(exp.min_value_[col], exp.max_value_[col], 100)
    py::object xgrid = call({method(np(), "linspace"), exp.attr("min_value_"_n)[col], exp.attr("max_value_"_n)[col],
                             py::int_(100)});
    //     xgrid_input[:, col] = xgrid
    xgrid_input[py::make_tuple(colon(), col)] = xgrid;
    //     ygrid = item['predict_func'](xgrid_input)
    py::object ygrid = call({item["predict_func"_n], xgrid_input});
    //     value = {'feature': feature, 'feature_type': feature_type, 'xgrid': xgrid,
    //              'ygrid': ygrid, 'output': item}
    return effect_value(feature, feature_type, {{"xgrid"_n, xgrid}, {"ygrid"_n, ygrid}}, item);
}

// if model_type == 'ebm':
//     categorical: importance=output['importance'], categories=value['categories'],
//         height=output['values'], density_names=output['density']['names']
//     else: importance=output['importance'], xgrid=value['xgrid'], ygrid=value['ygrid']
constexpr EffectLayout kEbmEffect{{In::output, "importance"}, {In::value, "categories"}, {In::output, "values"},
                                  {In::density, "names"},     false,                      {In::value, "xgrid"},
                                  {In::value, "ygrid"},       true};

void ebm_plot_main_effect(py::handle main_effect_plot, py::handle value, py::handle scaler, py::handle figsize) {
    plot_additive_effect(kEbmEffect, main_effect_plot, value, scaler, figsize);
}

// ---------------------------------------------------------------------------------------------
// Interaction effect

// exp.<bounds>[item['fidx'][k]]: the bound of one feature of the pair.
py::object bound_of(py::handle exp, py::handle bounds, py::handle item, int k) {
    py::object values = exp.attr(bounds);
    return values[item["fidx"_n][py::int_(k)]];
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

// if <boosting machine>:
std::optional<py::dict> ebm_interaction_effect(const PairArgs& args) {
    //     <pair_key of the active pair, or print("No this interaction effect") and return>
    std::optional<py::object> pair_key = active_pair_key(args);
    if (!pair_key) {
        return std::nullopt;
    }
    PairGrid grid = ebm_pair_grid(args.exp, *pair_key);
    //     interpret_result = {..., 'model_type': 'ebm', 'input': {'feature_combine': pair_key},
    //         'value': {'extent': extent, 'ygrid': ygrid, 'importance': item['importance']}, 'scaler': ...}
    py::object model = args.self.attr("model"_n);
    py::dict input = pair_input(*pair_key);
    py::dict value;
    value["extent"_n] = grid.extent;
    value["ygrid"_n] = grid.ygrid;
    value["importance"_n] = grid.item["importance"_n];
    return effect_record("interaction_effect", model, args.self, kEbm.name, input, value, args.original_scale);
}

// if model_type == 'ebm': <the heat map of value['ygrid'] over value['extent']>
constexpr Name kYgrid{"ygrid"};
constexpr Name kExtent{"extent"};

}  // namespace

const FamilyRow kEbm{"ebm", {"ExplainableBoostingClassifier", "ExplainableBoostingRegressor"}, ebm_main_effect,
                     ebm_plot_main_effect, ebm_interaction_effect, plot_heat_map<kYgrid, kExtent>};

}  // namespace vexo
