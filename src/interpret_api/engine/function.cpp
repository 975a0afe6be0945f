// The native function type that the methods of both classes are made of, written on the C API:
// binding like a Python function, names and signature for inspect and IPython, argument errors with
// the interpreter's own messages, pickling by reference, and the vectorcall entry through which
// Python and the views call it. The one catch that turns a C++ exception back into the Python
// error is here too.
#include "engine/capi.h"
#include "engine/compat.h"
#include "engine/engine.h"

#include <structmember.h>

#include <algorithm>
#include <string>
#include <vector>

namespace vexo {

using namespace pybind11::literals;

void restore_error() {
    try {
        throw;
    } catch (py::error_already_set& e) {
        e.restore();
    } catch (const py::builtin_exception& e) {
        e.set_error();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_SystemError, e.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unknown C++ exception in vexo.workflow.interpret_api");
    }
}

namespace {

PyTypeObject* g_function_type = nullptr;

// ---------------------------------------------------------------------------------------------
// The native function type
//
// A function of InterpretAPI binds like a Python function (its __get__ makes a bound method), a
// function of InterpretGraph is wrapped in staticmethod. inspect.signature reads __signature__,
// so IPython's completion and `?` show the parameters and their defaults.

constexpr Py_ssize_t kMaxParams = 16;

struct Function {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    Body body;
    PyObject* name;            // str
    PyObject* qualname;        // str
    PyObject* module;          // str
    PyObject* params;          // tuple of interned str
    PyObject* defaults;        // tuple: the defaults of the last len(defaults) parameters
    PyObject* text_signature;  // str: "(self, return_data=False, figsize=(8, 6))"
    PyObject* signature;       // inspect.Signature, made on first use
    PyObject* weakrefs;
};

Function* as_function(PyObject* op) { return reinterpret_cast<Function*>(op); }

void function_dealloc(PyObject* op) {
    Function* f = as_function(op);
    if (f->weakrefs != nullptr) {
        PyObject_ClearWeakRefs(op);
    }
    Py_XDECREF(f->name);
    Py_XDECREF(f->qualname);
    Py_XDECREF(f->module);
    Py_XDECREF(f->params);
    Py_XDECREF(f->defaults);
    Py_XDECREF(f->text_signature);
    Py_XDECREF(f->signature);
    PyTypeObject* type = Py_TYPE(op);
    type->tp_free(op);
    Py_DECREF(type);
}

// Function objects are made only by the module; one made from Python would have no body.
PyObject* function_new(PyTypeObject* type, PyObject*, PyObject*) {
    PyErr_Format(PyExc_TypeError, "cannot create '%.100s' instances", type->tp_name);
    return nullptr;
}

PyObject* function_repr(PyObject* op) {
    return PyUnicode_FromFormat("<function %U at %p>", as_function(op)->qualname, op);
}

// "fi() takes at most 3 positional arguments (4 given)"
PyObject* count_error(Function* f, Py_ssize_t given) {
    const Py_ssize_t nparams = PyTuple_GET_SIZE(f->params);
    const Py_ssize_t nrequired = nparams - PyTuple_GET_SIZE(f->defaults);
    const char* how;
    Py_ssize_t bound;
    if (nrequired == nparams) {
        how = "exactly";
        bound = nparams;
    } else if (given < nrequired) {
        how = "at least";
        bound = nrequired;
    } else {
        how = "at most";
        bound = nparams;
    }
    const char* name = PyUnicode_AsUTF8(f->name);
    if (name == nullptr) {
        return nullptr;
    }
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)", name,
                 how, bound, bound == 1 ? "" : "s", given);
    return nullptr;
}

Py_ssize_t find_param(Function* f, PyObject* keyword) {
    const Py_ssize_t nparams = PyTuple_GET_SIZE(f->params);
    for (Py_ssize_t i = 0; i < nparams; ++i) {
        if (PyTuple_GET_ITEM(f->params, i) == keyword) {
            return i;
        }
    }
    for (Py_ssize_t i = 0; i < nparams; ++i) {
        if (PyUnicode_Compare(PyTuple_GET_ITEM(f->params, i), keyword) == 0) {
            return i;
        }
    }
    return -1;
}

// Binds positional and keyword arguments to the parameters, as a Python function does: every
// parameter may be given by position or by keyword, once. `kwnames` names the last arguments.
bool bind_arguments(Function* f, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** bound) {
    const Py_ssize_t nparams = PyTuple_GET_SIZE(f->params);
    const Py_ssize_t ndefaults = PyTuple_GET_SIZE(f->defaults);
    if (nargs > nparams) {
        count_error(f, nargs);
        return false;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        bound[i] = args[i];
    }
    const Py_ssize_t nkwargs = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkwargs; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        if (!PyUnicode_Check(keyword)) {
            PyErr_Format(PyExc_TypeError, "%U() keywords must be strings", f->name);
            return false;
        }
        const Py_ssize_t i = find_param(f, keyword);
        if (i < 0) {
            PyErr_Format(PyExc_TypeError, "%U() got an unexpected keyword argument '%U'", f->name, keyword);
            return false;
        }
        if (bound[i] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%U() got multiple values for argument '%U'", f->name, keyword);
            return false;
        }
        bound[i] = args[nargs + k];
    }
    const Py_ssize_t nrequired = nparams - ndefaults;
    for (Py_ssize_t i = 0; i < nparams; ++i) {
        if (bound[i] != nullptr) {
            continue;
        }
        if (i < nrequired) {
            count_error(f, i);
            return false;
        }
        bound[i] = PyTuple_GET_ITEM(f->defaults, i - nrequired);
    }
    return true;
}

PyObject* function_vectorcall(PyObject* op, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    Function* f = as_function(op);
    PyObject* bound[kMaxParams];
    std::fill_n(bound, PyTuple_GET_SIZE(f->params), nullptr);
    if (!bind_arguments(f, args, PyVectorcall_NARGS(nargsf), kwnames, bound)) {
        return nullptr;
    }
    if (Py_EnterRecursiveCall(" while calling a vexo.workflow.interpret_api function")) {
        return nullptr;
    }
    if (!enter_nesting()) {
        Py_LeaveRecursiveCall();
        return nullptr;
    }
    PyObject* result = nullptr;
    try {
        result = f->body(bound).release().ptr();
        if (result == nullptr && !PyErr_Occurred()) {
            result = Py_None;
            Py_INCREF(result);
        }
    } catch (...) {
        restore_error();
    }
    leave_nesting();
    Py_LeaveRecursiveCall();
    return result;
}

PyObject* function_get(PyObject* op, PyObject* obj, PyObject* /*type*/) {
    if (obj == nullptr || obj == Py_None) {
        Py_INCREF(op);
        return op;
    }
    return PyMethod_New(op, obj);
}

PyObject* get_name(PyObject* op, void*) {
    Py_INCREF(as_function(op)->name);
    return as_function(op)->name;
}

PyObject* get_qualname(PyObject* op, void*) {
    Py_INCREF(as_function(op)->qualname);
    return as_function(op)->qualname;
}

PyObject* get_doc(PyObject*, void*) { Py_RETURN_NONE; }

PyObject* get_text_signature(PyObject* op, void*) {
    Py_INCREF(as_function(op)->text_signature);
    return as_function(op)->text_signature;
}

PyObject* get_defaults(PyObject* op, void*) {
    Function* f = as_function(op);
    if (PyTuple_GET_SIZE(f->defaults) == 0) {
        Py_RETURN_NONE;
    }
    Py_INCREF(f->defaults);
    return f->defaults;
}

py::object make_signature(Function* f) {
    py::module_ inspect = py::module_::import("inspect");
    py::object Parameter = inspect.attr("Parameter");
    py::object kind = Parameter.attr("POSITIONAL_OR_KEYWORD");
    py::tuple params = py::reinterpret_borrow<py::tuple>(f->params);
    py::tuple defaults = py::reinterpret_borrow<py::tuple>(f->defaults);
    const std::size_t nrequired = params.size() - defaults.size();
    py::list parameters;
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (i < nrequired) {
            parameters.append(Parameter(params[i], kind));
        } else {
            parameters.append(Parameter(params[i], kind, "default"_a = defaults[i - nrequired]));
        }
    }
    return inspect.attr("Signature")(parameters);
}

PyObject* get_signature(PyObject* op, void*) {
    Function* f = as_function(op);
    if (f->signature == nullptr) {
        PyObject* made;
        try {
            made = make_signature(f).release().ptr();
        } catch (...) {
            restore_error();
            return nullptr;
        }
        // Making it runs Python code, during which another thread may have stored one: the first
        // store wins.
        if (f->signature == nullptr) {
            f->signature = made;
        } else {
            Py_DECREF(made);
        }
    }
    Py_INCREF(f->signature);
    return f->signature;
}

// Functions are copied and pickled by reference, as Python's own are: by their qualified name in
// their module.
PyObject* function_reduce(PyObject* op, PyObject*) {
    Py_INCREF(as_function(op)->qualname);
    return as_function(op)->qualname;
}

PyMethodDef function_methods[] = {
    {"__reduce__", function_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef function_getset[] = {
    {"__name__", get_name, nullptr, nullptr, nullptr},
    {"__qualname__", get_qualname, nullptr, nullptr, nullptr},
    {"__doc__", get_doc, nullptr, nullptr, nullptr},
    {"__text_signature__", get_text_signature, nullptr, nullptr, nullptr},
    {"__signature__", get_signature, nullptr, nullptr, nullptr},
    {"__defaults__", get_defaults, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef function_members[] = {
    {"__module__", T_OBJECT, offsetof(Function, module), READONLY, nullptr},
#if PY_VERSION_HEX >= 0x03090000
    {"__weaklistoffset__", T_PYSSIZET, offsetof(Function, weakrefs), READONLY, nullptr},
    {"__vectorcalloffset__", T_PYSSIZET, offsetof(Function, vectorcall), READONLY, nullptr},
#endif
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot function_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(function_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(function_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(function_repr)},
    {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
    {Py_tp_descr_get, reinterpret_cast<void*>(function_get)},
    {Py_tp_methods, function_methods},
    {Py_tp_getset, function_getset},
    {Py_tp_members, function_members},
    {0, nullptr},
};

PyType_Spec function_spec = {
    "vexo.workflow.interpret_api.native_function",
    sizeof(Function),
    0,
#if PY_VERSION_HEX >= 0x03090000
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_METHOD_DESCRIPTOR | kHaveVectorcall,
#else
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_METHOD_DESCRIPTOR,
#endif
    function_slots,
};

// Splits "self, x=(8, 6), y='a, b'" into its parameters at the commas that stand outside
// brackets and quotes.
std::vector<std::string> split_parameters(const char* signature) {
    std::vector<std::string> out;
    std::string current;
    int depth = 0;
    char quote = 0;
    for (const char* p = signature; *p != '\0'; ++p) {
        const char c = *p;
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            }
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '(' || c == '[' || c == '{') {
            ++depth;
        } else if (c == ')' || c == ']' || c == '}') {
            --depth;
        } else if (c == ',' && depth == 0) {
            out.push_back(current);
            current.clear();
            continue;
        }
        if (!(current.empty() && c == ' ')) {
            current += c;
        }
    }
    if (!current.empty()) {
        out.push_back(current);
    }
    return out;
}

}  // namespace

py::object make_function(const Method& method, const char* owner, py::handle module_name) {
    py::list names;
    py::list defaults;
    py::object literal_eval = py::module_::import("ast").attr("literal_eval");
    for (const std::string& param : split_parameters(method.signature)) {
        const std::size_t eq = param.find('=');
        const std::string name = param.substr(0, eq);
        names.append(py::reinterpret_steal<py::str>(PyUnicode_InternFromString(name.c_str())));
        if (eq != std::string::npos) {
            defaults.append(literal_eval(param.substr(eq + 1)));
        } else if (!defaults.empty()) {
            throw std::logic_error(std::string("a parameter without default follows one with: ") +
                                   method.name);
        }
    }
    if (names.size() > static_cast<std::size_t>(kMaxParams)) {
        throw std::logic_error(std::string("too many parameters: ") + method.name);
    }
    if (names.size() != method.arity) {
        throw std::logic_error(std::string(owner) + "." + method.name + " takes " + std::to_string(method.arity) +
                               " parameters, its signature names " + std::to_string(names.size()));
    }
    py::tuple params(names);
    py::tuple default_values(defaults);
    py::str name(method.name);
    py::str qualname(std::string(owner) + "." + method.name);
    py::str text_signature(std::string("(") + method.signature + ")");

    Function* f = PyObject_New(Function, g_function_type);
    if (f == nullptr) {
        throw py::error_already_set();
    }
    f->vectorcall = function_vectorcall;
    f->body = method.body;
    f->name = name.release().ptr();
    f->qualname = qualname.release().ptr();
    f->module = py::reinterpret_borrow<py::object>(module_name).release().ptr();
    f->params = params.release().ptr();
    f->defaults = default_values.release().ptr();
    f->text_signature = text_signature.release().ptr();
    f->signature = nullptr;
    f->weakrefs = nullptr;
    return py::reinterpret_steal<py::object>(reinterpret_cast<PyObject*>(f));
}


int ready_function_type() {
    if (g_function_type != nullptr) {
        return 0;
    }
    g_function_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&function_spec));
    if (g_function_type == nullptr) {
        return -1;
    }
#if PY_VERSION_HEX < 0x03090000
    // 3.8 takes neither offset from the spec.
    g_function_type->tp_weaklistoffset = offsetof(Function, weakrefs);
    g_function_type->tp_vectorcall_offset = offsetof(Function, vectorcall);
    g_function_type->tp_flags |= kHaveVectorcall;
#endif
    return 0;
}

}  // namespace vexo
