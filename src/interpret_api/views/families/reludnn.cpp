// The ReLU network: its effects drawn from its local linear models (LLMs), the profile of one
// feature and the pair plot of two, on the features' display names.
#include "views/effects.h"
#include "views/families/rows.h"
#include "views/idioms.h"
#include "views/llm_plots.h"

namespace vexo {

namespace {

// elif <ReLU network>:
// The value that its profile plot draws. `feature` becomes the display name.
py::object reludnn_main_effect(py::handle self, py::handle exp, py::object& feature) {
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

// elif model_type == 'reludnn':
void reludnn_plot_main_effect(py::handle /*main_effect_plot*/, py::handle value, py::handle scaler,
                              py::handle figsize) {
    //     profile_plot(feature_id=value['feature_id'], n_features=value['n_features'],
    //         nllms_top=value['nllms_top'], sample_idx_by_llms=value['sample_idx_by_llms'],
    //         x=value['x'], all_weights=value['all_weights'], feature_names=value['feature_names'],
    //         feature_names_full=value['feature_names_full'],
    //         feature_importance=value['feature_importance'], figsize=figsize, scaler=scaler)
    auto [feature_id, n_features, nllms_top, sample_idx_by_llms, x, all_weights, feature_names, feature_names_full,
          feature_importance] =
        entries(value, {"feature_id"_n, "n_features"_n, "nllms_top"_n, "sample_idx_by_llms"_n, "x"_n,
                        "all_weights"_n, "feature_names"_n, "feature_names_full"_n, "feature_importance"_n});
    profile_plot(feature_id, n_features, nllms_top, sample_idx_by_llms, x, all_weights, feature_names,
                 feature_names_full, feature_importance, figsize, scaler);
    //     plt.show()
    call({method(plt(), "show")});
}

// elif <ReLU network>:
// The record of its pair, whose features are named by their display names.
std::optional<py::dict> reludnn_interaction_effect(const PairArgs& args) {
    py::handle self = args.self;
    py::handle exp = args.exp;
    //     inverse_dict = {v: k for k, v in self.experiment.dataset.truncated_columns_dict_15.items()}
    py::dict inverse_dict = inverted(self.attr("experiment"_n).attr("dataset"_n).attr("truncated_columns_dict_15"_n));
    //     feature0 = self.experiment.dataset.truncated_columns_dict_10[inverse_dict[feature0]]
    py::object names_10 = self.attr("experiment"_n).attr("dataset"_n).attr("truncated_columns_dict_10"_n);
    py::object feature0 = names_10[inverse_dict[args.feature0]];
    //     feature1 = self.experiment.dataset.truncated_columns_dict_10[inverse_dict[feature1]]
    names_10 = self.attr("experiment"_n).attr("dataset"_n).attr("truncated_columns_dict_10"_n);
    py::object feature1 = names_10[inverse_dict[args.feature1]];
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
    return effect_record("interaction_effect", self.attr("model"_n), self, kReluDnn.name, input, value,
                         args.original_scale);
}

// elif model_type == 'reludnn':
void reludnn_plot_interaction_effect(py::handle interpret_result, py::handle scaler, py::handle figsize) {
    //     pair_plot(feature_idx=value['feature_idx'], nllms_top=value['nllms_top'],
    //         count_llms=value['count_llms'], all_bias_weight=value['all_bias_weight'],
    //         all_weights=value['all_weights'], center_llms=value['center_llms'],
    //         all_biases=value['all_biases'], feature_names=value['feature_names'],
    //         feature_names_full=value['feature_names_full'], figsize=figsize)
    py::object value = interpret_result["value"_n];
    auto [feature_idx, nllms_top, count_llms, all_bias_weight, all_weights, center_llms, all_biases, feature_names,
          feature_names_full] =
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

}  // namespace

const FamilyRow kReluDnn{"reludnn", {"ReluDNNRegressor", "ReluDNNClassifier"}, reludnn_main_effect,
                         reludnn_plot_main_effect, reludnn_interaction_effect, reludnn_plot_interaction_effect};

}  // namespace vexo
