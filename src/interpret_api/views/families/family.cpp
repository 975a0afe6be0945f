// What the units of the families share.
#include "views/families/family.h"

namespace vexo {

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

void plot_additive_effect(const EffectLayout& layout, py::handle main_effect_plot, py::handle value,
                          py::handle scaler, py::handle figsize) {
    py::object output = value["output"_n];
    auto read = [&](const Entry& entry) -> py::object {
        if (entry.in == In::density) {
            return output["density"_n][interned(entry.key)];
        }
        return (entry.in == In::value ? value : py::handle(output))[interned(entry.key)];
    };
    if (equals(value["feature_type"_n], "categorical")) {
        if (layout.ticks) {
            call({method(main_effect_plot, "plot"), value["feature_type"_n], kw("importance", read(layout.importance)),
                  kw("categories", read(layout.categories)), kw("height", read(layout.height)),
                  kw("density_names", read(layout.density_names)), kw("scores", output["density"_n]["scores"_n]),
                  kw("xticks", output["input_ticks"_n]), kw("xticks_label", output["input_labels"_n]),
                  kw("figsize", figsize), kw("scaler", scaler)});
        } else {
            call({method(main_effect_plot, "plot"), value["feature_type"_n], kw("importance", read(layout.importance)),
                  kw("categories", read(layout.categories)), kw("height", read(layout.height)),
                  kw("density_names", read(layout.density_names)), kw("scores", output["density"_n]["scores"_n]),
                  kw("figsize", figsize), kw("scaler", scaler)});
        }
    } else if (layout.curve_of_any_type || equals(value["feature_type"_n], "continuous")) {
        call({method(main_effect_plot, "plot"), value["feature_type"_n], kw("importance", read(layout.importance)),
              kw("density_names", output["density"_n]["names"_n]), kw("scores", output["density"_n]["scores"_n]),
              kw("xgrid", read(layout.xgrid)), kw("ygrid", read(layout.ygrid)), kw("figsize", figsize),
              kw("scaler", scaler)});
    }
}

namespace {

// The pair string under which the experiment lists the pair, in either order; None when neither.
py::object active_pair(const PairArgs& args) {
    for (py::handle feature_combine : {args.feature_combine_01, args.feature_combine_10}) {
        py::object act_inter_lis = args.self.attr("experiment"_n).attr("act_inter_lis"_n);
        if (contains(act_inter_lis[args.self.attr("model"_n)], feature_combine)) {
            return py::reinterpret_borrow<py::object>(feature_combine);
        }
    }
    return py::none();
}

}  // namespace

std::optional<py::object> active_pair_key(const PairArgs& args) {
    py::object feature_combine = active_pair(args);
    if (feature_combine.is_none()) {
        print("No this interaction effect");
        return std::nullopt;
    }
    py::object inter_effect_trunc_dict = args.self.attr("experiment"_n).attr("inter_effect_trunc_dict"_n);
    py::dict inverse_dict = inverted(inter_effect_trunc_dict[args.self.attr("model"_n)]);
    return py::object(inverse_dict[feature_combine]);
}

py::dict pair_input(py::handle pair_key) {
    py::dict input;
    input["feature_combine"_n] = pair_key;
    return input;
}

void heat_map(py::handle interpret_result, py::handle grid, py::handle extent, py::handle figsize,
              py::handle scaler) {
    py::object heat_plot = call({PlotHeatmap(), kw("mesh_grid", py::int_(100)),
                                 kw("feature_combine", interpret_result["input"_n]["feature_combine"_n])});
    call({method(heat_plot, "plot_interpret"), kw("mat_value", interpret_result["value"_n][grid]),
          kw("extent", interpret_result["value"_n][extent]),
          kw("importance", interpret_result["value"_n]["importance"_n]), kw("figsize", figsize),
          kw("scaler", scaler)});
}

}  // namespace vexo
