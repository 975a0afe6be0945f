// The interpreter-facing part of vexo.workflow.interpret_api, written once on the C API: the
// module's multi-phase initialisation with its checks, the native function type that the classes'
// methods are made of (binding, names, signature, argument errors), and the one place where C++
// exceptions are turned back into Python errors. Everything else is written on pybind11's object
// layer; reference counts are handled by hand only here.
#include "interpret_api.h"

#include <frameobject.h>
#include <structmember.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace vexo {

using namespace pybind11::literals;

namespace {

// The module object that was executed in this process, and the interpreter it belongs to. Both
// live as long as the process: the module can only be initialised once.
PyObject* g_module = nullptr;
int64_t g_interpreter_id = -1;

PyTypeObject* g_function_type = nullptr;

// Restores the Python error carried by whatever a body threw.
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

// ---------------------------------------------------------------------------------------------
// The native function type
//
// A function of InterpretAPI binds like a Python function (its __get__ makes a bound method), a
// function of InterpretGraph is wrapped in staticmethod. inspect.signature reads __signature__,
// so IPython's completion and `?` show the parameters and their defaults.

constexpr Py_ssize_t kMaxParams = 16;

struct Function {
    PyObject_HEAD
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
// parameter may be given by position or by keyword, once.
bool bind_arguments(Function* f, PyObject* args, PyObject* kwargs, PyObject** bound) {
    const Py_ssize_t nparams = PyTuple_GET_SIZE(f->params);
    const Py_ssize_t ndefaults = PyTuple_GET_SIZE(f->defaults);
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    if (nargs > nparams) {
        count_error(f, nargs);
        return false;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        bound[i] = PyTuple_GET_ITEM(args, i);
    }
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject* keyword;
        PyObject* value;
        while (PyDict_Next(kwargs, &pos, &keyword, &value)) {
            if (!PyUnicode_Check(keyword)) {
                PyErr_Format(PyExc_TypeError, "%U() keywords must be strings", f->name);
                return false;
            }
            const Py_ssize_t i = find_param(f, keyword);
            if (i < 0) {
                PyErr_Format(PyExc_TypeError, "%U() got an unexpected keyword argument '%U'", f->name,
                             keyword);
                return false;
            }
            if (bound[i] != nullptr) {
                PyErr_Format(PyExc_TypeError, "%U() got multiple values for argument '%U'", f->name,
                             keyword);
                return false;
            }
            bound[i] = value;
        }
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

PyObject* function_call(PyObject* op, PyObject* args, PyObject* kwargs) {
    Function* f = as_function(op);
    PyObject* bound[kMaxParams] = {};
    if (!bind_arguments(f, args, kwargs, bound)) {
        return nullptr;
    }
    // Views call back into methods that users may replace; a cycle of native calls must end in
    // RecursionError, not in a crash.
    if (Py_EnterRecursiveCall(" while calling a vexo.workflow.interpret_api function")) {
        return nullptr;
    }
    PyObject* result = nullptr;
    try {
        const Args bound_args(bound, static_cast<std::size_t>(PyTuple_GET_SIZE(f->params)));
        result = f->body(bound_args).release().ptr();
        if (result == nullptr && !PyErr_Occurred()) {
            result = Py_None;
            Py_INCREF(result);
        }
    } catch (...) {
        restore_error();
    }
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
        try {
            f->signature = make_signature(f).release().ptr();
        } catch (...) {
            restore_error();
            return nullptr;
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
#endif
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot function_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(function_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(function_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(function_repr)},
    {Py_tp_call, reinterpret_cast<void*>(function_call)},
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
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_METHOD_DESCRIPTOR,
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
    py::tuple params(names);
    py::tuple default_values(defaults);
    py::str name(method.name);
    py::str qualname(std::string(owner) + "." + method.name);
    py::str text_signature(std::string("(") + method.signature + ")");

    Function* f = PyObject_New(Function, g_function_type);
    if (f == nullptr) {
        throw py::error_already_set();
    }
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

py::handle interned(const char* text) {
    // Keyed by the literal's address: the same name may be cached twice, which costs nothing.
    static std::unordered_map<const char*, PyObject*> cache;
    auto found = cache.find(text);
    if (found != cache.end()) {
        return found->second;
    }
    PyObject* name = PyUnicode_InternFromString(text);
    if (name == nullptr) {
        throw py::error_already_set();
    }
    cache.emplace(text, name);  // kept for the life of the process, as the module is
    return name;
}

py::object global(const char* name) {
    if (g_module == nullptr) {
        throw std::logic_error("vexo.workflow.interpret_api is not initialised");
    }
    const py::handle key = interned(name);
    PyObject* ns = PyModule_GetDict(g_module);
    PyObject* found = PyDict_GetItemWithError(ns, key.ptr());
    if (found == nullptr && !PyErr_Occurred()) {
        PyObject* builtins = PyDict_GetItemString(ns, "__builtins__");
        if (builtins != nullptr && PyModule_Check(builtins)) {
            builtins = PyModule_GetDict(builtins);
        }
        if (builtins != nullptr && PyDict_Check(builtins)) {
            found = PyDict_GetItemWithError(builtins, key.ptr());
        }
    }
    if (found == nullptr) {
        if (!PyErr_Occurred()) {
            PyErr_Format(PyExc_NameError, "name '%U' is not defined", key.ptr());
        }
        throw py::error_already_set();
    }
    return py::reinterpret_borrow<py::object>(found);
}

namespace {

// ---------------------------------------------------------------------------------------------
// Module initialisation

PyInterpreterState* current_interpreter() {
#if PY_VERSION_HEX >= 0x03090000
    return PyInterpreterState_Get();
#else
    return _PyInterpreterState_Get();
#endif
}

// Copies spec.<attribute> into the module namespace; a missing attribute is skipped.
int copy_spec_attribute(PyObject* spec, PyObject* ns, const char* from, const char* to, bool none_allowed) {
    PyObject* value = PyObject_GetAttrString(spec, from);
    if (value == nullptr) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
            PyErr_Clear();
            return 0;
        }
        return -1;
    }
    int result = 0;
    if (none_allowed || value != Py_None) {
        result = PyDict_SetItemString(ns, to, value);
    }
    Py_DECREF(value);
    return result;
}

PyObject* module_create(PyObject* spec, PyModuleDef*) {
    const int64_t id = PyInterpreterState_GetID(current_interpreter());
    if (id == -1) {
        return nullptr;
    }
    if (g_interpreter_id == -1) {
        g_interpreter_id = id;
    } else if (id != g_interpreter_id) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one "
                        "interpreter per process.");
        return nullptr;
    }
    if (g_module != nullptr) {
        Py_INCREF(g_module);
        return g_module;
    }
    PyObject* name = PyObject_GetAttrString(spec, "name");
    if (name == nullptr) {
        return nullptr;
    }
    PyObject* module = PyModule_NewObject(name);
    Py_DECREF(name);
    if (module == nullptr) {
        return nullptr;
    }
    PyObject* ns = PyModule_GetDict(module);
    if (copy_spec_attribute(spec, ns, "loader", "__loader__", true) < 0 ||
        copy_spec_attribute(spec, ns, "origin", "__file__", true) < 0 ||
        copy_spec_attribute(spec, ns, "parent", "__package__", true) < 0 ||
        copy_spec_attribute(spec, ns, "submodule_search_locations", "__path__", false) < 0) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}

// The major and minor version of a version string: "3.11" of "3.11.7 (main, ...)".
std::string major_minor(const char* version) {
    std::string out;
    int points = 0;
    for (const char* p = version; *p != '\0'; ++p) {
        if (*p == '.') {
            if (++points == 2) {
                break;
            }
        } else if (*p < '0' || *p > '9') {
            break;
        }
        out += *p;
    }
    return out;
}

// Warns when the interpreter that runs the module is not the one it was built for: their major
// and minor versions must be equal (3.1 is not 3.11).
int check_version() {
    char built[32];
    std::snprintf(built, sizeof built, "%d.%d", PY_MAJOR_VERSION, PY_MINOR_VERSION);
    const char* running_version = Py_GetVersion();
    PyObject* sys_version = PySys_GetObject("version");  // borrowed
    if (sys_version != nullptr && PyUnicode_Check(sys_version)) {
        const char* text = PyUnicode_AsUTF8(sys_version);
        if (text == nullptr) {
            return -1;
        }
        running_version = text;
    }
    const std::string running = major_minor(running_version);
    if (running == built) {
        return 0;
    }
    return PyErr_WarnFormat(nullptr, 1, "compiletime version %s of module '%.100s' does not match runtime version %s",
                            built, kModuleName, running.c_str());
}

// Builtins that the module relies on; a missing one fails initialisation.
int check_builtins() {
    static const char* const names[] = {"staticmethod", "print", "enumerate", "object", "range", "ValueError", "round"};
    PyObject* builtins = PyEval_GetBuiltins();  // borrowed
    for (const char* name : names) {
        PyObject* found = builtins != nullptr ? PyDict_GetItemString(builtins, name) : nullptr;
        if (found == nullptr) {
            PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
            return -1;
        }
    }
    return 0;
}

// Sets __builtins__ and enters the module into sys.modules under its full name, unless an entry
// is there already; `entered` tells whether this call made the entry.
int prepare_namespace(PyObject* module, bool* entered) {
    PyObject* ns = PyModule_GetDict(module);
    if (PyDict_SetItemString(ns, "__builtins__", PyEval_GetBuiltins()) < 0) {
        return -1;
    }
    PyObject* modules = PyImport_GetModuleDict();  // borrowed
    PyObject* existing = PyDict_GetItemString(modules, kModuleName);
    if (existing == nullptr) {
        if (PyDict_SetItemString(modules, kModuleName, module) < 0) {
            return -1;
        }
        *entered = true;
    }
    return 0;
}

// Takes out the sys.modules entry that a failed execution made, so that a later import starts
// afresh instead of finding a module without its classes.
void forget_module(PyObject* module) {
    PyObject* type;
    PyObject* value;
    PyObject* traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyObject* modules = PyImport_GetModuleDict();  // borrowed
    if (PyDict_GetItemString(modules, kModuleName) == module && PyDict_DelItemString(modules, kModuleName) < 0) {
        PyErr_Clear();
    }
    PyErr_Restore(type, value, traceback);
}

// Records "init vexo.workflow.interpret_api" in the traceback of the pending error.
void add_init_traceback() {
    PyObject* type;
    PyObject* value;
    PyObject* traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyCodeObject* code = PyCode_NewEmpty("interpret_api", "init vexo.workflow.interpret_api", 1);
    PyObject* globals = PyDict_New();
    PyFrameObject* frame = nullptr;
    if (code != nullptr && globals != nullptr) {
        frame = PyFrame_New(PyThreadState_Get(), code, globals, nullptr);
    }
    if (frame == nullptr) {
        PyErr_Clear();  // the original error matters more than its traceback entry
    }
    PyErr_Restore(type, value, traceback);
    if (frame != nullptr) {
        PyTraceBack_Here(frame);
    }
    Py_XDECREF(frame);
    Py_XDECREF(globals);
    Py_XDECREF(code);
}

int module_exec(PyObject* module) {
    if (g_module != nullptr) {
        if (g_module == module) {
            return 0;
        }
        PyErr_SetString(PyExc_RuntimeError,
                        "Module 'interpret_api' has already been imported. Re-initialisation is not supported.");
        return -1;
    }
    g_module = module;
    Py_INCREF(g_module);
    if (g_function_type == nullptr) {
        g_function_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&function_spec));
#if PY_VERSION_HEX < 0x03090000
        if (g_function_type != nullptr) {
            g_function_type->tp_weaklistoffset = offsetof(Function, weakrefs);
        }
#endif
    }
    bool entered = false;
    bool ok = g_function_type != nullptr && check_version() == 0 && prepare_namespace(module, &entered) == 0 &&
              check_builtins() == 0;
    if (ok) {
        try {
            populate_module(module);
        } catch (...) {
            restore_error();
            ok = false;
        }
    }
    if (!ok) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_ImportError, "init vexo.workflow.interpret_api");
        }
        add_init_traceback();
        if (entered) {
            forget_module(module);
        }
        Py_CLEAR(g_module);
        return -1;
    }
    return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(module_create)},
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "interpret_api", nullptr, 0, nullptr, module_slots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace vexo

PyMODINIT_FUNC PyInit_interpret_api(void) { return PyModuleDef_Init(&vexo::module_def); }
