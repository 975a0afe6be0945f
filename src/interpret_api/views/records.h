// What the views hand on and tell apart: the interpret_result records, the model families
// (families/rows.h), the names of feature pairs, and the result of the pipeline's
// transform_to_orignial_scale.
#pragma once

#include "views/families/rows.h"
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
// Pair names: two feature names joined by " x "

// feature0 + " x " + feature1
inline py::object pair_name(py::handle feature0, py::handle feature1) {
    return (py::reinterpret_borrow<py::object>(feature0) + interned(" x ")) + feature1;
}

// " x ".join(parts)
inline py::object joined_pair(const py::list& parts) { return call({interned(" x ").attr("join"_n), parts}); }

// name.split(" x ")
inline py::object split_pair(py::handle name) { return call({name.attr("split"_n), " x "}); }

// ---------------------------------------------------------------------------------------------
// The pipeline's transform_to_orignial_scale(name, values): a two-part result whose first part
// holds the values in original units.

// t, _ = result: the first part, where the result is exactly two parts (else the unpacking's
// ValueError), the one reading of every view's call; the plots read a scaler's result alike.
inline py::object original_part(py::handle result) { return unpack_two(result).first; }

}  // namespace vexo
