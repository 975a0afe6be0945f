// The plots of a ReLU network's local linear models that the effect views draw: the profile along
// one feature (main effect) and the pair plot over chosen features (interaction effect).
#pragma once

#include "engine/engine.h"

namespace vexo {

// def profile_plot(feature_id, n_features, nllms_top, sample_idx_by_llms, x, all_weights,
//                  feature_names, feature_names_full, feature_importance, tuple figsize=None,
//                  scaler=None):
void profile_plot(py::handle feature_id, py::handle n_features, py::handle nllms_top, py::handle sample_idx_by_llms,
                  py::handle x, py::handle all_weights, py::handle feature_names, py::handle feature_names_full,
                  py::handle feature_importance, py::handle figsize, py::handle scaler);

// The arguments of the pair plot, under their own names.
struct PairPlotArgs {
    py::handle feature_idx, nllms_top, count_llms, all_bias_weight, all_weights, center_llms, all_biases,
        feature_names, feature_names_full;
    py::handle nllms;
    double frac;
    py::handle figsize;
    py::handle offdiagsmooth;
};

// def pair_plot(list feature_idx, nllms_top, count_llms, all_bias_weight, all_weights, center_llms,
//               all_biases, feature_names, feature_names_full, nllms=100, double frac=0.6666666666666666,
//               tuple figsize=(12, 12), offdiagsmooth=False):
// `scaler` is the enclosing plot's.
py::object pair_plot(const PairPlotArgs& args, py::handle scaler);

}  // namespace vexo
