// Module and dispatch: what the module imports, the two classes and their method table, the
// constructor of InterpretAPI and its dispatcher model_interpret.
#include "interpret_api.h"

#include <initializer_list>

namespace vexo {

using namespace pybind11::literals;

namespace {

// The method table. Every parameter may be given by position or by keyword.
const Method kInterpretAPI[] = {
    {"__init__", "self, experiment=None, model=''", init},
    {"model_interpret",
     "self, show=None, uni_feature=None, bi_features=None, sample_id=0, return_data=False, root=0, "
     "depth=3, centered=True, original_scale=False, figsize=(8, 6)",
     model_interpret},
    {"fi", "self, return_data=False, figsize=(8, 6)", fi},
};

const Method kInterpretGraph[] = {
    {"plot_fi", "interpret_result, max_show=10, figsize=(8, 6)", plot_fi},
};

// A name imported by a from-import, bound in the module namespace under `as`.
struct Alias {
    const char* name;
    const char* as;
};

// from <module> import <name> as <as>, ...; level 1 imports from this module's own package.
void import_from(py::dict ns, const char* module, std::initializer_list<Alias> names, int level = 0) {
    py::list fromlist;
    for (const Alias& alias : names) {
        fromlist.append(alias.name);
    }
    py::object imported = global("__import__")(module, ns, py::none(), fromlist, level);
    for (const Alias& alias : names) {
        if (!py::hasattr(imported, alias.name)) {
            throw py::import_error(std::string("cannot import name '") + alias.name + "' from '" +
                                   py::str(imported.attr("__name__"_n)).cast<std::string>() + "'");
        }
        ns[alias.as] = imported.attr(alias.name);
    }
}

// import <module> as <as>
void import_module(py::dict ns, const char* module, const char* as) {
    ns[as] = global("__import__")(module, ns, py::none(), py::none(), 0);
}

// class <name>(object): <methods>
py::object make_class(const char* name, py::handle module_name, const Method* begin, const Method* end,
                      bool static_methods) {
    py::dict body;
    body["__module__"_n] = module_name;
    body["__qualname__"_n] = name;
    for (const Method* m = begin; m != end; ++m) {
        py::object function = make_function(*m, name, module_name);
        body[m->name] = static_methods ? global("staticmethod")(function) : function;
    }
    return py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyType_Type))(
        name, py::make_tuple(global("object")), body);
}

}  // namespace

void populate_module(py::handle module) {
    py::dict ns = module.attr("__dict__"_n);
    py::str module_name(kModuleName);

    // from copy import deepcopy
    import_from(ns, "copy", {{"deepcopy", "deepcopy"}});
    // import numpy as np
    import_module(ns, "numpy", "np");
    // import pandas as pd
    import_module(ns, "pandas", "pd");
    // import seaborn as sns
    import_module(ns, "seaborn", "sns");
    // from IPython.display import display
    import_from(ns, "IPython.display", {{"display", "display"}});
    // from matplotlib import gridspec
    import_from(ns, "matplotlib", {{"gridspec", "gridspec"}});
    // from matplotlib import pyplot as plt
    import_from(ns, "matplotlib", {{"pyplot", "plt"}});
    // from sklearn.tree import plot_tree
    import_from(ns, "sklearn.tree", {{"plot_tree", "plot_tree"}});
    // from statsmodels.nonparametric.smoothers_lowess import lowess
    import_from(ns, "statsmodels.nonparametric.smoothers_lowess", {{"lowess", "lowess"}});
    // from .plots import PlotHeatmap, PlotEffect, PlotHBar
    import_from(ns, "plots", {{"PlotHeatmap", "PlotHeatmap"}, {"PlotEffect", "PlotEffect"}, {"PlotHBar", "PlotHBar"}}, 1);
    // from .plots import scale_plot_ticks
    import_from(ns, "plots", {{"scale_plot_ticks", "scale_plot_ticks"}}, 1);

    ns["InterpretAPI"_n] = make_class("InterpretAPI", module_name, std::begin(kInterpretAPI),
                                    std::end(kInterpretAPI), false);
    ns["InterpretGraph"_n] = make_class("InterpretGraph", module_name, std::begin(kInterpretGraph),
                                      std::end(kInterpretGraph), true);
    ns["__test__"_n] = py::dict();
}

// def __init__(self, experiment=None, model=''):
py::object init(const Args& args) {
    auto [self, experiment, model] = args.unpack<3>();
    //     self.experiment = experiment
    self.attr("experiment"_n) = experiment;
    //     self.model = model
    self.attr("model"_n) = model;
    //     self.pipeline = experiment.registered_pipeline[self.model]
    self.attr("pipeline"_n) = experiment.attr("registered_pipeline"_n)[self.attr("model"_n)];
    //     if self.model not in self.experiment.interpret_result_dict.keys():
    //         self.experiment.interpret_single(self.model)
    py::object computed = self.attr("experiment"_n).attr("interpret_result_dict"_n).attr("keys"_n)();
    if (!contains(computed, self.attr("model"_n))) {
        self.attr("experiment"_n).attr("interpret_single"_n)(self.attr("model"_n));
    }
    return py::none();
}

// def model_interpret(self, show=None, uni_feature=None, bi_features=None, sample_id=0,
//                     return_data=False, root=0, depth=3, centered=True, original_scale=False,
//                     figsize=(8, 6)):
py::object model_interpret(const Args& args) {
    auto [self, show, uni_feature, bi_features, sample_id, return_data, root, depth, centered, original_scale,
          figsize] = args.unpack<11>();
    if (equals(show, "global_fi")) {
        py::object res = self.attr("fi"_n)("return_data"_a = return_data, "figsize"_a = figsize);
        return truthy(return_data) ? res : py::none();
    }
    if (equals(show, "global_ei")) {
        if (is_family(self, kReluDnn)) {
            print("Not supported");
        } else {
            self.attr("ei"_n)("figsize"_a = figsize);
        }
        return py::none();
    }
    if (equals(show, "global_effect_plot")) {
        if (bi_features.is_none()) {
            self.attr("main_effect"_n)(uni_feature, "original_scale"_a = original_scale, "figsize"_a = figsize);
        } else if (uni_feature.is_none()) {
            self.attr("interaction_effect"_n)(bi_features[py::int_(0)], bi_features[py::int_(1)],
                                            "original_scale"_a = original_scale, "figsize"_a = figsize);
        } else {
            print("Cannot input both uni_feature and bi_features");
        }
        return py::none();
    }
    if (equals(show, "local_fi")) {
        py::object res = self.attr("fi_local"_n)(sample_id, "centered"_a = centered, "return_data"_a = return_data,
                                               "original_scale"_a = original_scale, "figsize"_a = figsize);
        return truthy(return_data) ? res : py::none();
    }
    if (equals(show, "local_ei")) {
        self.attr("ei_local"_n)(sample_id, "original_scale"_a = original_scale, "figsize"_a = figsize);
        return py::none();
    }
    if (equals(show, "llm_summary")) {
        self.attr("llm_df"_n)();
        return py::none();
    }
    if (equals(show, "llm_violin")) {
        self.attr("llm_violin"_n)();
        return py::none();
    }
    if (equals(show, "llm_pc")) {
        if (!is_family(self, kReluDnn)) {
            print("Not supported");
        } else {
            self.attr("ei"_n)("figsize"_a = figsize);
        }
        return py::none();
    }
    if (equals(show, "tree_global")) {
        self.attr("get_tree"_n)(root, depth, "original_scale"_a = original_scale);
        return py::none();
    }
    if (equals(show, "tree_local")) {
        self.attr("get_local_tree"_n)(sample_id, "original_scale"_a = original_scale);
        return py::none();
    }
    if (equals(show, "glm_coef")) {
        self.attr("coef"_n)(uni_feature);
        return py::none();
    }
    return py::none();
}

}  // namespace vexo
