// Module and dispatch: what the module imports, the two classes and their method tables, the
// constructor of InterpretAPI and its dispatcher model_interpret.
#include "views/idioms.h"
#include "views/records.h"
#include "views/views.h"

#include <initializer_list>
#include <string>
#include <vector>

namespace vexo {

using namespace pybind11::literals;

namespace {

// A name imported by a from-import, bound in the module namespace under `as`.
struct Alias {
    const char* name;
    const char* as;
};

// The `Y` of `from X import Y`: an attribute of X, or else the submodule X.Y that the import may
// have loaded; ImportError when neither is there. What else the attribute lookup raises propagates.
py::object import_name(py::handle imported, const char* name) {
    PyObject* found = PyObject_GetAttrString(imported.ptr(), name);
    if (found != nullptr) {
        return py::reinterpret_steal<py::object>(found);
    }
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
        throw py::error_already_set();
    }
    PyErr_Clear();
    py::object package = py::getattr(imported, "__name__"_n, py::none());
    if (!package.is_none()) {
        py::object submodule = loaded_module(py::str(package) + py::str(".") + py::str(name));
        if (!submodule.is_none()) {
            return submodule;
        }
    }
    py::object location = py::getattr(imported, "__file__", py::none());
    throw py::import_error(std::string("cannot import name '") + name + "' from " + py::repr(package).cast<std::string>() +
                           " (" + (location.is_none() ? std::string("unknown location") : py::str(location).cast<std::string>()) +
                           ")");
}

// from <module> import <name> as <as>, ...; level 1 imports from this module's own package.
void import_from(py::dict ns, const char* module, std::initializer_list<Alias> names, int level = 0) {
    py::list fromlist;
    for (const Alias& alias : names) {
        fromlist.append(alias.name);
    }
    py::object imported = call({global("__import__"), py::str(module), ns, py::none(), fromlist, py::int_(level)});
    for (const Alias& alias : names) {
        ns[alias.as] = import_name(imported, alias.name);
    }
}

// import <module> as <as>
void import_module(py::dict ns, const char* module, const char* as) {
    ns[as] = call({global("__import__"), py::str(module), ns, py::none(), py::none(), py::int_(0)});
}

// Every method of the two classes with its Python signature, from the rows that each unit of views
// exports, subsystem by subsystem; each class takes its own rows in this order. The module refuses
// to load where a signature names another number of parameters than its body takes.
Rows method_table() {
    Rows all;
    for (Rows (*unit)() : {dispatch_rows, global_importance_rows, main_effect_rows, interaction_effect_rows,
                           local_rows, tree_rows}) {
        Rows rows = unit();
        all.insert(all.end(), rows.begin(), rows.end());
    }
    return all;
}

// class <name>(object): <the owner's methods>
py::object make_class(const char* name, py::handle module_name, const Rows& table, Owner owner) {
    py::dict body;
    body["__module__"_n] = module_name;
    body["__qualname__"_n] = name;
    for (const Row& row : table) {
        if (row.owner != owner) {
            continue;
        }
        const Method& m = row.method;
        py::object function = make_function(m, name, module_name);
        body[m.name] = owner == Owner::graph ? call({global("staticmethod"), function}) : function;
    }
    return call({builtin_type(), py::str(name), py::make_tuple(global("object")), body});
}

}  // namespace

py::tuple show_table();

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

    const std::vector<Row> table = method_table();
    ns["InterpretAPI"_n] = make_class("InterpretAPI", module_name, table, Owner::api);
    ns["InterpretGraph"_n] = make_class("InterpretGraph", module_name, table, Owner::graph);
    // the show values of model_interpret, the methods that each reaches and the arguments they read
    ns["SHOWS"] = show_table();
    ns["__test__"_n] = py::dict();
}

// def __init__(self, experiment=None, model=''):
py::object init(const Params<3>& args) {
    auto [self, experiment, model] = args;
    //     self.experiment = experiment
    self.attr("experiment"_n) = experiment;
    //     self.model = model
    self.attr("model"_n) = model;
    //     self.pipeline = experiment.registered_pipeline[self.model]
    py::object registered = experiment.attr("registered_pipeline"_n);
    self.attr("pipeline"_n) = registered[self.attr("model"_n)];
    //     if self.model not in self.experiment.interpret_result_dict.keys():
    py::object model_now = self.attr("model"_n);
    if (!contains(call({method(self.attr("experiment"_n).attr("interpret_result_dict"_n), "keys")}), model_now)) {
        //     self.experiment.interpret_single(self.model)
        call({method(self.attr("experiment"_n), "interpret_single"), self.attr("model"_n)});
    }
    return py::none();
}
constexpr Row init_row{Owner::api, method<init>("__init__", "self, experiment=None, model=''")};

namespace {

// The dispatcher's arguments, as model_interpret received them.
struct Asked {
    py::handle self, show, uni_feature, bi_features, sample_id, return_data, root, depth, centered, original_scale,
        figsize;
};

// One value of `show`: the Python of its branch of model_interpret, and for the module's table
// of show values the methods that it may reach with the dispatcher's arguments that each reads.
struct Reach {
    const char* method;
    const char* arguments[6];  // up to the first nullptr
};
struct Show {
    Name show;
    Reach reaches[2];  // a method of nullptr ends them
    py::object (*branch)(const Asked&);
};

// if show == "global_fi":
//     res = self.fi(return_data=return_data, figsize=figsize)
//     if return_data: return res
py::object global_fi(const Asked& a) {
    py::object res = call({method(a.self, "fi"), kw("return_data", a.return_data), kw("figsize", a.figsize)});
    return truthy(a.return_data) ? res : py::none();
}

// elif show == "global_ei":
//     if <ReLU network>: print("Not supported")
//     else: self.ei(figsize=figsize)
py::object global_ei(const Asked& a) {
    py::handle self = a.self;
    if (is_family(self, kReluDnn)) {
        print("Not supported");
    } else {
        call({method(a.self, "ei"), kw("figsize", a.figsize)});
    }
    return py::none();
}

// elif show == "global_effect_plot":
py::object global_effect_plot(const Asked& a) {
    if (a.bi_features.is_none()) {
        //     self.main_effect(uni_feature, original_scale=original_scale, figsize=figsize)
        call({method(a.self, "main_effect"), a.uni_feature, kw("original_scale", a.original_scale),
              kw("figsize", a.figsize)});
    } else if (a.uni_feature.is_none()) {
        //     self.interaction_effect(bi_features[0], bi_features[1], original_scale=original_scale,
        //                             figsize=figsize)
        call({method(a.self, "interaction_effect"), a.bi_features[py::int_(0)], a.bi_features[py::int_(1)],
              kw("original_scale", a.original_scale), kw("figsize", a.figsize)});
    } else {
        print("Cannot input both uni_feature and bi_features");
    }
    return py::none();
}

// elif show == "local_fi":
//     res = self.fi_local(sample_id, centered=centered, return_data=return_data,
//                         original_scale=original_scale, figsize=figsize)
//     if return_data: return res
py::object local_fi(const Asked& a) {
    py::object res = call({method(a.self, "fi_local"), a.sample_id, kw("centered", a.centered),
                           kw("return_data", a.return_data), kw("original_scale", a.original_scale),
                           kw("figsize", a.figsize)});
    return truthy(a.return_data) ? res : py::none();
}

// elif show == "local_ei": self.ei_local(sample_id, original_scale=original_scale, figsize=figsize)
py::object local_ei(const Asked& a) {
    call({method(a.self, "ei_local"), a.sample_id, kw("original_scale", a.original_scale), kw("figsize", a.figsize)});
    return py::none();
}

// elif show == "llm_summary": self.llm_df()
py::object llm_summary(const Asked& a) {
    call({method(a.self, "llm_df")});
    return py::none();
}

// elif show == "llm_violin": self.llm_violin()
py::object llm_violin(const Asked& a) {
    call({method(a.self, "llm_violin")});
    return py::none();
}

// elif show == "llm_pc":
//     if not <ReLU network>: print("Not supported")
//     else: self.ei(figsize=figsize)
py::object llm_pc(const Asked& a) {
    py::handle self = a.self;
    if (!is_family(self, kReluDnn)) {
        print("Not supported");
    } else {
        call({method(a.self, "ei"), kw("figsize", a.figsize)});
    }
    return py::none();
}

// elif show == "tree_global": self.get_tree(root, depth, original_scale=original_scale)
py::object tree_global(const Asked& a) {
    call({method(a.self, "get_tree"), a.root, a.depth, kw("original_scale", a.original_scale)});
    return py::none();
}

// elif show == "tree_local": self.get_local_tree(sample_id, original_scale=original_scale)
py::object tree_local(const Asked& a) {
    call({method(a.self, "get_local_tree"), a.sample_id, kw("original_scale", a.original_scale)});
    return py::none();
}

// elif show == "glm_coef": self.coef(uni_feature, original_scale=original_scale)
py::object glm_coef(const Asked& a) {
    call({method(a.self, "coef"), a.uni_feature, kw("original_scale", a.original_scale)});
    return py::none();
}

// The branches of model_interpret in their order: `show` is compared with each value in turn and
// the first equal one runs; a value that none equals does nothing.
constexpr Show kShows[] = {
    {"global_fi", {{"fi", {"return_data", "figsize"}}}, global_fi},
    {"global_ei", {{"ei", {"figsize"}}}, global_ei},
    {"global_effect_plot",
     {{"main_effect", {"uni_feature", "original_scale", "figsize"}},
      {"interaction_effect", {"bi_features", "original_scale", "figsize"}}},
     global_effect_plot},
    {"local_fi", {{"fi_local", {"sample_id", "centered", "return_data", "original_scale", "figsize"}}}, local_fi},
    {"local_ei", {{"ei_local", {"sample_id", "original_scale", "figsize"}}}, local_ei},
    {"llm_summary", {{"llm_df", {}}}, llm_summary},
    {"llm_violin", {{"llm_violin", {}}}, llm_violin},
    {"llm_pc", {{"ei", {"figsize"}}}, llm_pc},
    {"tree_global", {{"get_tree", {"root", "depth", "original_scale"}}}, tree_global},
    {"tree_local", {{"get_local_tree", {"sample_id", "original_scale"}}}, tree_local},
    {"glm_coef", {{"coef", {"uni_feature", "original_scale"}}}, glm_coef},
};

}  // namespace

// The table of show values as the module offers it to its callers, read-only:
// ((show, ((method, (argument, ...)), ...)), ...)
py::tuple show_table() {
    py::list rows;
    for (const Show& row : kShows) {
        py::list reaches;
        for (const Reach& reach : row.reaches) {
            if (reach.method == nullptr) {
                break;
            }
            py::list arguments;
            for (const char* argument : reach.arguments) {
                if (argument == nullptr) {
                    break;
                }
                arguments.append(py::str(argument));
            }
            reaches.append(py::make_tuple(py::str(reach.method), py::tuple(arguments)));
        }
        rows.append(py::make_tuple(interned(row.show), py::tuple(reaches)));
    }
    return py::tuple(rows);
}

// def model_interpret(self, show=None, uni_feature=None, bi_features=None, sample_id=0,
//                     return_data=False, root=0, depth=3, centered=True, original_scale=False,
//                     figsize=(8, 6)):
//     if show == ...: <its branch>  elif ...  (the rows of kShows, in their order)
py::object model_interpret(const Params<11>& args) {
    auto [self, show, uni_feature, bi_features, sample_id, return_data, root, depth, centered, original_scale,
          figsize] = args;
    const Asked asked{self, show, uni_feature, bi_features, sample_id, return_data, root, depth, centered,
                      original_scale, figsize};
    for (const Show& row : kShows) {
        if (equals(show, row.show)) {
            return row.branch(asked);
        }
    }
    return py::none();
}
constexpr Row model_interpret_row{Owner::api, method<model_interpret>(
    "model_interpret",
    "self, show=None, uni_feature=None, bi_features=None, sample_id=0, return_data=False, root=0, depth=3, "
    "centered=True, original_scale=False, figsize=(8, 6)")};

// The rows of this unit's methods, in their order in the two classes.
Rows dispatch_rows() { return {init_row, model_interpret_row}; }

}  // namespace vexo
