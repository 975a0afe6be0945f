// What the engine offers the views: the native-function layer that the classes are made of, names
// as interned strings, the module's globals, and calls in Python's order of evaluation.
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

namespace vexo {

namespace py = pybind11;

inline constexpr const char* kModuleName = "vexo.workflow.interpret_api";

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
constexpr Method method(const char* name, const char* signature) {
    return {name, signature, ArityOf<decltype(F)>::value, run_body<F>};
}

// A function object for the method that binds like a Python function, carries its name,
// qualified name and signature, and checks its arguments as the interpreter does.
py::object make_function(const Method& method, const char* owner, py::handle module_name);

// Fills the namespace of a freshly created module: imports, classes, __test__ (views/api.cpp).
void populate_module(py::handle module);

// Refuses to load, with an ImportError that names the family and what differs, where the views'
// family rows and the experiment's registry of model families disagree (views/families/rows.cpp).
void check_family_rows();

// ---------------------------------------------------------------------------------------------
// Names (call.cpp)

// A name that the caches below may key by its address: only a string literal makes one, so
// neither a `const char*` variable nor a std::string's c_str(), whose text may change or go while
// the cache still holds its address, compiles where a Name is expected.
class Name {
public:
    template <std::size_t N>
    constexpr Name(const char (&text)[N]) : text_(text) {}
    template <std::size_t N>
    Name(char (&)[N]) = delete;  // a buffer, not a literal

    constexpr const char* text() const { return text_; }

private:
    const char* text_;
};

// The interned str of a name, made once per process: attribute and global lookups with it skip
// making and hashing a new string at each call.
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

// `text` is a literal's: the text of a Name, or what a literal operator receives.
inline py::handle interned_literal(const char* text) {
    const InternedName& recent = g_recent_names[recent_name_slot(text)];
    return recent.text == text ? recent.name : intern_name(text);
}
}  // namespace detail

inline py::handle interned(Name name) { return detail::interned_literal(name.text()); }

// self.attr("experiment"_n), value["feature_names"_n]: a name as an interned str.
inline py::handle operator""_n(const char* text, std::size_t) { return detail::interned_literal(text); }

// A global name as Python code in this module sees it: the module namespace first, then the
// builtins; NameError where neither has it. Looked up at every use, so that a user or a test can
// substitute any component by assigning to the module attribute.
py::object global(Name name);

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
    Arg(Name text) : value(py::reinterpret_borrow<py::object>(interned(text))) {}  // a string constant
    template <std::size_t N>
    Arg(const char (&text)[N]) : Arg(Name(text)) {}
    template <std::size_t N>
    Arg(char (&)[N]) = delete;

    const char* keyword = nullptr;  // the text of a Name
    py::object value;
    py::object bound_self;  // of a callee made by method(): passed first
};

// name=value in a call.
inline Arg kw(Name name, Arg arg) {
    arg.keyword = name.text();
    return arg;
}

// obj.name as the callee of a call, looked up as Python looks up a method that it is about to
// call: a function found on the type is called with obj first, and no bound method is made.
//     call({method(hbar, "plot"), kw("X", names)})
Arg method(py::handle obj, Name name);

// callee(*positional, **keywords): items[0] is the callee.
py::object call(std::initializer_list<Arg> items);

}  // namespace vexo
