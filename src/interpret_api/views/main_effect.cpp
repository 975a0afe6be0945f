// The main effect of one feature, per model family, and its plot.
#include "views/effects.h"
#include "views/idioms.h"
#include "views/llm_plots.h"
#include "views/records.h"
#include "views/views.h"

#include <initializer_list>
#include <utility>

namespace vexo {

namespace {

// {'feature': feature, 'feature_type': feature_type, <more entries>, 'output': item}: the main effect
// of the additive families.
py::dict effect_value(py::handle feature, py::handle feature_type,
                      std::initializer_list<std::pair<py::handle, py::handle>> more, py::handle item) {
    py::dict v;
    v["feature"_n] = feature;
    v["feature_type"_n] = feature_type;
    for (const auto& [name, entry] : more) {
        v[name] = entry;
    }
    v["output"_n] = item;
    return v;
}

// ---------------------------------------------------------------------------------------------
// Main effect

// The boosting machine's value: its effect item, and the categories or the grid of the feature.
py::dict ebm_main_value(py::handle exp, py::handle feature) {
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

// The ReLU network's value: what its profile plot draws. `feature` becomes the display name.
py::dict reludnn_main_value(py::handle self, py::handle exp, py::object& feature) {
    //     feature = self.experiment.dataset.truncated_columns_dict_10[feature]
    feature = self.attr("experiment"_n).attr("dataset"_n).attr("truncated_columns_dict_10"_n)[feature];
    //     feature_id = np.where(np.array(
    //         self.experiment.interpret_result_dict[self.model].feature_names) == feature)[0][0] + 1
    py::object feature_id = position_of(
        [&] {
            py::object results = self.attr("experiment"_n).attr("interpret_result_dict"_n);
            return py::object(results[self.attr("model"_n)].attr("feature_names"_n));
        },
        feature);
    //     value = {'feature': feature, 'feature_id': feature_id, 'n_features': exp.n_features,
    //              'nllms_top': exp.nllms_top, 'sample_idx_by_llms': exp.sample_idx_by_llms,
    //              'x': exp.x, 'all_weights': exp.all_weights, 'feature_names': exp.feature_names,
    //              'feature_names_full': self.experiment.dataset.feature_names,
    //              'feature_importance': exp.feature_importance}
    py::dict v;
    v["feature"_n] = feature;
    v["feature_id"_n] = feature_id;
    for (py::handle name : {"n_features"_n, "nllms_top"_n, "sample_idx_by_llms"_n, "x"_n, "all_weights"_n,
                            "feature_names"_n}) {
        v[name] = exp.attr(name);
    }
    v["feature_names_full"_n] = self.attr("experiment"_n).attr("dataset"_n).attr("feature_names"_n);
    v["feature_importance"_n] = exp.attr("feature_importance"_n);
    return v;
}

}  // namespace

// def main_effect(self, feature, original_scale=False, figsize=(8, 6)):
py::object main_effect(const Params<4>& args) {
    auto [self, feature_arg, original_scale, figsize] = args;
    py::object feature = py::reinterpret_borrow<py::object>(feature_arg);
    //     exp = self.experiment.get_interpret(self.model)
    py::object exp = call({method(self.attr("experiment"_n), "get_interpret"), self.attr("model"_n)});
    Name model_type = kOthers;
    py::object value = py::none();

    //     if <boosting machine>:
    if (is_family(self, kEbm)) {
        model_type = kEbm.code;
        value = ebm_main_value(exp, feature);
    //     elif <GAMI network>:
    } else if (is_family(self, kGami)) {
        model_type = kGami.code;
        //     item = deepcopy(exp[feature])
        py::object item = call({deepcopy(), exp[feature]});
        //     value = {'feature': feature, 'feature_type': item['type'], 'output': item}
        value = effect_value(feature, item["type"_n], {}, item);
    //     elif <ReLU network>:
    } else if (is_family(self, kReluDnn)) {
        model_type = kReluDnn.code;
        value = reludnn_main_value(self, exp, feature);
    //     elif <GAM>:
    } else if (is_family(self, kGam)) {
        model_type = kGam.code;
        //     item = deepcopy(exp['effect'][feature])
        py::object item = call({deepcopy(), exp["effect"_n][feature]});
        //     value = {'feature': feature, 'feature_type': item['feature_type'], 'output': item}
        value = effect_value(feature, item["feature_type"_n], {}, item);
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

// The effect of a continuous feature as a curve over its grid, the density of its data below:
// main_effect_plot.plot(value['feature_type'], importance=output[importance],
//     density_names=output['density']['names'], scores=output['density']['scores'],
//     xgrid=grid[xgrid], ygrid=grid[ygrid], figsize=figsize, scaler=scaler)
void plot_curve(py::handle main_effect_plot, py::handle value, py::handle output, py::handle importance,
                py::handle grid, py::handle xgrid, py::handle ygrid, py::handle figsize, py::handle scaler) {
    call({method(main_effect_plot, "plot"), value["feature_type"_n], kw("importance", output[importance]),
          kw("density_names", output["density"_n]["names"_n]), kw("scores", output["density"_n]["scores"_n]),
          kw("xgrid", grid[xgrid]), kw("ygrid", grid[ygrid]), kw("figsize", figsize), kw("scaler", scaler)});
}

// The body of plot_main_effect below its refusal of a record without a value.
void draw_main_effect(py::handle interpret_result, py::handle scaler, py::handle figsize) {
    //     value = interpret_result['value']
    py::object value = interpret_result["value"_n];
    //     main_effect_plot = PlotEffect(feature=value['feature'])
    py::object main_effect_plot = call({PlotEffect(), kw("feature", value["feature"_n])});
    //     model_type = interpret_result['model_type']
    py::object model_type = interpret_result["model_type"_n];

    //     if model_type == 'ebm':
    if (equals(model_type, kEbm.code)) {
        //     output = value['output']
        py::object output = value["output"_n];
        //     if value['feature_type'] == 'categorical':
        if (equals(value["feature_type"_n], "categorical")) {
            //     main_effect_plot.plot(value['feature_type'], importance=output['importance'],
            //         categories=value['categories'], height=output['values'],
            //         density_names=output['density']['names'], scores=output['density']['scores'],
            //         figsize=figsize, scaler=scaler)
            call({method(main_effect_plot, "plot"), value["feature_type"_n], kw("importance", output["importance"_n]),
                  kw("categories", value["categories"_n]), kw("height", output["values"_n]),
                  kw("density_names", output["density"_n]["names"_n]),
                  kw("scores", output["density"_n]["scores"_n]), kw("figsize", figsize), kw("scaler", scaler)});
        } else {
            //     main_effect_plot.plot(value['feature_type'], importance=output['importance'],
            //         density_names=output['density']['names'], scores=output['density']['scores'],
            //         xgrid=value['xgrid'], ygrid=value['ygrid'], figsize=figsize, scaler=scaler)
            plot_curve(main_effect_plot, value, output, "importance"_n, value, "xgrid"_n, "ygrid"_n, figsize, scaler);
        }
    //     elif model_type == 'gami':
    } else if (equals(model_type, kGami.code)) {
        py::object output = value["output"_n];
        //     if value['feature_type'] == 'categorical':
        if (equals(value["feature_type"_n], "categorical")) {
            //     main_effect_plot.plot(value['feature_type'], importance=output['importance'],
            //         categories=output['inputs'], height=output['outputs'],
            //         density_names=output['density']['names'], scores=output['density']['scores'],
            //         xticks=output['input_ticks'], xticks_label=output['input_labels'],
            //         figsize=figsize, scaler=scaler)
            call({method(main_effect_plot, "plot"), value["feature_type"_n], kw("importance", output["importance"_n]),
                  kw("categories", output["inputs"_n]), kw("height", output["outputs"_n]),
                  kw("density_names", output["density"_n]["names"_n]),
                  kw("scores", output["density"_n]["scores"_n]), kw("xticks", output["input_ticks"_n]),
                  kw("xticks_label", output["input_labels"_n]), kw("figsize", figsize), kw("scaler", scaler)});
        //     elif value['feature_type'] == 'continuous':
        } else if (equals(value["feature_type"_n], "continuous")) {
            //     main_effect_plot.plot(value['feature_type'], importance=output['importance'],
            //         density_names=output['density']['names'], scores=output['density']['scores'],
            //         xgrid=output['inputs'], ygrid=output['outputs'], figsize=figsize, scaler=scaler)
            plot_curve(main_effect_plot, value, output, "importance"_n, output, "inputs"_n, "outputs"_n, figsize, scaler);
        }
    //     elif model_type == 'reludnn':
    } else if (equals(model_type, kReluDnn.code)) {
        //     profile_plot(feature_id=value['feature_id'], n_features=value['n_features'],
        //         nllms_top=value['nllms_top'], sample_idx_by_llms=value['sample_idx_by_llms'],
        //         x=value['x'], all_weights=value['all_weights'], feature_names=value['feature_names'],
        //         feature_names_full=value['feature_names_full'],
        //         feature_importance=value['feature_importance'], figsize=figsize, scaler=scaler)
        auto [feature_id, n_features, nllms_top, sample_idx_by_llms, x, all_weights, feature_names,
              feature_names_full, feature_importance] =
            entries(value, {"feature_id"_n, "n_features"_n, "nllms_top"_n, "sample_idx_by_llms"_n, "x"_n,
                            "all_weights"_n, "feature_names"_n, "feature_names_full"_n, "feature_importance"_n});
        profile_plot(feature_id, n_features, nllms_top, sample_idx_by_llms, x, all_weights, feature_names,
                     feature_names_full, feature_importance, figsize, scaler);
        //     plt.show()
        call({method(plt(), "show")});
    //     elif model_type == 'gam':
    } else if (equals(model_type, kGam.code)) {
        py::object output = value["output"_n];
        //     if value['feature_type'] == 'categorical':
        if (equals(value["feature_type"_n], "categorical")) {
            //     main_effect_plot.plot(value['feature_type'], importance=output['feature_importance'],
            //         categories=output['inputs'], height=output['outputs'],
            //         density_names=output['inputs'], scores=output['density']['scores'],
            //         figsize=figsize, scaler=scaler)
            call({method(main_effect_plot, "plot"), value["feature_type"_n],
                  kw("importance", output["feature_importance"_n]), kw("categories", output["inputs"_n]),
                  kw("height", output["outputs"_n]), kw("density_names", output["inputs"_n]),
                  kw("scores", output["density"_n]["scores"_n]), kw("figsize", figsize), kw("scaler", scaler)});
        //     elif value['feature_type'] == 'continuous':
        } else if (equals(value["feature_type"_n], "continuous")) {
            //     main_effect_plot.plot(value['feature_type'], importance=output['feature_importance'],
            //         density_names=output['density']['names'], scores=output['density']['scores'],
            //         xgrid=output['inputs'], ygrid=output['outputs'], figsize=figsize, scaler=scaler)
            plot_curve(main_effect_plot, value, output, "feature_importance"_n, output, "inputs"_n, "outputs"_n, figsize,
                       scaler);
        }
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
