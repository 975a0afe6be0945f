// Shared by every unit of vexo.workflow.interpret_api: the native-function layer that the classes
// are made of, the module namespace and the handles of what it imports, record keys and the
// model families.
//
// The bodies of the methods are written against pybind11's object layer so that each reads like the
// Python it mirrors; a failed Python call throws py::error_already_set, and the one entry point of
// every native function (capi.cpp) turns whatever is thrown back into the Python error.
#pragma once

#include <pybind11/pybind11.h>

#include <array>
#include <cstddef>
#include <stdexcept>

namespace vexo {

namespace py = pybind11;

// ---------------------------------------------------------------------------------------------
// Native functions (capi.cpp)

// The arguments of one call, bound to the function's parameters in order (defaults filled in).
class Args {
public:
    Args(PyObject* const* items, std::size_t size) : items_(items), size_(size) {}

    std::size_t size() const { return size_; }
    py::handle operator[](std::size_t i) const { return items_[i]; }

    // auto [self, return_data, figsize] = args.unpack<3>();
    template <std::size_t N>
    std::array<py::handle, N> unpack() const {
        if (N != size_) {
            throw std::logic_error("native function unpacks a different number of parameters");
        }
        std::array<py::handle, N> out;
        for (std::size_t i = 0; i < N; ++i) {
            out[i] = items_[i];
        }
        return out;
    }

private:
    PyObject* const* items_;
    std::size_t size_;
};

using Body = py::object (*)(const Args&);

// One method of InterpretAPI or InterpretGraph.
struct Method {
    const char* name;
    const char* signature;  // the parameters as Python writes them: "self, return_data=False"
    Body body;
};

// A function object for the method that binds like a Python function, carries its name,
// qualified name and signature, and checks its arguments as the interpreter does.
py::object make_function(const Method& method, const char* owner, py::handle module_name);

// ---------------------------------------------------------------------------------------------
// The module namespace (capi.cpp)

inline constexpr const char* kModuleName = "vexo.workflow.interpret_api";

// The interned str of a name, made once per process: attribute and global lookups with it skip
// making and hashing a new string at each call. `text` must be a string literal: the cache is
// keyed by its address.
py::handle interned(const char* text);

// self.attr("experiment"_n), value["feature_names"_n]: a name as an interned str.
inline py::handle operator""_n(const char* text, std::size_t) { return interned(text); }

// A global name as Python code in this module sees it: the module namespace first, then the
// builtins; NameError where neither has it. Looked up at every use, so that a user or a test can
// substitute any component by assigning to the module attribute.
py::object global(const char* name);

// Fills the namespace of a freshly created module: imports, classes, __test__ (api.cpp).
void populate_module(py::handle module);

// Handles of the imported modules and outside components.
inline py::object deepcopy() { return global("deepcopy"); }
inline py::object np() { return global("np"); }
inline py::object pd() { return global("pd"); }
inline py::object sns() { return global("sns"); }
inline py::object display() { return global("display"); }
inline py::object gridspec() { return global("gridspec"); }
inline py::object plt() { return global("plt"); }
inline py::object plot_tree() { return global("plot_tree"); }
inline py::object lowess() { return global("lowess"); }
inline py::object PlotHeatmap() { return global("PlotHeatmap"); }
inline py::object PlotEffect() { return global("PlotEffect"); }
inline py::object PlotHBar() { return global("PlotHBar"); }
inline py::object scale_plot_ticks() { return global("scale_plot_ticks"); }
inline py::object InterpretAPI() { return global("InterpretAPI"); }
inline py::object InterpretGraph() { return global("InterpretGraph"); }

// ---------------------------------------------------------------------------------------------
// Small Python idioms

// print(message)
inline void print(const char* message) { global("print")(interned(message)); }

// bool(obj)
inline bool truthy(py::handle obj) {
    const int r = PyObject_IsTrue(obj.ptr());
    if (r < 0) {
        throw py::error_already_set();
    }
    return r != 0;
}

// obj == text
inline bool equals(py::handle obj, const char* text) {
    if (PyUnicode_CheckExact(obj.ptr())) {
        return PyUnicode_Compare(obj.ptr(), interned(text).ptr()) == 0;
    }
    return obj.equal(interned(text));
}

// item in container
inline bool contains(py::handle container, py::handle item) {
    const int r = PySequence_Contains(container.ptr(), item.ptr());
    if (r < 0) {
        throw py::error_already_set();
    }
    return r != 0;
}

// len(obj), as a Python int
inline py::int_ length(py::handle obj) { return py::int_(py::len(obj)); }

// max_show if max_show < n else n
inline py::object at_most(py::handle max_show, py::handle n) {
    const bool less = py::reinterpret_borrow<py::object>(max_show) < py::reinterpret_borrow<py::object>(n);
    return py::reinterpret_borrow<py::object>(less ? max_show : n);
}

// seq[-count:]: the last `count` entries; the whole of seq when count is 0, and seq without its
// first -count entries when count is negative, exactly as the slice does in Python.
inline py::object tail(py::handle seq, py::handle count) {
    return seq[py::slice(-py::reinterpret_borrow<py::object>(count), py::none(), py::none())];
}

// ---------------------------------------------------------------------------------------------
// Records

namespace keys {
inline constexpr const char* key = "key";
inline constexpr const char* model = "model";
inline constexpr const char* model_type = "model_type";
inline constexpr const char* input = "input";
inline constexpr const char* value = "value";
inline constexpr const char* scaler = "scaler";
}  // namespace keys

// {'key': key, 'model': model, 'input': input, 'value': value}
inline py::dict record(const char* key, py::handle model, py::handle input, py::handle value) {
    py::dict r;
    r[interned(keys::key)] = key;
    r[interned(keys::model)] = model;
    r[interned(keys::input)] = input;
    r[interned(keys::value)] = value;
    return r;
}

// ---------------------------------------------------------------------------------------------
// Model families, told apart by the class name of the pipeline's estimator

struct Family {
    const char* code;       // the record's model_type
    const char* names[2];   // the estimator class names of the family
};

inline constexpr Family kEbm{"ebm", {"ExplainableBoostingClassifier", "ExplainableBoostingRegressor"}};
inline constexpr Family kGami{"gami", {"GAMINetRegressor", "GAMINetClassifier"}};
inline constexpr Family kReluDnn{"reludnn", {"ReluDNNRegressor", "ReluDNNClassifier"}};
inline constexpr Family kGam{"gam", {"GAMRegressor", "GAMClassifier"}};
inline constexpr const char* kOthers = "others";

// self.pipeline.estimator.__class__.__name__ in (family's names), read afresh at each test.
inline bool is_family(py::handle self, const Family& family) {
    py::object name = self.attr("pipeline"_n).attr("estimator"_n).attr("__class__"_n).attr("__name__"_n);
    return equals(name, family.names[0]) || equals(name, family.names[1]);
}

// ---------------------------------------------------------------------------------------------
// Method bodies, one unit per subsystem

// api.cpp: the constructor and the dispatcher
py::object init(const Args& args);
py::object model_interpret(const Args& args);

// global_importance.cpp
py::object fi(const Args& args);
py::object plot_fi(const Args& args);

}  // namespace vexo
