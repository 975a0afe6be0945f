// The local-linear-model plots of the effect views: the profile of the models along one feature,
// and the pair plot of their weights over chosen features.
#include "views/llm_plots.h"

#include "views/idioms.h"

namespace vexo {

namespace {

// The density strip's colour in the effect plots of the additive families.
constexpr char kDensity[] = "#a9bbd8";

// What the models' weights are weights of, as the experiment's weights say (an EffectValues'
// axis_label: "effect on the prediction of price"), else "effect".
// getattr(all_weights, "axis_label", None) or "effect"
py::object measured(py::handle all_weights) {
    py::object label = py::getattr(all_weights, "axis_label"_n, py::none());
    return truthy(label) ? label : py::str("effect");
}

// The samples' distribution along the feature, as the additive families draw theirs: the share of
// the samples at each value where they take at most 20 (a category's codes, a 0/1 flag), else in
// each of 20 equal bins over their range.
// def density_strip(ax, values):
//     levels, counts = np.unique(values, return_counts=True)
//     if len(levels) <= 20:
//         ax.bar(levels, counts / len(values), width=0.8 * np.min(np.diff(levels), initial=1.0),
//                color=DENSITY, edgecolor="white", linewidth=0.5)
//     else:
//         heights, edges = np.histogram(values, bins=20)
//         ax.bar(edges[:-1], heights / len(values), width=np.diff(edges), align="edge",
//                color=DENSITY, edgecolor="white", linewidth=0.5)
//     ax.set_ylabel("share of samples")
void density_strip(py::handle ax, py::handle values) {
    auto [levels, counts] = unpack_two(call({method(np(), "unique"), values, kw("return_counts", py::bool_(true))}));
    py::int_ n = length(values);
    if (py::len(levels) <= 20) {
        py::object gaps = call({method(np(), "diff"), levels});
        py::object width = py::float_(0.8) * call({method(np(), "min"), gaps, kw("initial", py::float_(1.0))});
        call({method(ax, "bar"), levels, counts / n, kw("width", width), kw("color", kDensity),
              kw("edgecolor", "white"), kw("linewidth", py::float_(0.5))});
    } else {
        auto [heights, edges] = unpack_two(call({method(np(), "histogram"), values, kw("bins", py::int_(20))}));
        call({method(ax, "bar"), head(edges, py::int_(-1)), heights / n, kw("width", call({method(np(), "diff"), edges})),
              kw("align", "edge"), kw("color", kDensity), kw("edgecolor", "white"), kw("linewidth", py::float_(0.5))});
    }
    call({method(ax, "set_ylabel"), "share of samples"});
}

// The axis labels longer than the axes they label (a long target's or feature's name would pass
// its neighbours and the figure's edge) wrapped to them, and the grid laid out again around them.
// def fit_labels(fig, grid, rect):
//     text._fit_overlong_labels(fig)
//     grid.tight_layout(fig, rect=rect)
void fit_labels(py::handle fig, py::handle grid, py::handle rect) {
    call({py::module_::import("vexo.workflow.plots.text").attr("_fit_overlong_labels"), fig});
    call({method(grid, "tight_layout"), fig, kw("rect", rect)});
}

}  // namespace

// The profile of the local linear models along one feature: one centred line per model over the
// range of its samples, above the distribution of all the samples.
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
        raise(call({global("ValueError"), remainder(message, n_features)}));
    }
    py::object col = py::reinterpret_borrow<py::object>(feature_id) - one;
    //     nllms = nllms_top if nllms_top < 30 else 30
    py::object nllms = at_most(nllms_top, py::int_(30));
    //     fig = plt.figure(figsize=figsize)
    py::object fig = with_fonts(call({method(plt(), "figure"), kw("figsize", figsize)}));
    //     grid = gridspec.GridSpec(2, 1, wspace=0.1, hspace=0.1, height_ratios=[2, 1])
    py::object grid = call({method(gridspec(), "GridSpec"), py::int_(2), py::int_(1), kw("wspace", py::float_(0.1)),
                            kw("hspace", py::float_(0.1)), kw("height_ratios", list_of({2, 1}))});
    //     upper = plt.Subplot(fig, grid[0])
    py::object upper = call({method(plt(), "Subplot"), fig, grid[py::int_(0)]});
    //     lower = plt.Subplot(fig, grid[1])
    py::object lower = call({method(plt(), "Subplot"), fig, grid[py::int_(1)]});
    //     label = "a local linear model on its samples (dots)"
    py::object label = py::str("a local linear model on its samples (dots)");
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
        //         upper.plot(xx[idx], yy[idx], '-o', label=label)
        //         label = "_nolegend_"      # one entry stands for every model
        //     except Exception:
        //         pass
        try_except_pass([&] {
            call({method(upper, "plot"), xx[idx], yy[idx], "-o", kw("label", label)});
            label = py::str("_nolegend_");
        });
    }
    //     values = x[:, feature_id - 1]
    py::object values = at(x, colon(), col);
    //     density_strip(lower, values)
    density_strip(lower, values);
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
    //     upper.set_ylabel(measured(all_weights) + "\n(each model's part, centred)")
    call({method(upper, "set_ylabel"), measured(all_weights) + py::str("\n(each model's part, centred)")});
    //     if label == "_nolegend_":
    //         upper.legend(loc="best")
    //     else:       # no model drawn: say why the panel is blank
    //         upper.text(0.5, 0.5, "No local linear model's samples vary in " + feature_names[feature_id - 1],
    //                    transform=upper.transAxes, ha="center", va="center", color="#5f5f5f")
    if (equals(label, "_nolegend_")) {
        call({method(upper, "legend"), kw("loc", "best")});
    } else {
        call({method(upper, "text"), py::float_(0.5), py::float_(0.5),
              py::str("No local linear model's samples vary in ") + feature_names[col],
              kw("transform", upper.attr("transAxes"_n)), kw("ha", "center"), kw("va", "center"),
              kw("color", "#5f5f5f")});
    }
    //     upper.tick_params(labelbottom=False)
    call({method(upper, "tick_params"), kw("labelbottom", py::bool_(false))});
    //     lower.sharex(upper)
    call({method(lower, "sharex"), upper});
    //     lower.autoscale()
    call({method(lower, "autoscale")});
    //     name = feature_names_full[feature_id - 1]
    //     if scaler is None and ((values >= 0) & (values <= 1)).all():  # in model scale, 0 to 1
    //         name = name + " (scaled to 0–1)"
    //     lower.set_xlabel(name)
    py::object name = feature_names_full[col];
    if (scaler.is_none()) {
        py::object in_unit = compare(values, py::int_(0), Py_GE) & compare(values, py::int_(1), Py_LE);
        if (truthy(call({method(in_unit, "all")}))) {
            name = name + py::str(" (scaled to 0\u20131)");
        }
    }
    call({method(lower, "set_xlabel"), name});
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
    //     fit_labels(fig, grid, (0, 0, 1, 1))
    fit_labels(fig, grid, py::make_tuple(0, 0, 1, 1));
    //     plt.show()
    call({method(plt(), "show")});
}

// ---------------------------------------------------------------------------------------------
// Pair plot: on the diagonal each feature's weight against the models' centres along it, with its
// trend; off the diagonal what is left of the weight once that trend is removed, against the
// centres along the other feature. Feature 0 stands for the intercept.

namespace {

// What every panel of the pair plot reads.
struct Panels {
    py::handle count_llms, all_weights, center_llms, all_biases, feature_names, feature_names_full, scaler;
    py::object nllms;
    py::float_ frac;
    py::object rgba_colors;
    std::size_t row_length;
};

// np.repeat(values, repeats=count_llms[:nllms]): one copy per sample of each model. `values` is
// evaluated where Python evaluates the argument, after np.repeat is looked up.
template <typename Values>
py::object per_sample(const Panels& p, Values values) {
    return call({method(np(), "repeat"), values(), kw("repeats", head(p.count_llms, p.nllms))});
}

// lowess(np.repeat(y, repeats=count_llms[:nllms]), np.repeat(center_llms[:nllms, column],
//        repeats=count_llms[:nllms]), frac=frac[, return_sorted=False])
template <typename Y>
py::object trend(const Panels& p, Y y, py::handle column, bool sorted) {
    py::object smoother = lowess();
    py::object endog = per_sample(p, y);
    py::object exog = per_sample(p, [&] { return head_column(p.center_llms, p.nllms, column); });
    if (sorted) {
        return call({smoother, endog, exog, kw("frac", p.frac)});
    }
    return call({smoother, endog, exog, kw("frac", p.frac), kw("return_sorted", py::bool_(false))});
}

// What the legend of the pair plot says of its marks.
constexpr char kModelDots[] = "a local linear model (the more samples, the darker)";
constexpr char kTrend[] = "trend over the models, weighted by their samples (LOWESS)";

// The trend line of a panel, through the sorted smoother output.
// ax.plot(xygrid[:, 0], xygrid[:, 1], linewidth=2, linestyle="--", c="red", label=TREND)
void trend_line(py::handle ax, py::handle xygrid) {
    call({method(ax, "plot"), at(xygrid, colon(), py::int_(0)), at(xygrid, colon(), py::int_(1)),
          kw("linewidth", py::int_(2)), kw("linestyle", "--"), kw("c", "red"), kw("label", kTrend)});
}

// feature - 1: the column of a feature among the weights and centres, which have no intercept.
py::object column_of(py::handle feature) { return py::reinterpret_borrow<py::object>(feature) - py::int_(1); }

// The content of the panel of row fidx and column fidy.
void draw_panel(const Panels& p, py::handle ax, py::handle fidx, py::handle fidy, py::handle xygrid_diag,
                py::handle offdiagsmooth) {
    py::int_ zero(0);
    const bool row_intercept = truthy(compare(fidx, zero, Py_EQ));
    //     if fidx == 0 and fidy == 0:
    //         ax.boxplot(all_biases[:nllms])
    if (row_intercept && truthy(compare(fidy, zero, Py_EQ))) {
        call({method(ax, "boxplot"), head(p.all_biases, p.nllms)});
    //     elif fidx == 0:
    } else if (row_intercept) {
        py::object ctr_column = column_of(fidy);
        //     xygrid = lowess(np.repeat(all_biases[:nllms].ravel(), repeats=count_llms[:nllms]),
        //                     np.repeat(center_llms[:nllms, fidy - 1], repeats=count_llms[:nllms]),
        //                     frac=frac)
        py::object xygrid = trend(p, [&] { return call({method(head(p.all_biases, p.nllms), "ravel")}); }, ctr_column,
                                  true);
        //     ax.scatter(center_llms[:nllms, fidy - 1], all_biases[:nllms].ravel(), color=rgba_colors,
        //                label=MODEL_DOTS)
        call({method(ax, "scatter"), head_column(p.center_llms, p.nllms, ctr_column),
              call({method(head(p.all_biases, p.nllms), "ravel")}), kw("color", p.rgba_colors),
              kw("label", kModelDots)});
        trend_line(ax, xygrid);
    //     elif fidy == 0:
    //         ax.boxplot(all_weights[:nllms, fidx - 1])
    } else if (truthy(compare(fidy, zero, Py_EQ))) {
        call({method(ax, "boxplot"), head_column(p.all_weights, p.nllms, column_of(fidx))});
    //     elif fidx == fidy:
    } else if (truthy(compare(fidx, fidy, Py_EQ))) {
        py::object wts_column = column_of(fidx);
        py::object ctr_column = column_of(fidy);
        //     xygrid = lowess(np.repeat(all_weights[:nllms, fidx - 1], repeats=count_llms[:nllms]),
        //                     np.repeat(center_llms[:nllms, fidy - 1], repeats=count_llms[:nllms]),
        //                     frac=frac)
        py::object xygrid = trend(p, [&] { return head_column(p.all_weights, p.nllms, wts_column); }, ctr_column, true);
        //     ax.scatter(center_llms[:nllms, fidy - 1], all_weights[:nllms, fidx - 1], color=rgba_colors,
        //                label=MODEL_DOTS)
        call({method(ax, "scatter"), head_column(p.center_llms, p.nllms, ctr_column),
              head_column(p.all_weights, p.nllms, wts_column), kw("color", p.rgba_colors), kw("label", kModelDots)});
        trend_line(ax, xygrid);
    } else {
        py::object wts_column = column_of(fidx);
        py::object ctr_column = column_of(fidy);
        //     res = all_weights[:nllms, fidx - 1] - xygrid_diag[np.cumsum(count_llms[:nllms]) - 1]
        py::object wts = head_column(p.all_weights, p.nllms, wts_column);
        py::object last_copies = call({method(np(), "cumsum"), head(p.count_llms, p.nllms)}) - py::int_(1);
        py::object res = wts - xygrid_diag[last_copies];
        //     a = np.repeat(center_llms[:nllms, fidy - 1], repeats=count_llms[:nllms])
        py::object a = per_sample(p, [&] { return head_column(p.center_llms, p.nllms, ctr_column); });
        //     b = np.repeat(res, repeats=count_llms[:nllms])
        py::object b = per_sample(p, [&] { return res; });
        //     ax.scatter(center_llms[:nllms, fidy - 1], res, color=rgba_colors)
        call({method(ax, "scatter"), head_column(p.center_llms, p.nllms, ctr_column), res,
              kw("color", p.rgba_colors)});
        //     if offdiagsmooth:
        //         xygrid = lowess(b, a, frac=frac)
        if (truthy(offdiagsmooth)) {
            py::object xygrid = call({lowess(), b, a, kw("frac", p.frac)});
            trend_line(ax, xygrid);
        }
    }
}

// The labels, ticks and limits of the panel in row i, column j.
void frame_panel(const Panels& p, py::handle ax, std::size_t i, std::size_t j, py::handle fidx, py::handle fidy,
                 py::handle abs_range) {
    py::int_ zero(0);
    //     if j == 0:
    //         if fidx == 0: ax.set_ylabel("b0", fontsize=15)
    //         else: ax.set_ylabel("w(" + feature_names[fidx - 1] + ")", fontsize=13)
    if (j == 0) {
        if (truthy(compare(fidx, zero, Py_EQ))) {
            call({method(ax, "set_ylabel"), "b0", kw("fontsize", py::int_(15))});
        } else {
            py::object set_ylabel = ax.attr("set_ylabel"_n);
            py::object label = py::str("w(") + p.feature_names[column_of(fidx)];
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
            call({method(ax, "set_title"), p.feature_names[column_of(fidy)], kw("fontsize", py::int_(13))});
        }
    }
    //     if i < row_length - 1:
    //         ax.axes.xaxis.set_ticklabels([])
    //     elif fidy > 0 and scaler is not None:
    //         scale_plot_ticks(ax=ax, feature=feature_names_full[fidy - 1], scaler=scaler, axis=0)
    // The intercept column has no feature whose units its ticks could take.
    if (i + 1 < p.row_length) {
        call({method(ax.attr("axes"_n).attr("xaxis"_n), "set_ticklabels"), py::list()});
    } else if (truthy(compare(fidy, zero, Py_GT)) && !p.scaler.is_none()) {
        call({scale_plot_ticks(), kw("ax", ax), kw("feature", p.feature_names_full[column_of(fidy)]),
              kw("scaler", p.scaler), kw("axis", py::int_(0))});
    }
    //     if j > 0:
    //         ax.axes.yaxis.set_ticklabels([])
    if (j > 0) {
        call({method(ax.attr("axes"_n).attr("yaxis"_n), "set_ticklabels"), py::list()});
    }
    //     ax.axhline(0, linestyle="--", color="black", label="zero")
    call({method(ax, "axhline"), zero, kw("linestyle", "--"), kw("color", "black"), kw("label", "zero")});
    //     ax.set_ylim(-abs_range, abs_range)
    call({method(ax, "set_ylim"), -py::reinterpret_borrow<py::object>(abs_range), abs_range});
    //     ax.tick_params(axis="both", which="both", length=0)
    call({method(ax, "tick_params"), kw("axis", "both"), kw("which", "both"), kw("length", zero)});
}

// abs_range = 1.1 * max(abs(all_bias_weight[:nllms, fidx].min()), abs(all_bias_weight[:nllms, fidx].max()))
py::object row_range(const Panels& p, py::handle all_bias_weight, py::handle fidx) {
    //     ymin = all_bias_weight[:nllms, fidx].min()
    py::object ymin = call({method(head_column(all_bias_weight, p.nllms, fidx), "min")});
    //     ymax = all_bias_weight[:nllms, fidx].max()
    py::object ymax = call({method(head_column(all_bias_weight, p.nllms, fidx), "max")});
    //     abs_range = 1.1 * max(abs(ymin), abs(ymax))
    py::object largest = absolute(ymin);
    py::object candidate = absolute(ymax);
    if (truthy(compare(candidate, largest, Py_GT))) {
        largest = candidate;
    }
    return py::float_(1.1) * largest;
}

// The legend under the panels: what the dots, the trend and the dashed zero are, and what a weight
// w(f) measures. Returns the share of the figure's height that it takes.
// def explain_marks(fig, all_weights):
//     handles, labels = [], []          # each mark once, from whichever panel draws it
//     for ax in fig.axes:
//         for handle, label in zip(*ax.get_legend_handles_labels()):
//             if label not in labels:
//                 handles.append(handle)
//                 labels.append(label)
//     legend = fig.legend(handles, labels, loc="lower center", ncol=2, frameon=False,
//                         title=textwrap.fill(
//                             "w(f): the weight of feature f in a local linear model: its "
//                             + measured(all_weights) + " per unit of f as the model takes it "
//                             "(numbers scaled to 0–1, categories as codes); off the diagonal, "
//                             "the weight less its trend", width=int(12 * fig.get_figwidth())))
//     return legend.get_window_extent().height / fig.bbox.height + 0.01
py::object explain_marks(py::handle fig, py::handle all_weights) {
    py::list handles;
    py::list labels;
    for (py::handle ax : fig.attr("axes"_n)) {
        auto [drawn, named] = unpack_two(call({method(ax, "get_legend_handles_labels")}));
        for (py::handle pair : call({global("zip"), drawn, named})) {
            auto [handle, label] = unpack_two(pair);
            if (!contains(labels, label)) {
                handles.append(handle);
                labels.append(label);
            }
        }
    }
    py::object title = py::str("w(f): the weight of feature f in a local linear model: its ") + measured(all_weights);
    title = title + py::str(" per unit of f as the model takes it (numbers scaled to 0\u20131, categories as codes); "
                            "off the diagonal, the weight less its trend");
    // about twelve characters of the legend's type to an inch: the title fits the figure's width
    py::object width = py::int_(py::float_(12.0) * call({method(fig, "get_figwidth")}));
    title = call({py::module_::import("textwrap").attr("fill"), title, kw("width", width)});
    py::object legend = call({method(fig, "legend"), handles, labels, kw("loc", "lower center"),
                              kw("ncol", py::int_(2)), kw("frameon", py::bool_(false)), kw("title", title)});
    py::object extent = call({method(legend, "get_window_extent")});
    return extent.attr("height"_n) / fig.attr("bbox"_n).attr("height"_n) + py::float_(0.01);
}

}  // namespace

py::object pair_plot(const PairPlotArgs& args, py::handle scaler) {
    check_list_argument("feature_idx", args.feature_idx);
    check_tuple_argument("figsize", args.figsize);
    py::object feature_idx = py::reinterpret_borrow<py::object>(args.feature_idx);
    py::int_ zero(0);
    Panels p{args.count_llms, args.all_weights, args.center_llms, args.all_biases, args.feature_names,
             args.feature_names_full, scaler, py::none(), py::float_(args.frac), py::none(), 0};

    //     row_length = len(feature_idx)
    p.row_length = py::len(feature_idx);
    //     nllms = nllms_top if nllms_top < nllms else nllms
    p.nllms = at_most(args.nllms_top, args.nllms);
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
    py::object fig = with_fonts(call({method(plt(), "figure"), kw("figsize", args.figsize)}));
    //     gs = gridspec.GridSpec(row_length, row_length, wspace=0.2, hspace=0.2)
    py::object gs = call({method(gridspec(), "GridSpec"), py::int_(p.row_length), py::int_(p.row_length),
                          kw("wspace", py::float_(0.2)), kw("hspace", py::float_(0.2))});
    //     rgba_colors = np.zeros((nllms, 4))
    p.rgba_colors = call({method(np(), "zeros"), py::make_tuple(p.nllms, 4)});
    //     rgba_colors[:, 2] = 1.0
    p.rgba_colors[py::make_tuple(colon(), 2)] = py::float_(1.0);
    //     rgba_colors[:, 3] = count_llms[:nllms] / np.max(count_llms[:nllms])
    py::object counts = head(p.count_llms, p.nllms);
    p.rgba_colors[py::make_tuple(colon(), 3)] = counts / call({method(np(), "max"), head(p.count_llms, p.nllms)});

    py::object xygrid_diag = py::none();
    //     for i, fidx in enumerate(feature_idx):
    std::size_t i = 0;
    for (py::handle fidx : feature_idx) {
        py::object abs_range = row_range(p, args.all_bias_weight, fidx);
        //     if fidx > 0:
        //         xygrid_diag = lowess(np.repeat(all_weights[:nllms, fidx - 1], repeats=count_llms[:nllms]),
        //                              np.repeat(center_llms[:nllms, fidx - 1], repeats=count_llms[:nllms]),
        //                              frac=frac, return_sorted=False)
        if (truthy(compare(fidx, zero, Py_GT))) {
            py::object column = column_of(fidx);
            xygrid_diag = trend(p, [&] { return head_column(p.all_weights, p.nllms, column); }, column, false);
        }
        //     for j, fidy in enumerate(feature_idx):
        std::size_t j = 0;
        for (py::handle fidy : feature_idx) {
            //     ax = plt.Subplot(fig, gs[i * row_length + j])
            py::object ax = call({method(plt(), "Subplot"), fig, gs[py::int_(i * p.row_length + j)]});
            //     <the panel's content>
            draw_panel(p, ax, fidx, fidy, xygrid_diag, args.offdiagsmooth);
            //     <its labels, ticks and limits>
            frame_panel(p, ax, i, j, fidx, fidy, abs_range);
            //     fig.add_subplot(ax)
            call({method(fig, "add_subplot"), ax});
            ++j;
        }
        ++i;
    }
    //     for j in range(row_length):   # a column's panels take the x limits of its bottom panel,
    //         for i in range(row_length - 1):   # whose ticks are in the feature's units
    //             fig.axes[i * row_length + j].set_xlim(fig.axes[(row_length - 1) * row_length + j].get_xlim())
    py::object axes = fig.attr("axes"_n);
    for (std::size_t column = 0; column < p.row_length; ++column) {
        for (std::size_t row = 0; row + 1 < p.row_length; ++row) {
            py::object limits = call({method(axes[py::int_((p.row_length - 1) * p.row_length + column)], "get_xlim")});
            call({method(axes[py::int_(row * p.row_length + column)], "set_xlim"), limits});
        }
    }
    //     room = explain_marks(fig, all_weights)
    py::object room = explain_marks(fig, args.all_weights);
    //     gs.tight_layout(fig, rect=(0, room, 1, 1))
    call({method(gs, "tight_layout"), fig, kw("rect", py::make_tuple(0, room, 1, 1))});
    //     fit_labels(fig, gs, (0, room, 1, 1))
    fit_labels(fig, gs, py::make_tuple(0, room, 1, 1));
    //     plt.show()
    call({method(plt(), "show")});
    //     return fig
    return fig;
}

}  // namespace vexo
