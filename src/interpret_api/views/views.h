// The bodies of the two classes' methods, unit by unit; api.cpp makes the classes of them.
#pragma once

#include "engine/engine.h"

namespace vexo {

// api.cpp: InterpretAPI's constructor and dispatcher
py::object init(const Params<3>& args);
py::object model_interpret(const Params<11>& args);

// global_importance.cpp
py::object fi(const Params<3>& args);
py::object ei(const Params<2>& args);
py::object coef(const Params<3>& args);
py::object plot_fi(const Params<3>& args);
py::object plot_coef(const Params<4>& args);
py::object plot_ei(const Params<3>& args);

// effects.cpp
py::object main_effect(const Params<4>& args);
py::object interaction_effect(const Params<5>& args);
py::object plot_main_effect(const Params<2>& args);
py::object plot_interaction_effect(const Params<2>& args);

// local.cpp
py::object ei_local(const Params<4>& args);
py::object fi_local(const Params<6>& args);
py::object llm_df(const Params<1>& args);
py::object llm_violin(const Params<2>& args);
py::object plot_ei_local(const Params<3>& args);
py::object plot_fi_local(const Params<3>& args);
py::object plot_llm_violin(const Params<3>& args);

// trees.cpp
py::object get_tree(const Params<5>& args);
py::object get_local_tree(const Params<4>& args);
py::object plot_tree_diag(const Params<4>& args);
py::object plot_local_tree(const Params<4>& args);

}  // namespace vexo
