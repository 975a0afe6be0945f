// What the two effect units, main_effect.cpp and interaction_effect.cpp, share: the shape of
// their records and the start of their plots.
#pragma once

#include "views/records.h"

namespace vexo {

// {'key': key, 'model': self.model, 'model_type': model_type, 'input': input, 'value': value,
//  'scaler': self.pipeline.transform_to_orignial_scale if original_scale else None}
// `model` is self.model, read by the caller where the literal reads it: before anything that `value`
// still reads.
inline py::dict effect_record(Name key, py::handle model, py::handle self, Name model_type, py::handle input,
                              py::handle value, py::handle original_scale) {
    py::dict r;
    r[interned(keys::key)] = interned(key);
    r[interned(keys::model)] = model;
    r[interned(keys::model_type)] = interned(model_type);
    r[interned(keys::input)] = input;
    r[interned(keys::value)] = value;
    r[interned(keys::scaler)] = truthy(original_scale)
                                    ? py::object(self.attr("pipeline"_n).attr("transform_to_orignial_scale"_n))
                                    : py::object(py::none());
    return r;
}

// The drawing of an effect record that carries a value, with the record's scaler.
using EffectDrawing = void (*)(py::handle interpret_result, py::handle scaler, py::handle figsize);

// def plot_...(interpret_result, figsize=(8, 6)):
//     scaler = interpret_result['scaler']
//     if interpret_result['value'] is None:
//         print("Not supported")
//         return
//     <draw>
inline py::object effect_plot(const Params<2>& args, EffectDrawing draw) {
    auto [interpret_result, figsize] = args;
    py::object scaler = interpret_result["scaler"_n];
    if (drawn_value(interpret_result)) {
        draw(interpret_result, scaler, figsize);
    }
    return py::none();
}

}  // namespace vexo
