// Effects: the main effect of one feature and the interaction effect of a pair, with their plots.
#include "interpret_api.h"

namespace vexo {

namespace {

// ---------------------------------------------------------------------------------------------
// Small pieces of Python that only the effect views need

// raise <exception>
[[noreturn]] void raise(const py::object& exception) {
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())), exception.ptr());
    throw py::error_already_set();
}

// a % b
py::object format(py::handle a, py::handle b) {
    PyObject* r = PyNumber_Remainder(a.ptr(), b.ptr());
    if (r == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::object>(r);
}

// [a, b, ...] of int constants
py::list list_of(std::initializer_list<int> items) {
    py::list list;
    for (int item : items) {
        list.append(py::int_(item));
    }
    return list;
}

// abs(x)
py::object absolute(py::handle x) {
    PyObject* r = PyNumber_Absolute(x.ptr());
    if (r == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::object>(r);
}

// The `:` of a subscription.
py::slice colon() { return py::slice(py::none(), py::none(), py::none()); }

// seq[:stop]
py::object head(py::handle seq, py::handle stop) { return seq[py::slice(py::none(), stop, py::none())]; }

// arr[rows, col]
py::object at(py::handle arr, py::handle rows, py::handle col) {
    return arr[py::make_tuple(rows, col)];
}

// arr[:stop, col]
py::object head_column(py::handle arr, py::handle stop, py::handle col) {
    return at(arr, py::slice(py::none(), stop, py::none()), col);
}

// np.where(np.array(names()) == name)[0][0] + 1: the 1-based position of the first match; the names
// are read where Python reads them, after np.where and np.array.
template <typename Names>
py::object position_of(Names names, py::handle name) {
    py::object where = np().attr("where"_n);
    py::object matches = compare(call({method(np(), "array"), names()}), name, Py_EQ);
    py::object first = call({where, matches})[py::int_(0)][py::int_(0)];
    return first + py::int_(1);
}

// {v: k for k, v in mapping.items()}: a later key wins where two share a value.
py::dict inverted(py::handle mapping) {
    py::dict inverse;
    for (py::handle item : call({method(mapping, "items")})) {
        auto [k, v] = unpack_two(item);
        inverse[v] = k;
    }
    return inverse;
}

// The two effect views build one record shape:
// {'key': key, 'model': self.model, 'model_type': model_type, 'input': input, 'value': value,
//  'scaler': self.pipeline.transform_to_orignial_scale if original_scale else None}
// `model` is self.model, read by the caller where the literal reads it: before anything that `value`
// still reads.
py::dict effect_record(const char* key, py::handle model, py::handle self, const char* model_type,
                       py::handle input, py::handle value, py::handle original_scale) {
    py::dict r;
    r[interned(keys::key)] = interned(key);
    r[interned(keys::model)] = model;
    r[interned(keys::model_type)] = interned(model_type);
    r[interned(keys::input)] = input;
    r[interned(keys::value)] = value;
    r[interned(keys::scaler)] = truthy(original_scale)
                                    ? py::object(self.attr("pipeline"_n).attr("transform_to_orignial_scale"_n))
                                    : py::object(py::none());
    return r;
}

// The trend line of a pair-plot panel, through the sorted smoother output.
// ax.plot(xygrid[:, 0], xygrid[:, 1], linewidth=2, linestyle="--", c="red")
void trend_line(py::handle ax, py::handle xygrid) {
    call({method(ax, "plot"), at(xygrid, colon(), py::int_(0)), at(xygrid, colon(), py::int_(1)),
          kw("linewidth", py::int_(2)), kw("linestyle", "--"), kw("c", "red")});
}

// ---------------------------------------------------------------------------------------------
// Main effect

// def main_effect(self, feature, original_scale=False, figsize=(8, 6)):
py::object main_effect(const Params<4>& args) {
    auto [self, feature_arg, original_scale, figsize] = args;
    py::object feature = py::reinterpret_borrow<py::object>(feature_arg);
    //     exp = self.experiment.get_interpret(self.model)
    py::object exp = call({method(self.attr("experiment"_n), "get_interpret"), self.attr("model"_n)});
    const char* model_type = kOthers;
    py::object value = py::none();

    //     if <boosting machine>:
    if (is_family(self, kEbm)) {
        model_type = kEbm.code;
        //     item = deepcopy(exp.main_effect_[feature])
        py::object item = call({deepcopy(), exp.attr("main_effect_"_n)[feature]});
        //     col = item['fidx'][0]
        py::object col = item["fidx"_n][py::int_(0)];
        //     feature_type = exp.estimator.feature_types[col]
        py::object feature_type = exp.attr("estimator"_n).attr("feature_types"_n)[col];
        py::dict v;
        //     if feature_type == 'categorical':
        if (equals(feature_type, "categorical")) {
            //     categories = np.array([float(key) for key in
            //                            exp.estimator.preprocessor_.col_mapping_[col].keys()])
            py::object mapping = exp.attr("estimator"_n).attr("preprocessor_"_n).attr("col_mapping_"_n)[col];
            py::list keys;
            for (py::handle key : call({method(mapping, "keys")})) {
                keys.append(call({py::handle(reinterpret_cast<PyObject*>(&PyFloat_Type)), key}));
            }
            py::object categories = call({method(np(), "array"), keys});
            //     value = {'feature': feature, 'feature_type': feature_type, 'categories': categories,
            //              'output': item}
            v["feature"_n] = feature;
            v["feature_type"_n] = feature_type;
            v["categories"_n] = categories;
            v["output"_n] = item;
        } else {
            //     xgrid_input = np.zeros((100, exp.n_features_in_))
            py::object xgrid_input =
                call({method(np(), "zeros"), py::make_tuple(py::int_(100), exp.attr("n_features_in_"_n))});
            //     xgrid = np.linspace(exp.min_value_[col], exp.max_value_[col], 100)
            py::object xgrid = call({method(np(), "linspace"), exp.attr("min_value_"_n)[col],
                                     exp.attr("max_value_"_n)[col], py::int_(100)});
            //     xgrid_input[:, col] = xgrid
            xgrid_input[py::make_tuple(colon(), col)] = xgrid;
            //     ygrid = item['predict_func'](xgrid_input)
            py::object ygrid = call({item["predict_func"_n], xgrid_input});
            //     value = {'feature': feature, 'feature_type': feature_type, 'xgrid': xgrid,
            //              'ygrid': ygrid, 'output': item}
            v["feature"_n] = feature;
            v["feature_type"_n] = feature_type;
            v["xgrid"_n] = xgrid;
            v["ygrid"_n] = ygrid;
            v["output"_n] = item;
        }
        value = v;
    //     elif <GAMI network>:
    } else if (is_family(self, kGami)) {
        model_type = kGami.code;
        //     item = deepcopy(exp[feature])
        py::object item = call({deepcopy(), exp[feature]});
        //     value = {'feature': feature, 'feature_type': item['type'], 'output': item}
        py::dict v;
        v["feature"_n] = feature;
        v["feature_type"_n] = item["type"_n];
        v["output"_n] = item;
        value = v;
    //     elif <ReLU network>:
    } else if (is_family(self, kReluDnn)) {
        model_type = kReluDnn.code;
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
        v["n_features"_n] = exp.attr("n_features"_n);
        v["nllms_top"_n] = exp.attr("nllms_top"_n);
        v["sample_idx_by_llms"_n] = exp.attr("sample_idx_by_llms"_n);
        v["x"_n] = exp.attr("x"_n);
        v["all_weights"_n] = exp.attr("all_weights"_n);
        v["feature_names"_n] = exp.attr("feature_names"_n);
        v["feature_names_full"_n] = self.attr("experiment"_n).attr("dataset"_n).attr("feature_names"_n);
        v["feature_importance"_n] = exp.attr("feature_importance"_n);
        value = v;
    //     elif <GAM>:
    } else if (is_family(self, kGam)) {
        model_type = kGam.code;
        //     item = deepcopy(exp['effect'][feature])
        py::object item = call({deepcopy(), exp["effect"_n][feature]});
        //     value = {'feature': feature, 'feature_type': item['feature_type'], 'output': item}
        py::dict v;
        v["feature"_n] = feature;
        v["feature_type"_n] = item["feature_type"_n];
        v["output"_n] = item;
        value = v;
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

// def profile_plot(feature_id, n_features, nllms_top, sample_idx_by_llms, x, all_weights,
//                  feature_names, feature_names_full, feature_importance, tuple figsize=None,
//                  scaler=None):
// The profile of the local linear models along one feature: one centred line per model over the
// range of its samples, above the density of those samples.
void profile_plot(py::handle feature_id, py::handle n_features, py::handle nllms_top, py::handle sample_idx_by_llms,
                  py::handle x, py::handle all_weights, py::handle feature_names, py::handle feature_names_full,
                  py::handle feature_importance, py::handle figsize, py::handle scaler) {
    check_tuple_argument("figsize", figsize);
    py::int_ one(1);
    //     if (feature_id < 1) | (feature_id > n_features):
    //         raise ValueError("feature_id must within the range of [1, %s]." % n_features)
    py::object below = compare(feature_id, one, Py_LT);
    py::object above = compare(feature_id, n_features, Py_GT);
    if (truthy(below | above)) {
        py::str message("feature_id must within the range of [1, %s].");
        raise(call({global("ValueError"), format(message, n_features)}));
    }
    py::object col = py::reinterpret_borrow<py::object>(feature_id) - one;
    //     nllms = nllms_top if nllms_top < 30 else 30
    py::object nllms = at_most(nllms_top, py::int_(30));
    //     fig = plt.figure(figsize=figsize)
    py::object fig = call({method(plt(), "figure"), kw("figsize", figsize)});
    //     grid = gridspec.GridSpec(2, 1, wspace=0.1, hspace=0.1, height_ratios=[2, 1])
    py::object grid = call({method(gridspec(), "GridSpec"), py::int_(2), py::int_(1), kw("wspace", py::float_(0.1)),
                            kw("hspace", py::float_(0.1)), kw("height_ratios", list_of({2, 1}))});
    //     upper = plt.Subplot(fig, grid[0])
    py::object upper = call({method(plt(), "Subplot"), fig, grid[py::int_(0)]});
    //     lower = plt.Subplot(fig, grid[1])
    py::object lower = call({method(plt(), "Subplot"), fig, grid[py::int_(1)]});
    //     for i in range(nllms):
    for (py::handle i : call({global("range"), nllms})) {
        //     sample_idx = sample_idx_by_llms[i]
        py::object sample_idx = sample_idx_by_llms[i];
        //     xx = x[sample_idx, feature_id - 1]
        py::object xx = at(x, sample_idx, col);
        //     yy = xx * all_weights[i, feature_id - 1]
        py::object yy = xx * at(all_weights, i, col);
        //     yy = yy - np.mean(yy)
        yy = yy - call({method(np(), "mean"), yy});
        //     idx = np.argsort(xx)
        py::object idx = call({method(np(), "argsort"), xx});
        //     if np.std(xx) < 1e-5: continue
        if (truthy(compare(call({method(np(), "std"), xx}), py::float_(1e-5), Py_LT))) {
            continue;
        }
        //     try:
        //         upper.plot(xx[idx], yy[idx], '-o')
        //         sns.kdeplot(xx, warn_singular=False, ax=lower)
        //     except Exception:
        //         pass
        try {
            call({method(upper, "plot"), xx[idx], yy[idx], "-o"});
            call({method(sns(), "kdeplot"), xx, kw("warn_singular", py::bool_(false)), kw("ax", lower)});
        } catch (py::error_already_set& e) {
            if (!e.matches(PyExc_Exception)) {
                throw;
            }
        }
    }
    //     upper.axhline(0, linestyle='--', color='black')
    call({method(upper, "axhline"), py::int_(0), kw("linestyle", "--"), kw("color", "black")});
    //     upper.set_title("LLM Feature Importance of " + feature_names[feature_id - 1] + ": "
    //                     + str(round(feature_importance[feature_id - 1], 2)) + "%", fontsize=15)
    py::object set_title = upper.attr("set_title"_n);
    py::object title = py::str("LLM Feature Importance of ") + feature_names[col];
    title = title + py::str(": ");
    title = title + py::str(call({global("round"), feature_importance[col], py::int_(2)}));
    title = title + py::str("%");
    call({set_title, title, kw("fontsize", py::int_(15))});
    //     upper.tick_params(labelbottom=False)
    call({method(upper, "tick_params"), kw("labelbottom", py::bool_(false))});
    //     lower.sharex(upper)
    call({method(lower, "sharex"), upper});
    //     lower.autoscale()
    call({method(lower, "autoscale")});
    //     if scaler is not None:
    //         scale_plot_ticks(ax=lower, feature=feature_names_full[feature_id - 1], scaler=scaler, axis=0)
    if (!scaler.is_none()) {
        call({scale_plot_ticks(), kw("ax", lower), kw("feature", feature_names_full[col]), kw("scaler", scaler),
              kw("axis", py::int_(0))});
    }
    //     fig.add_subplot(upper)
    call({method(fig, "add_subplot"), upper});
    //     fig.add_subplot(lower)
    call({method(fig, "add_subplot"), lower});
    //     grid.tight_layout(fig)
    call({method(grid, "tight_layout"), fig});
    //     plt.show()
    call({method(plt(), "show")});
}

// @staticmethod
// def plot_main_effect(interpret_result, figsize=(8, 6)):
py::object plot_main_effect(const Params<2>& args) {
    auto [interpret_result, figsize] = args;
    //     scaler = interpret_result['scaler']
    py::object scaler = interpret_result["scaler"_n];
    //     if interpret_result['value'] is None:
    //         print("Not supported")
    //         return
    if (py::object(interpret_result["value"_n]).is_none()) {
        print("Not supported");
        return py::none();
    }
    //     value = interpret_result['value']
    py::object value = interpret_result["value"_n];
    //     main_effect_plot = PlotEffect(feature=value['feature'])
    py::object main_effect_plot = call({PlotEffect(), kw("feature", value["feature"_n])});
    //     model_type = interpret_result['model_type']
    py::object model_type = interpret_result["model_type"_n];

    //     if model_type == 'ebm':
    if (equals(model_type, "ebm")) {
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
            call({method(main_effect_plot, "plot"), value["feature_type"_n], kw("importance", output["importance"_n]),
                  kw("density_names", output["density"_n]["names"_n]),
                  kw("scores", output["density"_n]["scores"_n]), kw("xgrid", value["xgrid"_n]),
                  kw("ygrid", value["ygrid"_n]), kw("figsize", figsize), kw("scaler", scaler)});
        }
    //     elif model_type == 'gami':
    } else if (equals(model_type, "gami")) {
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
            call({method(main_effect_plot, "plot"), value["feature_type"_n], kw("importance", output["importance"_n]),
                  kw("density_names", output["density"_n]["names"_n]),
                  kw("scores", output["density"_n]["scores"_n]), kw("xgrid", output["inputs"_n]),
                  kw("ygrid", output["outputs"_n]), kw("figsize", figsize), kw("scaler", scaler)});
        }
    //     elif model_type == 'reludnn':
    } else if (equals(model_type, "reludnn")) {
        //     profile_plot(feature_id=value['feature_id'], n_features=value['n_features'],
        //         nllms_top=value['nllms_top'], sample_idx_by_llms=value['sample_idx_by_llms'],
        //         x=value['x'], all_weights=value['all_weights'], feature_names=value['feature_names'],
        //         feature_names_full=value['feature_names_full'],
        //         feature_importance=value['feature_importance'], figsize=figsize, scaler=scaler)
        py::object feature_id = value["feature_id"_n];
        py::object n_features = value["n_features"_n];
        py::object nllms_top = value["nllms_top"_n];
        py::object sample_idx_by_llms = value["sample_idx_by_llms"_n];
        py::object x = value["x"_n];
        py::object all_weights = value["all_weights"_n];
        py::object feature_names = value["feature_names"_n];
        py::object feature_names_full = value["feature_names_full"_n];
        py::object feature_importance = value["feature_importance"_n];
        profile_plot(feature_id, n_features, nllms_top, sample_idx_by_llms, x, all_weights, feature_names,
                     feature_names_full, feature_importance, figsize, scaler);
        //     plt.show()
        call({method(plt(), "show")});
    //     elif model_type == 'gam':
    } else if (equals(model_type, "gam")) {
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
            call({method(main_effect_plot, "plot"), value["feature_type"_n],
                  kw("importance", output["feature_importance"_n]),
                  kw("density_names", output["density"_n]["names"_n]),
                  kw("scores", output["density"_n]["scores"_n]), kw("xgrid", output["inputs"_n]),
                  kw("ygrid", output["outputs"_n]), kw("figsize", figsize), kw("scaler", scaler)});
        }
    }
    return py::none();
}

// ---------------------------------------------------------------------------------------------
// Interaction effect

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

    //     if <boosting machine>:
    if (is_family(self, kEbm)) {
        py::object feature_combine = active_pair(self, feature_combine_01, feature_combine_10);
        if (feature_combine.is_none()) {
            print("No this interaction effect");
            return py::none();
        }
        py::object pair_key = pair_key_of(self, feature_combine);
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
        //     interpret_result = {..., 'model_type': 'ebm', 'input': {'feature_combine': pair_key},
        //                         'value': {'extent': extent, 'ygrid': ygrid,
        //                                   'importance': item['importance']}, 'scaler': ...}
        py::object model = self.attr("model"_n);
        py::dict input;
        input["feature_combine"_n] = pair_key;
        py::dict value;
        value["extent"_n] = extent;
        value["ygrid"_n] = ygrid;
        value["importance"_n] = item["importance"_n];
        interpret_result = effect_record("interaction_effect", model, self, kEbm.code, input, value, original_scale);
    //     elif <GAMI network>:
    } else if (is_family(self, kGami)) {
        py::object feature_combine = active_pair(self, feature_combine_01, feature_combine_10);
        if (feature_combine.is_none()) {
            print("No this interaction effect");
            return py::none();
        }
        py::object pair_key = pair_key_of(self, feature_combine);
        //     item = deepcopy(exp[pair_key])
        py::object item = call({deepcopy(), exp[pair_key]});
        //     interpret_result = {..., 'model_type': 'gami', 'input': {'feature_combine': pair_key},
        //                         'value': item, 'scaler': ...}
        py::dict input;
        input["feature_combine"_n] = pair_key;
        interpret_result = effect_record("interaction_effect", self.attr("model"_n), self, kGami.code, input, item,
                                         original_scale);
    //     elif <ReLU network>:
    } else if (is_family(self, kReluDnn)) {
        //     inverse_dict = {v: k for k, v in self.experiment.dataset.truncated_columns_dict_15.items()}
        py::dict inverse_dict =
            inverted(self.attr("experiment"_n).attr("dataset"_n).attr("truncated_columns_dict_15"_n));
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
        value["nllms_top"_n] = exp.attr("nllms_top"_n);
        value["all_bias_weight"_n] = exp.attr("all_bias_weight"_n);
        value["all_weights"_n] = exp.attr("all_weights"_n);
        value["center_llms"_n] = exp.attr("center_llms"_n);
        value["count_llms"_n] = exp.attr("count_llms"_n);
        value["all_biases"_n] = exp.attr("all_biases"_n);
        value["feature_names"_n] = exp.attr("feature_names"_n);
        value["feature_names_full"_n] = self.attr("experiment"_n).attr("dataset"_n).attr("feature_names"_n);
        interpret_result = effect_record("interaction_effect", self.attr("model"_n), self, kReluDnn.code, input, value,
                                         original_scale);
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
// The local linear models spread over the chosen features: on the diagonal each feature's weight
// against the models' centres along it, with its trend; off the diagonal what is left of the weight
// once that trend is removed, against the centres along the other feature. `scaler` is the
// enclosing plot's.
py::object pair_plot(const PairPlotArgs& args, py::handle scaler) {
    check_list_argument("feature_idx", args.feature_idx);
    check_tuple_argument("figsize", args.figsize);
    py::object feature_idx = py::reinterpret_borrow<py::object>(args.feature_idx);
    py::handle count_llms = args.count_llms, all_bias_weight = args.all_bias_weight, all_weights = args.all_weights,
               center_llms = args.center_llms, all_biases = args.all_biases, feature_names = args.feature_names,
               feature_names_full = args.feature_names_full;
    py::float_ frac(args.frac);
    py::int_ zero(0), one(1);

    //     row_length = len(feature_idx)
    const std::size_t row_length = py::len(feature_idx);
    //     nllms = nllms_top if nllms_top < nllms else nllms
    py::object nllms = at_most(args.nllms_top, args.nllms);
    //     if 0 in feature_idx:
    //         feature_idx.remove(0)
    //         feature_idx = [0] + feature_idx
    if (contains(feature_idx, zero)) {
        call({method(feature_idx, "remove"), zero});
        py::list intercept;
        intercept.append(zero);
        feature_idx = intercept + feature_idx;
    }
    //     fig = plt.figure(figsize=figsize)
    py::object fig = call({method(plt(), "figure"), kw("figsize", args.figsize)});
    //     gs = gridspec.GridSpec(row_length, row_length, wspace=0.2, hspace=0.2)
    py::object gs = call({method(gridspec(), "GridSpec"), py::int_(row_length), py::int_(row_length),
                          kw("wspace", py::float_(0.2)), kw("hspace", py::float_(0.2))});
    //     rgba_colors = np.zeros((nllms, 4))
    py::object rgba_colors = call({method(np(), "zeros"), py::make_tuple(nllms, 4)});
    //     rgba_colors[:, 2] = 1.0
    rgba_colors[py::make_tuple(colon(), 2)] = py::float_(1.0);
    //     rgba_colors[:, 3] = count_llms[:nllms] / np.max(count_llms[:nllms])
    py::object counts = head(count_llms, nllms);
    rgba_colors[py::make_tuple(colon(), 3)] = counts / call({method(np(), "max"), head(count_llms, nllms)});

    py::object xygrid_diag = py::none();
    //     for i, fidx in enumerate(feature_idx):
    std::size_t i = 0;
    for (py::handle fidx : feature_idx) {
        //     ymin = all_bias_weight[:nllms, fidx].min()
        py::object ymin = call({method(head_column(all_bias_weight, nllms, fidx), "min")});
        //     ymax = all_bias_weight[:nllms, fidx].max()
        py::object ymax = call({method(head_column(all_bias_weight, nllms, fidx), "max")});
        //     abs_range = 1.1 * max(abs(ymin), abs(ymax))
        py::object largest = absolute(ymin);
        py::object candidate = absolute(ymax);
        if (truthy(compare(candidate, largest, Py_GT))) {
            largest = candidate;
        }
        py::object abs_range = py::float_(1.1) * largest;
        //     if fidx > 0:
        //         xygrid_diag = lowess(np.repeat(all_weights[:nllms, fidx - 1], repeats=count_llms[:nllms]),
        //                              np.repeat(center_llms[:nllms, fidx - 1], repeats=count_llms[:nllms]),
        //                              frac=frac, return_sorted=False)
        if (truthy(compare(fidx, zero, Py_GT))) {
            py::object smoother = lowess();
            py::object column = py::reinterpret_borrow<py::object>(fidx) - one;
            py::object endog = call({method(np(), "repeat"), head_column(all_weights, nllms, column),
                                     kw("repeats", head(count_llms, nllms))});
            py::object exog = call({method(np(), "repeat"), head_column(center_llms, nllms, column),
                                    kw("repeats", head(count_llms, nllms))});
            xygrid_diag = call({smoother, endog, exog, kw("frac", frac), kw("return_sorted", py::bool_(false))});
        }
        //     for j, fidy in enumerate(feature_idx):
        std::size_t j = 0;
        for (py::handle fidy : feature_idx) {
            //     ax = plt.Subplot(fig, gs[i * row_length + j])
            py::object ax = call({method(plt(), "Subplot"), fig, gs[py::int_(i * row_length + j)]});
            const bool row_intercept = truthy(compare(fidx, zero, Py_EQ));
            //     if fidx == 0 and fidy == 0:
            //         ax.boxplot(all_biases[:nllms])
            if (row_intercept && truthy(compare(fidy, zero, Py_EQ))) {
                call({method(ax, "boxplot"), head(all_biases, nllms)});
            //     elif fidx == 0:
            } else if (row_intercept) {
                py::object ctr_column = py::reinterpret_borrow<py::object>(fidy) - one;
                //     xygrid = lowess(np.repeat(all_biases[:nllms].ravel(), repeats=count_llms[:nllms]),
                //                     np.repeat(center_llms[:nllms, fidy - 1], repeats=count_llms[:nllms]),
                //                     frac=frac)
                py::object smoother = lowess();
                py::object endog = call({method(np(), "repeat"), call({method(head(all_biases, nllms), "ravel")}),
                                         kw("repeats", head(count_llms, nllms))});
                py::object exog = call({method(np(), "repeat"), head_column(center_llms, nllms, ctr_column),
                                        kw("repeats", head(count_llms, nllms))});
                py::object xygrid = call({smoother, endog, exog, kw("frac", frac)});
                //     ax.scatter(center_llms[:nllms, fidy - 1], all_biases[:nllms].ravel(), color=rgba_colors)
                call({method(ax, "scatter"), head_column(center_llms, nllms, ctr_column),
                      call({method(head(all_biases, nllms), "ravel")}), kw("color", rgba_colors)});
                trend_line(ax, xygrid);
            //     elif fidy == 0:
            //         ax.boxplot(all_weights[:nllms, fidx - 1])
            } else if (truthy(compare(fidy, zero, Py_EQ))) {
                py::object wts_column = py::reinterpret_borrow<py::object>(fidx) - one;
                call({method(ax, "boxplot"), head_column(all_weights, nllms, wts_column)});
            //     elif fidx == fidy:
            } else if (truthy(compare(fidx, fidy, Py_EQ))) {
                py::object wts_column = py::reinterpret_borrow<py::object>(fidx) - one;
                py::object ctr_column = py::reinterpret_borrow<py::object>(fidy) - one;
                //     xygrid = lowess(np.repeat(all_weights[:nllms, fidx - 1], repeats=count_llms[:nllms]),
                //                     np.repeat(center_llms[:nllms, fidy - 1], repeats=count_llms[:nllms]),
                //                     frac=frac)
                py::object smoother = lowess();
                py::object endog = call({method(np(), "repeat"), head_column(all_weights, nllms, wts_column),
                                         kw("repeats", head(count_llms, nllms))});
                py::object exog = call({method(np(), "repeat"), head_column(center_llms, nllms, ctr_column),
                                        kw("repeats", head(count_llms, nllms))});
                py::object xygrid = call({smoother, endog, exog, kw("frac", frac)});
                //     ax.scatter(center_llms[:nllms, fidy - 1], all_weights[:nllms, fidx - 1], color=rgba_colors)
                call({method(ax, "scatter"), head_column(center_llms, nllms, ctr_column),
                      head_column(all_weights, nllms, wts_column), kw("color", rgba_colors)});
                trend_line(ax, xygrid);
            } else {
                py::object wts_column = py::reinterpret_borrow<py::object>(fidx) - one;
                py::object ctr_column = py::reinterpret_borrow<py::object>(fidy) - one;
                //     res = all_weights[:nllms, fidx - 1] - xygrid_diag[np.cumsum(count_llms[:nllms]) - 1]
                py::object wts = head_column(all_weights, nllms, wts_column);
                py::object last_copies = call({method(np(), "cumsum"), head(count_llms, nllms)}) - one;
                py::object res = wts - xygrid_diag[last_copies];
                //     a = np.repeat(center_llms[:nllms, fidy - 1], repeats=count_llms[:nllms])
                py::object a = call({method(np(), "repeat"), head_column(center_llms, nllms, ctr_column),
                                     kw("repeats", head(count_llms, nllms))});
                //     b = np.repeat(res, repeats=count_llms[:nllms])
                py::object b = call({method(np(), "repeat"), res, kw("repeats", head(count_llms, nllms))});
                //     ax.scatter(center_llms[:nllms, fidy - 1], res, color=rgba_colors)
                call({method(ax, "scatter"), head_column(center_llms, nllms, ctr_column), res,
                      kw("color", rgba_colors)});
                //     if offdiagsmooth:
                //         xygrid = lowess(b, a, frac=frac)
                if (truthy(args.offdiagsmooth)) {
                    py::object xygrid = call({lowess(), b, a, kw("frac", frac)});
                    trend_line(ax, xygrid);
                }
            }

            //     if j == 0:
            //         if fidx == 0: ax.set_ylabel("b0", fontsize=15)
            //         else: ax.set_ylabel("w(" + feature_names[fidx - 1] + ")", fontsize=13)
            if (j == 0) {
                if (truthy(compare(fidx, zero, Py_EQ))) {
                    call({method(ax, "set_ylabel"), "b0", kw("fontsize", py::int_(15))});
                } else {
                    py::object set_ylabel = ax.attr("set_ylabel"_n);
                    py::object label = py::str("w(") + feature_names[py::reinterpret_borrow<py::object>(fidx) - one];
                    label = label + py::str(")");
                    call({set_ylabel, label, kw("fontsize", py::int_(13))});
                }
            }
            //     if i == 0:
            //         if fidy == 0: ax.set_title("+1", fontsize=15)
            //         else: ax.set_title(feature_names[fidy - 1], fontsize=13)
            if (i == 0) {
                if (truthy(compare(fidy, zero, Py_EQ))) {
                    call({method(ax, "set_title"), "+1", kw("fontsize", py::int_(15))});
                } else {
                    call({method(ax, "set_title"), feature_names[py::reinterpret_borrow<py::object>(fidy) - one],
                          kw("fontsize", py::int_(13))});
                }
            }
            //     if i < row_length - 1:
            //         ax.axes.xaxis.set_ticklabels([])
            //     elif fidy > 0 and scaler is not None:
            //         scale_plot_ticks(ax=ax, feature=feature_names_full[fidy - 1], scaler=scaler, axis=0)
            // The intercept column has no feature whose units its ticks could take.
            if (i + 1 < row_length) {
                call({method(ax.attr("axes"_n).attr("xaxis"_n), "set_ticklabels"), py::list()});
            } else if (truthy(compare(fidy, zero, Py_GT)) && !scaler.is_none()) {
                call({scale_plot_ticks(), kw("ax", ax),
                      kw("feature", feature_names_full[py::reinterpret_borrow<py::object>(fidy) - one]),
                      kw("scaler", scaler), kw("axis", py::int_(0))});
            }
            //     if j > 0:
            //         ax.axes.yaxis.set_ticklabels([])
            if (j > 0) {
                call({method(ax.attr("axes"_n).attr("yaxis"_n), "set_ticklabels"), py::list()});
            }
            //     ax.axhline(0, linestyle="--", color="black")
            call({method(ax, "axhline"), zero, kw("linestyle", "--"), kw("color", "black")});
            //     ax.set_ylim(-abs_range, abs_range)
            call({method(ax, "set_ylim"), -abs_range, abs_range});
            //     ax.tick_params(axis="both", which="both", length=0)
            call({method(ax, "tick_params"), kw("axis", "both"), kw("which", "both"), kw("length", zero)});
            //     fig.add_subplot(ax)
            call({method(fig, "add_subplot"), ax});
            ++j;
        }
        ++i;
    }
    //     gs.tight_layout(fig)
    call({method(gs, "tight_layout"), fig});
    //     plt.show()
    call({method(plt(), "show")});
    //     return fig
    return fig;
}

// @staticmethod
// def plot_interaction_effect(interpret_result, figsize=(8, 6)):
py::object plot_interaction_effect(const Params<2>& args) {
    auto [interpret_result, figsize] = args;
    //     scaler = interpret_result['scaler']
    py::object scaler = interpret_result["scaler"_n];
    //     if interpret_result['value'] is None:
    //         print("Not supported")
    //         return
    if (py::object(interpret_result["value"_n]).is_none()) {
        print("Not supported");
        return py::none();
    }
    //     try:
    //         if interpret_result['input']['feature_combine'] == "None":
    //             print("No interaction effect")
    //             return
    //     except Exception:
    //         pass
    bool no_pair = false;
    try {
        no_pair = equals(interpret_result["input"_n]["feature_combine"_n], "None");
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_Exception)) {
            throw;
        }
    }
    if (no_pair) {
        print("No interaction effect");
        return py::none();
    }
    py::object model_type = interpret_result["model_type"_n];
    //     if model_type == 'ebm':
    if (equals(model_type, "ebm")) {
        //     heat_plot = PlotHeatmap(mesh_grid=100, feature_combine=interpret_result['input']['feature_combine'])
        py::object heat_plot = call({PlotHeatmap(), kw("mesh_grid", py::int_(100)),
                                     kw("feature_combine", interpret_result["input"_n]["feature_combine"_n])});
        //     heat_plot.plot_interpret(mat_value=interpret_result['value']['ygrid'],
        //         extent=interpret_result['value']['extent'], importance=interpret_result['value']['importance'],
        //         figsize=figsize, scaler=scaler)
        call({method(heat_plot, "plot_interpret"), kw("mat_value", interpret_result["value"_n]["ygrid"_n]),
              kw("extent", interpret_result["value"_n]["extent"_n]),
              kw("importance", interpret_result["value"_n]["importance"_n]), kw("figsize", figsize),
              kw("scaler", scaler)});
    //     elif model_type == 'gami':
    } else if (equals(model_type, "gami")) {
        //     heat_plot = PlotHeatmap(mesh_grid=100, feature_combine=interpret_result['input']['feature_combine'])
        py::object heat_plot = call({PlotHeatmap(), kw("mesh_grid", py::int_(100)),
                                     kw("feature_combine", interpret_result["input"_n]["feature_combine"_n])});
        //     heat_plot.plot_interpret(mat_value=interpret_result['value']['outputs'],
        //         extent=interpret_result['value']['axis_extent'],
        //         importance=interpret_result['value']['importance'], figsize=figsize, scaler=scaler)
        call({method(heat_plot, "plot_interpret"), kw("mat_value", interpret_result["value"_n]["outputs"_n]),
              kw("extent", interpret_result["value"_n]["axis_extent"_n]),
              kw("importance", interpret_result["value"_n]["importance"_n]), kw("figsize", figsize),
              kw("scaler", scaler)});
    //     elif model_type == 'reludnn':
    } else if (equals(model_type, "reludnn")) {
        //     pair_plot(feature_idx=value['feature_idx'], nllms_top=value['nllms_top'],
        //         count_llms=value['count_llms'], all_bias_weight=value['all_bias_weight'],
        //         all_weights=value['all_weights'], center_llms=value['center_llms'],
        //         all_biases=value['all_biases'], feature_names=value['feature_names'],
        //         feature_names_full=value['feature_names_full'], figsize=figsize)
        py::object value = interpret_result["value"_n];
        py::object feature_idx = value["feature_idx"_n];
        py::object nllms_top = value["nllms_top"_n];
        py::object count_llms = value["count_llms"_n];
        py::object all_bias_weight = value["all_bias_weight"_n];
        py::object all_weights = value["all_weights"_n];
        py::object center_llms = value["center_llms"_n];
        py::object all_biases = value["all_biases"_n];
        py::object feature_names = value["feature_names"_n];
        py::object feature_names_full = value["feature_names_full"_n];
        py::int_ nllms(100);
        py::bool_ offdiagsmooth(false);
        pair_plot({feature_idx, nllms_top, count_llms, all_bias_weight, all_weights, center_llms, all_biases,
                   feature_names, feature_names_full, nllms, 2.0 / 3.0, figsize, offdiagsmooth},
                  scaler);
        //     plt.show()
        call({method(plt(), "show")});
    }
    return py::none();
}

}  // namespace

Rows effects_rows() {
    return {
        {
            method<main_effect>("main_effect", "self, feature, original_scale=False, figsize=(8, 6)"),
            method<interaction_effect>("interaction_effect",
                                       "self, feature0, feature1=None, original_scale=False, figsize=(8, 6)"),
        },
        {
            method<plot_main_effect>("plot_main_effect", "interpret_result, figsize=(8, 6)"),
            method<plot_interaction_effect>("plot_interaction_effect", "interpret_result, figsize=(8, 6)"),
        },
    };
}

}  // namespace vexo
