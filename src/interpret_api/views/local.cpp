// Local explanations: one sample explained by features and by effect terms, and the model's local
// linear models.
#include "views/idioms.h"
#include "views/records.h"
#include "views/views.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace vexo {

namespace {

// t, _ = pl.transform_to_orignial_scale(name, np.array([value]).astype(float)), or without the
// .astype(float) where `as_float` is false: one value in original units. value() reads the value
// where Python reads it: after the method and np.array are looked up.
template <typename Value>
py::object one_in_original_scale(py::handle pl, py::handle name, Value value, bool as_float = true) {
    py::object transform = pl.attr("transform_to_orignial_scale"_n);
    py::object array = np().attr("array"_n);
    py::list wrapped;
    wrapped.append(value());
    py::object values = call({array, wrapped});
    if (as_float) {
        values = call({values.attr("astype"_n), builtin_float()});
    }
    return original_part(call({transform, name, values}));
}

// x.ravel()[0]
py::object first_of(py::handle x) { return call({x.attr("ravel"_n)})[py::int_(0)]; }

// One sample's contributions as bars about the middle, coloured by sign (the bar plot draws this
// red and green pair in colours that colour-blind readers tell apart):
// hbar.plot(X=v['x'][-max_show:], height=v['y'][-max_show:], value=v['value'][-max_show:],
//           title=v['title'], mid_center=True, pos_color="#e74c3c", neg_color="#27ae60", figsize=figsize)
void plot_sample_bars(py::handle hbar, py::handle v, py::handle max_show, py::handle figsize) {
    call({hbar.attr("plot"_n), kw("X", tail(v["x"_n], max_show)), kw("height", tail(v["y"_n], max_show)),
          kw("value", tail(v["value"_n], max_show)), kw("title", v["title"_n]), kw("mid_center", py::bool_(true)),
          kw("pos_color", "#e74c3c"), kw("neg_color", "#27ae60"), kw("figsize", figsize)});
}

// The drawing of a sample's record that carries a value.
using SampleDrawing = void (*)(py::handle v, py::handle max_show, py::handle figsize);

// def plot_..._local(interpret_result, max_show=10, figsize=(8, 6)):
//     if interpret_result['value'] is None:
//         print("Not supported")
//     else: <draw v = interpret_result['value']>
py::object sample_plot(const Params<3>& args, SampleDrawing draw) {
    auto [interpret_result, max_show, figsize] = args;
    if (const std::optional<py::object> v = drawn_value(interpret_result)) {
        draw(*v, max_show, figsize);
    }
    return py::none();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Local effect importance

// def ei_local(self, idx, original_scale=False, figsize=(8, 6)):
py::object ei_local(const Params<4>& args) {
    auto [self, idx, original_scale, figsize] = args;
    //     res_show = self.experiment.interpret_local_effect(model=self.model, sample_index=idx)
    py::object res_show = call({self.attr("experiment"_n).attr("interpret_local_effect"_n),
                                kw("model", self.attr("model"_n)), kw("sample_index", idx)});
    //     if res_show is not None:
    if (!res_show.is_none()) {
        //     inverse_dict_inter = {}
        //     for key, val in self.experiment.inter_effect_trunc_dict[self.model].items():
        //         inverse_dict_inter[val] = key
        py::object trunc_dict = self.attr("experiment"_n).attr("inter_effect_trunc_dict"_n);
        py::dict inverse_dict_inter = inverted(trunc_dict[self.attr("model"_n)]);
        //     feature_names_trunc = res_show['x']
        py::object feature_names_trunc = res_show["x"_n];
        //     features_value = np.array(res_show['value'])
        // One object entry per term, each as the experiment delivered it: the terms hold one value or
        // two, which numpy makes no regular array of, and a label written at a term's position must
        // stay a label. Sized by what iterating delivers, not by a len() that may say otherwise.
        py::list delivered;
        for (py::handle entry : py::object(res_show["value"_n])) {
            delivered.append(entry);
        }
        py::object features_value =
            call({np().attr("empty"_n), length(delivered), kw("dtype", global("object"))});
        for (std::size_t k = 0; k < delivered.size(); ++k) {
            features_value[py::int_(k)] = delivered[k];
        }
        //     if original_scale:
        if (truthy(original_scale)) {
            py::object pl = self.attr("pipeline"_n);
            //     for k, name in enumerate(feature_names_trunc):
            std::size_t k = 0;
            for (py::handle name : feature_names_trunc) {
                py::int_ position(k++);
                //     if name == "Intercept": continue
                if (equals(name, "Intercept")) {
                    continue;
                }
                //     interaction_terms = features_value[k]
                py::object interaction_terms = features_value[position];
                const std::size_t count = py::len(interaction_terms);
                if (count == 1) {
                    //     t, _ = pl.transform_to_orignial_scale(name, np.array([features_value[k]]).astype(float))
                    //     features_value[k] = t.ravel()[0]
                    py::object t = one_in_original_scale(pl, name, [&] { return features_value[position]; });
                    features_value[position] = first_of(t);
                } else if (count == 2) {
                    //     f0, f1 = (inverse_dict_inter[name] if name in inverse_dict_inter else name).split(" x ")
                    py::object full_name = py::reinterpret_borrow<py::object>(name);
                    if (contains(inverse_dict_inter, name)) {
                        full_name = inverse_dict_inter[name];
                    }
                    auto [f0, f1] = unpack_two(split_pair(full_name));
                    //     t1, _ = pl.transform_to_orignial_scale(f0, np.array([interaction_terms[0]]).astype(float))
                    //     t2, _ = pl.transform_to_orignial_scale(f1, np.array([interaction_terms[1]]).astype(float))
                    py::object t1 = one_in_original_scale(pl, f0, [&] { return interaction_terms[py::int_(0)]; });
                    py::object t2 = one_in_original_scale(pl, f1, [&] { return interaction_terms[py::int_(1)]; });
                    //     features_value[k] = " x ".join([str(t1.ravel()[0]), str(t2.ravel()[0])])
                    py::list parts;
                    parts.append(py::str(first_of(t1)));
                    parts.append(py::str(first_of(t2)));
                    features_value[position] = joined_pair(parts);
                }
            }
            //     res_show['value'] = features_value
            res_show["value"_n] = features_value;
        } else {
            //     for k, name in enumerate(feature_names_trunc):
            std::size_t k = 0;
            for (py::handle name : feature_names_trunc) {
                py::int_ position(k++);
                //     if name == "Intercept": continue
                if (equals(name, "Intercept")) {
                    continue;
                }
                //     features_value[k] = " x ".join([str(np.round(v, 4)) for v in features_value[k]])
                py::list parts;
                for (py::handle v : py::object(features_value[position])) {
                    parts.append(py::str(call({np().attr("round"_n), v, py::int_(4)})));
                }
                features_value[position] = joined_pair(parts);
            }
            //     res_show['value'] = features_value
            res_show["value"_n] = features_value;
        }
    }
    //     interpret_result = {'key': 'local_ei', 'model': self.model, 'input': {'idx': idx}, 'value': res_show}
    py::dict interpret_result = sample_record("local_ei", self, idx, res_show);
    //     InterpretGraph.plot_ei_local(interpret_result, figsize=figsize)
    call({InterpretGraph().attr("plot_ei_local"_n), interpret_result, kw("figsize", figsize)});
    return py::none();
}
constexpr Row ei_local_row{Owner::api, method<ei_local>("ei_local", "self, idx, original_scale=False, figsize=(8, 6)")};

namespace {

// The body of plot_ei_local below its refusal of a record without a value.
void draw_ei_local(py::handle v, py::handle max_show_arg, py::handle figsize) {
    //     hbar1 = PlotHBar()
    py::object hbar1 = call({PlotHBar()});
    //     n = len(interpret_result['value']['value'])
    //     max_show = max_show if max_show < n else n
    py::object max_show = at_most(max_show_arg, length(v["value"_n]));
    //     hbar1.plot(X=v['x'][-max_show:], height=v['y'][-max_show:], value=v['value'][-max_show:],
    //                title=v['title'], mid_center=True, pos_color="#e74c3c", neg_color="#27ae60",
    //                figsize=figsize)
    plot_sample_bars(hbar1, v, max_show, figsize);
}

}  // namespace

// @staticmethod
// def plot_ei_local(interpret_result, max_show=10, figsize=(8, 6)):
py::object plot_ei_local(const Params<3>& args) { return sample_plot(args, draw_ei_local); }
constexpr Row plot_ei_local_row{Owner::graph, method<plot_ei_local>("plot_ei_local", "interpret_result, max_show=10, figsize=(8, 6)")};

// ---------------------------------------------------------------------------------------------
// Local feature importance

namespace {

// Rounds the values of one sample to 4 decimals; in original units a categorical feature's value
// is its label, which is kept as it is while the numbers beside it are rounded.
py::object rounded_values(py::handle values, bool may_hold_labels) {
    py::object array = call({np().attr("array"_n), values});
    if (may_hold_labels) {
        py::list labels;
        bool any_label = false;
        for (py::handle entry : array) {
            const bool label = PyUnicode_Check(entry.ptr()) || PyBytes_Check(entry.ptr());
            any_label = any_label || label;
            labels.append(py::bool_(label));
        }
        if (any_label) {
            // numbers = ~is_label; array[numbers] = np.round(array[numbers].astype(float), 4)
            py::object numbers = call({np().attr("logical_not"_n), labels});
            py::object as_float = call({py::object(array[numbers]).attr("astype"_n), builtin_float()});
            array[numbers] = call({np().attr("round"_n), as_float, py::int_(4)});
            return array;
        }
    }
    // np.round(np.array(values).astype(float), 4)
    py::object as_float = call({array.attr("astype"_n), builtin_float()});
    return call({np().attr("round"_n), as_float, py::int_(4)});
}

}  // namespace

// def fi_local(self, idx, centered=True, return_data=False, original_scale=False, figsize=(8, 6)):
py::object fi_local(const Params<6>& args) {
    auto [self, idx, centered, return_data, original_scale, figsize] = args;
    //     res = self.experiment.interpret_local_fi(model=self.model, sample_index=idx, centered=centered)
    py::object res = call({self.attr("experiment"_n).attr("interpret_local_fi"_n), kw("model", self.attr("model"_n)),
                           kw("sample_index", idx), kw("centered", centered)});
    //     if original_scale:
    const bool to_original = truthy(original_scale);
    if (to_original) {
        //     values = np.array(res["value"]).astype(float)
        py::object values = call({call({np().attr("array"_n), res["value"_n]}).attr("astype"_n), builtin_float()});
        //     converted = np.empty(values.shape, dtype=object)
        py::object converted =
            call({np().attr("empty"_n), values.attr("shape"_n), kw("dtype", global("object"))});
        //     for i, f in enumerate(res["x"]):
        //         t, _ = self.pipeline.transform_to_orignial_scale(f, np.array([values[i]]))
        //         converted[i] = t.ravel()[0]
        std::size_t i = 0;
        for (py::handle f : py::object(res["x"_n])) {
            py::int_ position(i++);
            py::object t =
                one_in_original_scale(self.attr("pipeline"_n), f, [&] { return values[position]; }, /*as_float=*/false);
            converted[position] = first_of(t);
        }
        //     res["value"] = converted
        res["value"_n] = converted;
    }
    //     res["value"] = np.round(np.array(res["value"]).astype(float), 4)
    res["value"_n] = rounded_values(res["value"_n], to_original);
    //     interpret_result = {'key': 'local_fi', 'model': self.model, 'input': {'idx': idx}, 'value': res}
    py::dict interpret_result = sample_record("local_fi", self, idx, res);
    //     InterpretGraph.plot_fi_local(interpret_result, figsize=figsize)
    call({InterpretGraph().attr("plot_fi_local"_n), interpret_result, kw("figsize", figsize)});
    //     if return_data: return interpret_result
    if (truthy(return_data)) {
        return interpret_result;
    }
    return py::none();
}
constexpr Row fi_local_row{Owner::api, method<fi_local>("fi_local", "self, idx, centered=True, return_data=False, original_scale=False, figsize=(8, 6)")};

namespace {

// The body of plot_fi_local below its refusal of a record without a value.
void draw_fi_local(py::handle v, py::handle max_show_arg, py::handle figsize) {
    //     max_show = max_show if max_show < len(v["value"]) else len(v["value"])
    py::object max_show = at_most(max_show_arg, length(v["value"_n]));
    //     hbar = PlotHBar()
    py::object hbar = call({PlotHBar()});
    //     if len(v) == 4:
    if (py::len(v) == 4) {
        //     hbar.plot(X=v["x"][-max_show:], height=v["y"][-max_show:], value=v["value"][-max_show:],
        //               title=v["title"], mid_center=True, pos_color="#e74c3c", neg_color="#27ae60",
        //               figsize=figsize)
        plot_sample_bars(hbar, v, max_show, figsize);
    } else {
        //     hbar.plot_stem(X=v["x"][-max_show:], height=v["y"][-max_show:], value=v["value"][-max_show:],
        //                    stem_value0=v["stem0"][-max_show:], stem_value1=v["stem1"][-max_show:],
        //                    title=v["title"], mid_center=True, pos_color="#e74c3c", neg_color="#27ae60",
        //                    figsize=figsize)
        call({hbar.attr("plot_stem"_n), kw("X", tail(v["x"_n], max_show)), kw("height", tail(v["y"_n], max_show)),
              kw("value", tail(v["value"_n], max_show)), kw("stem_value0", tail(v["stem0"_n], max_show)),
              kw("stem_value1", tail(v["stem1"_n], max_show)), kw("title", v["title"_n]),
              kw("mid_center", py::bool_(true)), kw("pos_color", "#e74c3c"), kw("neg_color", "#27ae60"),
              kw("figsize", figsize)});
    }
}

}  // namespace

// @staticmethod
// def plot_fi_local(interpret_result, max_show=10, figsize=(8, 6)):
py::object plot_fi_local(const Params<3>& args) { return sample_plot(args, draw_fi_local); }
constexpr Row plot_fi_local_row{Owner::graph, method<plot_fi_local>("plot_fi_local", "interpret_result, max_show=10, figsize=(8, 6)")};

// ---------------------------------------------------------------------------------------------
// Local linear models

namespace {

// Runs a view whose every failure is reported as "Not supported". Interrupts and exits pass:
// a Ctrl-C during a long drawing must stop it, not be reported as a refusal.
template <typename Body>
py::object or_not_supported(Body body) {
    try_except(body, [] { print("Not supported"); });
    return py::none();
}

}  // namespace

// def llm_df(self):
py::object llm_df(const Params<1>& args) {
    py::handle self = args[0];  // a name of its own: the guarded body is a lambda
    return or_not_supported([self] {
        //     df = self.experiment.interpret_result_dict[self.model].summary()
        py::object results = self.attr("experiment"_n).attr("interpret_result_dict"_n);
        py::object df = call({py::object(results[self.attr("model"_n)]).attr("summary"_n)});
        //     interpret_result = {'key': 'llm_summary', 'model': self.model, 'input': None, 'value': df}
        py::dict interpret_result = record("llm_summary", self.attr("model"_n), py::none(), df);
        //     display(interpret_result['value'])
        call({display(), interpret_result["value"_n]});
    });
}
constexpr Row llm_df_row{Owner::api, method<llm_df>("llm_df", "self")};

namespace {

// self.experiment.interpret_result_dict[self.model].<name>, looked up afresh; with `otherwise`,
// getattr(..., name, otherwise)
py::object llm_attribute(py::handle self, py::handle name, py::handle otherwise = py::handle()) {
    py::object results = self.attr("experiment"_n).attr("interpret_result_dict"_n);
    py::object llms = results[self.attr("model"_n)];
    return otherwise ? py::getattr(llms, name, otherwise) : llms.attr(name);
}

}  // namespace

// def llm_violin(self, figsize=(8, 6)):
py::object llm_violin(const Params<2>& args) {
    py::handle self = args[0], figsize = args[1];  // names of their own: the guarded body is a lambda
    return or_not_supported([self, figsize] {
        //     interpret_result = {'key': 'llm_violin', 'model': self.model, 'input': None,
        //                         'value': {'feature_names': <R>.feature_names,
        //                                   'all_bias_weight': <R>.all_bias_weight,
        //                                   'count_llms': <R>.count_llms,
        //                                   'feature_importance': <R>.feature_importance,
        //                                   'coefficient_label': getattr(<R>, 'coefficient_label', 'coefficient')}}
        py::object model = self.attr("model"_n);
        py::dict value;
        value["feature_names"_n] = llm_attribute(self, "feature_names"_n);
        value["all_bias_weight"_n] = llm_attribute(self, "all_bias_weight"_n);
        value["count_llms"_n] = llm_attribute(self, "count_llms"_n);
        value["feature_importance"_n] = llm_attribute(self, "feature_importance"_n);
        value["coefficient_label"_n] = llm_attribute(self, "coefficient_label"_n, py::str("coefficient"));
        py::dict interpret_result = record("llm_violin", model, py::none(), value);
        //     InterpretGraph.plot_llm_violin(interpret_result, figsize=figsize)
        call({InterpretGraph().attr("plot_llm_violin"_n), interpret_result, kw("figsize", figsize)});
    });
}
constexpr Row llm_violin_row{Owner::api, method<llm_violin>("llm_violin", "self, figsize=(8, 6)")};

namespace {

// The long-form frame of the violins, one row per (sample, shown feature), sample by sample:
//     df_b = np.concatenate([np.repeat(all_bias_weight[i, 1 + show_idx].reshape(1, -1), count_llms[i], axis=0)
//                            for i in range(all_bias_weight.shape[0])], 0)
//     df_c = np.repeat(np.array(feature_names)[show_idx].reshape(1, -1), df_b.shape[0], axis=0)
//     df = pd.DataFrame(np.concatenate([df_b.flatten().reshape(-1, 1), np.concatenate(df_c, 0).reshape(-1, 1)], 1),
//                       columns=["Coefficient", "features"])
//     df.Coefficient = df.Coefficient.astype(float)
// Joined into one array the coefficients become text and are read back as floats. Text holds a
// float64 or an integer exactly, so for these the frame is built from the numbers themselves, and
// the names are repeated as objects: nothing is formatted or parsed. Any other coefficients, or
// names that are not text, take the way through text.
py::object violin_frame(py::handle feature_names, py::handle all_bias_weight, py::handle count_llms,
                        py::handle show_idx) {
    py::object n_models = all_bias_weight.attr("shape"_n)[py::int_(0)];
    if (!truthy(n_models)) {
        // numpy's own refusal of an empty list of blocks
        call({np().attr("concatenate"_n), py::list(), py::int_(0)});
    }
    py::object columns = py::int_(1) + py::reinterpret_borrow<py::object>(show_idx);
    py::object counts = head(call({np().attr("asarray"_n), count_llms}), n_models);
    py::object df_b = call({np().attr("repeat"_n),
                            all_bias_weight[py::make_tuple(colon(), columns)],
                            counts, kw("axis", py::int_(0))});
    py::object names = call({np().attr("array"_n), feature_names})[show_idx];
    py::object n_rows = df_b.attr("shape"_n)[py::int_(0)];

    const char coefficient_kind = py::str(df_b.attr("dtype"_n).attr("kind"_n)).cast<std::string>().at(0);
    const bool exact_in_text = (coefficient_kind == 'f' && py::int_(df_b.attr("dtype"_n).attr("itemsize"_n)).cast<long>() == 8) ||
                               coefficient_kind == 'i' || coefficient_kind == 'u';
    const bool text_names = equals(names.attr("dtype"_n).attr("kind"_n), "U");
    if (exact_in_text && text_names) {
        py::dict data;
        data["Coefficient"_n] =
            call({call({df_b.attr("ravel"_n)}).attr("astype"_n), builtin_float(), kw("copy", py::bool_(false))});
        // pd.Series(np.tile(names.astype(object), n_rows), dtype="str", copy=False): the text
        // column that pandas makes of an array of text, without inferring it from ten million names
        py::object repeated = call({np().attr("tile"_n), call({names.attr("astype"_n), global("object")}), n_rows});
        data["features"_n] =
            call({pd().attr("Series"_n), repeated, kw("dtype", "str"), kw("copy", py::bool_(false))});
        return call({pd().attr("DataFrame"_n), data, kw("copy", py::bool_(false))});
    }
    py::object flat_b = call({call({df_b.attr("flatten"_n)}).attr("reshape"_n), py::int_(-1), py::int_(1)});
    if (text_names && truthy(call({np().attr("issubdtype"_n), df_b.attr("dtype"_n), np().attr("number"_n)}))) {
        flat_b = call({flat_b.attr("astype"_n), builtin_str()});
    }
    py::object df_c = call({np().attr("repeat"_n), call({names.attr("reshape"_n), py::int_(1), py::int_(-1)}), n_rows,
                            kw("axis", py::int_(0))});
    py::object flat_c = call({call({np().attr("concatenate"_n), df_c, py::int_(0)}).attr("reshape"_n), py::int_(-1),
                              py::int_(1)});
    py::list blocks;
    blocks.append(flat_b);
    blocks.append(flat_c);
    py::list labels;
    labels.append("Coefficient"_n);
    labels.append("features"_n);
    py::object df = call({pd().attr("DataFrame"_n), call({np().attr("concatenate"_n), blocks, py::int_(1)}), kw("columns", labels)});
    df.attr("Coefficient"_n) = call({df.attr("Coefficient"_n).attr("astype"_n), builtin_float()});
    return df;
}

// The violins of plot_llm_violin, which reads `max_show` of the enclosing call:
// def pc_violin_plot(feature_names, all_bias_weight, count_llms, feature_importance, tuple figsize=(6, 8),
//                    xlabel="coefficient"):
py::object pc_violin_plot(py::handle max_show, py::handle feature_names, py::handle all_bias_weight,
                          py::handle count_llms, py::handle feature_importance, py::handle figsize,
                          py::handle xlabel) {
    check_tuple_argument("figsize", figsize);
    //     fig = plt.figure(figsize=figsize)
    py::object fig = with_fonts(call({plt().attr("figure"_n), kw("figsize", figsize)}));
    //     plt.axvline(0, linestyle="--", color="black")
    call({plt().attr("axvline"_n), py::int_(0), kw("linestyle", "--"), kw("color", "black")});
    //     show_idx = np.argsort(feature_importance)[-max_show:][::-1]
    py::object show_idx = reversed(tail(call({np().attr("argsort"_n), feature_importance}), max_show));
    //     df = <the long-form frame of (Coefficient, features)>
    py::object df = violin_frame(feature_names, all_bias_weight, count_llms, show_idx);
    //     order = np.array(feature_names)[show_idx]
    py::object order = call({np().attr("array"_n), feature_names})[show_idx];
    //     sns.violinplot(data=df, x="Coefficient", y="features", density_norm="width", inner="box", orient="h",
    //                    order=order)
    call({sns().attr("violinplot"_n), kw("data", df), kw("x", "Coefficient"), kw("y", "features"),
          kw("density_norm", "width"), kw("inner", "box"), kw("orient", "h"), kw("order", order)});
    //     plt.xlabel(xlabel)
    call({plt().attr("xlabel"_n), xlabel});
    //     plt.ylabel("", fontsize=12)
    call({plt().attr("ylabel"_n), "", kw("fontsize", py::int_(12))});
    //     plt.title("Violin Plot of LLM Coefficients", fontsize=15)
    call({plt().attr("title"_n), "Violin Plot of LLM Coefficients", kw("fontsize", py::int_(15))});
    //     plt.tight_layout()
    call({plt().attr("tight_layout"_n)});
    //     plt.show()
    call({plt().attr("show"_n)});
    return fig;
}

}  // namespace

// @staticmethod
// def plot_llm_violin(interpret_result, max_show=10, figsize=(8, 6)):
py::object plot_llm_violin(const Params<3>& args) {
    auto [interpret_result, max_show, figsize_unused] = args;
    (void)figsize_unused;  // the height follows from the number of features
    //     height = min(len(interpret_result['value']['feature_names']) * 0.5 + 1.5, 8)
    const double height =
        std::min(static_cast<double>(py::len(interpret_result["value"_n]["feature_names"_n])) * 0.5 + 1.5, 8.0);
    //     pc_violin_plot(feature_names=interpret_result['value']['feature_names'],
    //                    all_bias_weight=interpret_result['value']['all_bias_weight'],
    //                    count_llms=interpret_result['value']['count_llms'],
    //                    feature_importance=interpret_result['value']['feature_importance'],
    //                    figsize=(6, height))
    py::object feature_names = interpret_result["value"_n]["feature_names"_n];
    py::object all_bias_weight = interpret_result["value"_n]["all_bias_weight"_n];
    py::object count_llms = interpret_result["value"_n]["count_llms"_n];
    py::object feature_importance = interpret_result["value"_n]["feature_importance"_n];
    //                    xlabel=<what a coefficient is>)
    pc_violin_plot(max_show, feature_names, all_bias_weight, count_llms, feature_importance,
                   py::make_tuple(py::int_(6), py::float_(height)), coefficient_label(interpret_result["value"_n]));
    return py::none();
}
constexpr Row plot_llm_violin_row{Owner::graph, method<plot_llm_violin>("plot_llm_violin", "interpret_result, max_show=10, figsize=(8, 6)")};

// The rows of this unit's methods, in their order in the two classes.
Rows local_rows() { return {ei_local_row, fi_local_row, llm_df_row, llm_violin_row, plot_ei_local_row, plot_fi_local_row, plot_llm_violin_row}; }

}  // namespace vexo
