// What each unit of views adds to the two classes; api.cpp makes the classes of the rows.
#pragma once

#include "engine/engine.h"

#include <vector>

namespace vexo {

// Which class a method belongs to: InterpretAPI, or InterpretGraph as a static method.
enum class Owner { api, graph };

struct Row {
    Owner owner;
    Method method;
};
using Rows = std::vector<Row>;

Rows dispatch_rows();            // api.cpp: the constructor and the dispatcher
Rows global_importance_rows();   // global_importance.cpp
Rows main_effect_rows();         // main_effect.cpp
Rows interaction_effect_rows();  // interaction_effect.cpp
Rows local_rows();               // local.cpp
Rows tree_rows();                // trees.cpp

}  // namespace vexo
