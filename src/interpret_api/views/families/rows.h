// The model families whose effects the views build and draw each in a way of their own: one row
// per family, defined in the family's own unit (families/<name>.cpp), all of them listed once in
// kFamilyRows. The Python registry, vexo.workflow.experiment.families.FAMILIES, knows each under
// the same name with the same class names and declares its own_views; the module refuses to load
// where the two differ (check_family_rows, families/rows.cpp).
#pragma once

#include "views/idioms.h"

#include <optional>

namespace vexo {

// What interaction_effect hands a family's pair builder: its arguments, the explainer object and
// the pair's two names, "feature0 x feature1" and "feature1 x feature0".
struct PairArgs {
    py::handle self, exp, feature0, feature1, feature_combine_01, feature_combine_10, original_scale;
};

// value = <the family's main effect of feature>, from exp = self.experiment.get_interpret(self.model);
// the builder may replace `feature` by the name that the record's input holds.
using MainEffectBuilder = py::object (*)(py::handle self, py::handle exp, py::object& feature);
// The family's drawing of a main-effect value, main_effect_plot = PlotEffect(feature=value['feature']).
using MainEffectDrawer = void (*)(py::handle main_effect_plot, py::handle value, py::handle scaler,
                                  py::handle figsize);
// interpret_result = {...}: the family's record of the pair, or none where it refused the pair
// (having printed why).
using PairBuilder = std::optional<py::dict> (*)(const PairArgs& args);
// The family's drawing of an interaction-effect record that carries a value.
using PairDrawer = void (*)(py::handle interpret_result, py::handle scaler, py::handle figsize);

struct FamilyRow {
    Name name;            // the records' model_type, and the family's key in FAMILIES
    Name class_names[2];  // the estimator classes of the family: either one makes a model of it
    MainEffectBuilder main_effect;
    MainEffectDrawer plot_main_effect;
    PairBuilder interaction_effect;  // null where the family has no pair view: its record is "others"
    PairDrawer plot_interaction_effect;
};

extern const FamilyRow kEbm;      // families/ebm.cpp
extern const FamilyRow kGami;     // families/gami.cpp
extern const FamilyRow kReluDnn;  // families/reludnn.cpp
extern const FamilyRow kGam;      // families/gam.cpp

// Every row, in the order in which the views test them: the order of the elifs of the Python that
// they mirror, which a family's view of its own is tested in.
inline constexpr const FamilyRow* kFamilyRows[] = {&kEbm, &kGami, &kReluDnn, &kGam};

inline constexpr Name kOthers{"others"};  // the model_type of every other model

// self.pipeline.estimator.__class__.__name__ in (family's class names), read afresh at each test.
inline bool is_family(py::handle self, const FamilyRow& family) {
    py::object name = self.attr("pipeline"_n).attr("estimator"_n).attr("__class__"_n).attr("__name__"_n);
    return equals(name, family.class_names[0]) || equals(name, family.class_names[1]);
}

// if <family a>: ... elif <family b>: ...: the first row that has the view and whose class names the
// estimator's is, tested row by row; none for every other model.
template <typename View>
const FamilyRow* family_of(py::handle self, View FamilyRow::*view) {
    for (const FamilyRow* row : kFamilyRows) {
        if (row->*view != nullptr && is_family(self, *row)) {
            return row;
        }
    }
    return nullptr;
}

// if model_type == 'a': ... elif model_type == 'b': ...: the first row that has the drawing and
// whose name model_type equals; none for any other model_type.
template <typename View>
const FamilyRow* family_named(py::handle model_type, View FamilyRow::*view) {
    for (const FamilyRow* row : kFamilyRows) {
        if (row->*view != nullptr && equals(model_type, row->name)) {
            return row;
        }
    }
    return nullptr;
}

}  // namespace vexo
