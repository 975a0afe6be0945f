// Shared by every unit of vexo.workflow.interpret_api: the native-function layer that the classes
// are made of, the module namespace and the handles of what it imports, record keys and the
// model families.
//
// The bodies of the methods are written against pybind11's object layer so that each reads like the
// Python it mirrors; a failed Python call throws py::error_already_set, and the one entry point of
// every native function (function.cpp) turns whatever is thrown back into the Python error.
#pragma once

#include <pybind11/pybind11.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <stdexcept>
#include <vector>

namespace vexo {

namespace py = pybind11;

// ---------------------------------------------------------------------------------------------
// Methods (function.cpp)

// The arguments of one call, bound to the function's parameters in order (defaults filled in):
//     py::object fi(const Params<3>& args) { auto [self, return_data, figsize] = args; ... }
template <std::size_t N>
using Params = std::array<py::handle, N>;

using Body = py::object (*)(PyObject* const* args);

// One method of InterpretAPI or InterpretGraph.
struct Method {
    const char* name;
    const char* signature;  // the parameters as Python writes them: "self, return_data=False"
    std::size_t arity;      // how many parameters the body takes; checked against `signature`
    Body body;
};

template <typename F>
struct ArityOf;
template <std::size_t N>
struct ArityOf<py::object (*)(const Params<N>&)> {
    static constexpr std::size_t value = N;
};

template <auto F>
py::object run_body(PyObject* const* args) {
    Params<ArityOf<decltype(F)>::value> params;
    for (std::size_t i = 0; i < params.size(); ++i) {
        params[i] = args[i];
    }
    return F(params);
}

// method<fi>("fi", "self, return_data=False, figsize=(8, 6)"): a row of a method table. The
// number of parameters in the signature must be the body's, or the module refuses to load.
template <auto F>
Method method(const char* name, const char* signature) {
    return {name, signature, ArityOf<decltype(F)>::value, run_body<F>};
}

// The rows that one unit adds to each class.
struct Rows {
    std::vector<Method> api;    // InterpretAPI
    std::vector<Method> graph;  // InterpretGraph, as static methods
};

// Every unit of views exports its rows; api.cpp assembles the classes from them.
Rows dispatch_rows();            // api.cpp
Rows global_importance_rows();   // global_importance.cpp
Rows effects_rows();             // effects.cpp
Rows local_rows();               // local.cpp
Rows tree_rows();                // trees.cpp

// A function object for the method that binds like a Python function, carries its name,
// qualified name and signature, and checks its arguments as the interpreter does.
py::object make_function(const Method& method, const char* owner, py::handle module_name);

// ---------------------------------------------------------------------------------------------
// The module namespace (module.cpp, call.cpp)

inline constexpr const char* kModuleName = "vexo.workflow.interpret_api";

// The interned str of a name, made once per process: attribute and global lookups with it skip
// making and hashing a new string at each call. `text` must be a string literal: the cache is
// keyed by its address.
namespace detail {
struct InternedName {
    const char* text;
    PyObject* name;
};
// Direct-mapped by the literal's address: a hit costs a multiplication and a comparison; a miss
// (first use, or two literals sharing a slot) goes to the full table in call.cpp.
inline constexpr std::size_t kRecentNames = 4096;
inline InternedName g_recent_names[kRecentNames] = {};
inline std::size_t recent_name_slot(const char* text) {
    return static_cast<std::size_t>((reinterpret_cast<std::uintptr_t>(text) * 0x9E3779B97F4A7C15ull) >> 52);
}
PyObject* intern_name(const char* text);  // the full table; refills the direct-mapped slot
}  // namespace detail

inline py::handle interned(const char* text) {
    const detail::InternedName& recent = detail::g_recent_names[detail::recent_name_slot(text)];
    return recent.text == text ? recent.name : detail::intern_name(text);
}

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
// Calls (call.cpp)
//
// Python evaluates a call as: the callee, then the arguments left to right. C++ leaves the order
// of function arguments to the compiler, but evaluates the elements of a braced list in order, so
// a call is one list, callee first:
//
//     # hbar.plot(X=names[-max_show:], figsize=figsize)
//     call({hbar.attr("plot"_n), kw("X", tail(names, max_show)), kw("figsize", figsize)});
//
// or, faster where the callee is a method of the object, call({method(hbar, "plot"), ...}).
//
// Positional arguments come before keywords, as in Python. The call goes through the vectorcall
// protocol, with the keyword names of each call site kept as one tuple of interned strings.
//
// pybind11's accessors are lazy: in `a.attr("x"_n)[self.attr("model"_n)]` the key is read before
// `a.x`, where Python reads `a.x` first. Materialise the container into a py::object first.

struct Arg {
    Arg(py::handle h) : value(py::reinterpret_borrow<py::object>(h)) {}
    Arg(py::object o) : value(std::move(o)) {}
    template <typename Policy>
    Arg(const py::detail::accessor<Policy>& a) : value(a) {}
    Arg(const char* text);  // a string constant; `text` must be a literal

    const char* keyword = nullptr;
    py::object value;
    py::object bound_self;  // of a callee made by method(): passed first
};

// name=value in a call; `name` must be a literal.
inline Arg kw(const char* name, Arg arg) {
    arg.keyword = name;
    return arg;
}

// obj.name as the callee of a call (`name` a literal), looked up as Python looks up a method that
// it is about to call: a function found on the type is called with obj first, and no bound method
// is made.
//     call({method(hbar, "plot"), kw("X", names)})
Arg method(py::handle obj, const char* name);

// callee(*positional, **keywords): items[0] is the callee.
py::object call(std::initializer_list<Arg> items);

// ---------------------------------------------------------------------------------------------
// Small Python idioms

// print(message)
inline void print(const char* message) { call({global("print"), message}); }

// bool(obj)
inline bool truthy(py::handle obj) {
    const int r = PyObject_IsTrue(obj.ptr());
    if (r < 0) {
        throw py::error_already_set();
    }
    return r != 0;
}

// a <op> b: the rich comparison's own result, which `if` then truth-tests with truthy().
inline py::object compare(py::handle a, py::handle b, int op) {
    PyObject* r = PyObject_RichCompare(a.ptr(), b.ptr(), op);
    if (r == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::object>(r);
}

// if obj == text: a rich comparison and the truth test of its result, so that an array's ambiguous
// truth raises, as in Python. A str compares as str's own == does, without the detour.
inline bool equals(py::handle obj, const char* text) {
    if (PyUnicode_CheckExact(obj.ptr())) {
        return PyUnicode_Compare(obj.ptr(), interned(text).ptr()) == 0;
    }
    return truthy(compare(obj, interned(text), Py_EQ));
}

// item in container
inline bool contains(py::handle container, py::handle item) {
    const int r = PySequence_Contains(container.ptr(), item.ptr());
    if (r < 0) {
        throw py::error_already_set();
    }
    return r != 0;
}

// sys.modules.get(name): the module of that name if it has been imported, else None
inline py::object loaded_module(py::handle name) {
    return call({method(py::module_::import("sys").attr("modules"), "get"), name});
}

// len(obj), as a Python int
inline py::int_ length(py::handle obj) { return py::int_(py::len(obj)); }

// max_show if max_show < n else n
inline py::object at_most(py::handle max_show, py::handle n) {
    return py::reinterpret_borrow<py::object>(truthy(compare(max_show, n, Py_LT)) ? max_show : n);
}

// seq[-count:]: the last `count` entries; the whole of seq when count is 0, and seq without its
// first -count entries when count is negative, exactly as the slice does in Python.
inline py::object tail(py::handle seq, py::handle count) {
    return seq[py::slice(-py::reinterpret_borrow<py::object>(count), py::none(), py::none())];
}

// seq[::-1]
inline py::object reversed(py::handle seq) { return seq[py::slice(py::none(), py::none(), py::int_(-1))]; }

// A parameter declared as a tuple or a list in a nested plotting function takes one (or None);
// anything else is refused before the function does anything.
inline void check_argument_type(const char* name, py::handle value, PyTypeObject* type) {
    if (!value.is_none() && !PyObject_TypeCheck(value.ptr(), type)) {
        PyErr_Format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)", name,
                     type->tp_name, Py_TYPE(value.ptr())->tp_name);
        throw py::error_already_set();
    }
}
inline void check_tuple_argument(const char* name, py::handle value) { check_argument_type(name, value, &PyTuple_Type); }
inline void check_list_argument(const char* name, py::handle value) { check_argument_type(name, value, &PyList_Type); }

// a, b = pair: an exact tuple or list by its size, anything else by iterating it, with the messages
// of the unpacking in the compiled Python.
inline std::pair<py::object, py::object> unpack_two(py::handle pair) {
    PyObject* items = pair.ptr();
    if (PyTuple_CheckExact(items) || PyList_CheckExact(items)) {
        const Py_ssize_t size = Py_SIZE(items);
        if (size == 2) {
            py::sequence seq = py::reinterpret_borrow<py::sequence>(pair);
            return {seq[0], seq[1]};
        }
        if (size > 2) {
            PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)", Py_ssize_t{2});
        } else {
            PyErr_Format(PyExc_ValueError, "need more than %zd value%.1s to unpack", size, size == 1 ? "" : "s");
        }
        throw py::error_already_set();
    }
    // Each item is asked for once, and the end once after the second: no further next() on an
    // exhausted iterator.
    py::iterator it = py::iter(pair);
    auto next = [&it]() {
        py::object item = py::reinterpret_steal<py::object>(PyIter_Next(it.ptr()));
        if (!item && PyErr_Occurred()) {
            throw py::error_already_set();
        }
        return item;
    };
    py::object parts[2];
    for (Py_ssize_t found = 0; found < 2; ++found) {
        parts[found] = next();
        if (!parts[found]) {
            PyErr_Format(PyExc_ValueError, "need more than %zd value%.1s to unpack", found, found == 1 ? "" : "s");
            throw py::error_already_set();
        }
    }
    if (next()) {
        PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)", Py_ssize_t{2});
        throw py::error_already_set();
    }
    return {std::move(parts[0]), std::move(parts[1])};
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
    const std::pair<const char*, py::handle> entries[] = {
        {keys::key, interned(key)}, {keys::model, model}, {keys::input, input}, {keys::value, value}};
    for (const auto& [name, item] : entries) {
        if (PyDict_SetItem(r.ptr(), interned(name).ptr(), item.ptr()) < 0) {
            throw py::error_already_set();
        }
    }
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

}  // namespace vexo
