// What the views hand on and tell apart: the interpret_result records, the model families, and
// the result of the pipeline's transform_to_orignial_scale.
#pragma once

#include "views/idioms.h"

#include <optional>

namespace vexo {

// ---------------------------------------------------------------------------------------------
// Records

namespace keys {
inline constexpr Name key{"key"};
inline constexpr Name model{"model"};
inline constexpr Name model_type{"model_type"};
inline constexpr Name input{"input"};
inline constexpr Name value{"value"};
inline constexpr Name scaler{"scaler"};
}  // namespace keys

// {'key': key, 'model': model, 'input': input, 'value': value}
inline py::dict record(Name key, py::handle model, py::handle input, py::handle value) {
    py::dict r;
    const std::pair<Name, py::handle> entries[] = {
        {keys::key, interned(key)}, {keys::model, model}, {keys::input, input}, {keys::value, value}};
    for (const auto& [name, item] : entries) {
        if (PyDict_SetItem(r.ptr(), interned(name).ptr(), item.ptr()) < 0) {
            throw py::error_already_set();
        }
    }
    return r;
}

// The record of a view of one sample:
// {'key': key, 'model': self.model, 'input': {'idx': idx}, 'value': value}
inline py::dict sample_record(Name key, py::handle self, py::handle idx, py::handle value) {
    py::object model = self.attr("model"_n);
    py::dict input;
    input["idx"_n] = idx;
    return record(key, model, input, value);
}

// if interpret_result['value'] is None: print("Not supported"); return
// The record's value, or none where it is None: the drawing is refused.
inline std::optional<py::object> drawn_value(py::handle interpret_result) {
    py::object v = interpret_result["value"_n];
    if (v.is_none()) {
        print("Not supported");
        return std::nullopt;
    }
    return v;
}

// What a coefficient of local linear models is, as an axis says it: the entry of the record's
// value where the experiment gave one, else the word.
// v['coefficient_label'] if 'coefficient_label' in v else "coefficient"
inline py::object coefficient_label(py::handle v) {
    if (contains(v, "coefficient_label"_n)) {
        return v["coefficient_label"_n];
    }
    return py::str("coefficient");
}

// ---------------------------------------------------------------------------------------------
// Model families, told apart by the class name of the pipeline's estimator

struct Family {
    Name code;      // the records' model_type, and the family's key in the Python registry
    Name names[2];  // the estimator class names of the family
};

// The families whose effects the views build and draw each in their own way. The Python registry,
// vexo.workflow.experiment.families.FAMILIES, knows them under the same codes: a family that brings
// effect views of its own needs its row here besides its entry there.
inline constexpr Family kFamilies[] = {
    {"ebm", {"ExplainableBoostingClassifier", "ExplainableBoostingRegressor"}},
    {"gami", {"GAMINetRegressor", "GAMINetClassifier"}},
    {"reludnn", {"ReluDNNRegressor", "ReluDNNClassifier"}},
    {"gam", {"GAMRegressor", "GAMClassifier"}},
};
inline constexpr const Family& kEbm = kFamilies[0];
inline constexpr const Family& kGami = kFamilies[1];
inline constexpr const Family& kReluDnn = kFamilies[2];
inline constexpr const Family& kGam = kFamilies[3];
inline constexpr Name kOthers{"others"};  // the model_type of every other model

// self.pipeline.estimator.__class__.__name__ in (family's names), read afresh at each test.
inline bool is_family(py::handle self, const Family& family) {
    py::object name = self.attr("pipeline"_n).attr("estimator"_n).attr("__class__"_n).attr("__name__"_n);
    return equals(name, family.names[0]) || equals(name, family.names[1]);
}

// ---------------------------------------------------------------------------------------------
// The pipeline's transform_to_orignial_scale(name, values): a two-part result whose first part
// holds the values in original units.

// t, _ = result: the first part, where the result is exactly two parts (else the unpacking's
// ValueError), the one reading of every view's call; the plots read a scaler's result alike.
inline py::object original_part(py::handle result) { return unpack_two(result).first; }

}  // namespace vexo
