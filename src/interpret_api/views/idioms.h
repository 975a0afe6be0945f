// Python as the views write it: the components that the module imports, reached through its
// globals, and small idioms, each the one way to say its Python in C++.
#pragma once

#include "engine/engine.h"

#include <array>
#include <cstddef>
#include <initializer_list>
#include <utility>

namespace vexo {

// ---------------------------------------------------------------------------------------------
// The imported modules and outside components, looked up at each use

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

// A figure that a view makes itself with plt.figure(...), its texts given the package's fonts for
// their characters when it is measured or drawn, as the figures of the package's style block are.
inline py::object with_fonts(py::object figure) {
    call({py::module_::import("vexo.workflow.fonts").attr("dress_when_drawn"), figure});
    return figure;
}

// The builtin types, taken as they are rather than looked up by name.
inline py::handle builtin_float() { return reinterpret_cast<PyObject*>(&PyFloat_Type); }
inline py::handle builtin_str() { return reinterpret_cast<PyObject*>(&PyUnicode_Type); }
inline py::handle builtin_type() { return reinterpret_cast<PyObject*>(&PyType_Type); }

// ---------------------------------------------------------------------------------------------
// Statements and operators

// The new reference that a C-API call returned, or its pending error thrown.
inline py::object checked(PyObject* result) {
    if (result == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::object>(result);
}

// print(message)
inline void print(Name message) { call({global("print"), message}); }

// raise <exception>
[[noreturn]] inline void raise(const py::object& exception) {
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())), exception.ptr());
    throw py::error_already_set();
}

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
    return checked(PyObject_RichCompare(a.ptr(), b.ptr(), op));
}

// if obj == text: a rich comparison and the truth test of its result, so that an array's ambiguous
// truth raises, as in Python. A str compares as str's own == does, without the detour.
inline bool equals(py::handle obj, Name text) {
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

// a % b
inline py::object remainder(py::handle a, py::handle b) { return checked(PyNumber_Remainder(a.ptr(), b.ptr())); }

// abs(x)
inline py::object absolute(py::handle x) { return checked(PyNumber_Absolute(x.ptr())); }

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

// [a, b, ...] of int constants
inline py::list list_of(std::initializer_list<int> items) {
    py::list list;
    for (int item : items) {
        list.append(py::int_(item));
    }
    return list;
}

// {v: k for k, v in mapping.items()}: a later key wins where two share a value.
py::dict inverted(py::handle mapping);

// a, b = pair: an exact tuple or list by its size, anything else by iterating it, with the messages
// of the unpacking in the compiled Python.
std::pair<py::object, py::object> unpack_two(py::handle pair);

// mapping[name] for each name in turn, as one statement per name would read them:
//     auto [x, y] = entries(value, {"x"_n, "y"_n});
template <std::size_t N>
std::array<py::object, N> entries(py::handle mapping, const py::handle (&names)[N]) {
    std::array<py::object, N> out;
    for (std::size_t i = 0; i < N; ++i) {
        out[i] = mapping[names[i]];
    }
    return out;
}

// try:
//     body()
// except Exception:
//     on_exception()
// Interrupts and exits, which are no Exception, pass on: a Ctrl-C must stop the work.
template <typename Body, typename Handler>
void try_except(Body body, Handler on_exception) {
    try {
        body();
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_Exception)) {
            throw;
        }
        on_exception();
    }
}

// try: body() / except Exception: pass
template <typename Body>
void try_except_pass(Body body) {
    try_except(body, [] {});
}

// np.where(np.array(names()) == name)[0][0] + 1: the 1-based position of the first match; the names
// are read where Python reads them, after np.where and np.array.
template <typename Names>
py::object position_of(Names names, py::handle name) {
    py::object where = np().attr("where"_n);
    py::object matches = compare(call({method(np(), "array"), names()}), name, Py_EQ);
    py::object first = call({where, matches})[py::int_(0)][py::int_(0)];
    return first + py::int_(1);
}

// ---------------------------------------------------------------------------------------------
// Subscriptions

// The `:` of a subscription.
inline py::slice colon() { return py::slice(py::none(), py::none(), py::none()); }

// seq[-count:]: the last `count` entries; the whole of seq when count is 0, and seq without its
// first -count entries when count is negative, exactly as the slice does in Python.
inline py::object tail(py::handle seq, py::handle count) {
    return seq[py::slice(-py::reinterpret_borrow<py::object>(count), py::none(), py::none())];
}

// seq[:stop]
inline py::object head(py::handle seq, py::handle stop) { return seq[py::slice(py::none(), stop, py::none())]; }

// seq[::-1]
inline py::object reversed(py::handle seq) { return seq[py::slice(py::none(), py::none(), py::int_(-1))]; }

// arr[rows, col]
inline py::object at(py::handle arr, py::handle rows, py::handle col) { return arr[py::make_tuple(rows, col)]; }

// arr[:stop, col]
inline py::object head_column(py::handle arr, py::handle stop, py::handle col) {
    return at(arr, py::slice(py::none(), stop, py::none()), col);
}

// ---------------------------------------------------------------------------------------------
// Parameters of the nested plotting functions

// A parameter declared as a tuple or a list takes one (or None); anything else is refused before
// the function does anything.
inline void check_argument_type(const char* name, py::handle value, PyTypeObject* type) {
    if (!value.is_none() && !PyObject_TypeCheck(value.ptr(), type)) {
        PyErr_Format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)", name,
                     type->tp_name, Py_TYPE(value.ptr())->tp_name);
        throw py::error_already_set();
    }
}
inline void check_tuple_argument(const char* name, py::handle value) { check_argument_type(name, value, &PyTuple_Type); }
inline void check_list_argument(const char* name, py::handle value) { check_argument_type(name, value, &PyList_Type); }

}  // namespace vexo
