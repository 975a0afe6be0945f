// Module initialisation of vexo.workflow.interpret_api, written on the C API: multi-phase creation
// and execution with their checks, and the module namespace through which every view reaches its
// globals.
#include "engine/capi.h"
#include "engine/engine.h"

#include <frameobject.h>

#include <cstdio>
#include <string>

namespace vexo {

namespace {

// The module object that was executed in this process, and the interpreter it belongs to. Both
// live as long as the process: the module can only be initialised once.
PyObject* g_module = nullptr;
int64_t g_interpreter_id = -1;

}  // namespace

PyObject* module_dict() {
    if (g_module == nullptr) {
        throw std::logic_error("vexo.workflow.interpret_api is not initialised");
    }
    return PyModule_GetDict(g_module);
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
    PyInterpreterState* interpreter = current_interpreter();
    const int64_t id = PyInterpreterState_GetID(interpreter);
    if (id == -1) {
        return nullptr;
    }
    // pybind11 and the libraries that the module imports do not support sub-interpreters: a
    // failure inside one used to hang it for ever. Only the main interpreter gets the module.
    if (g_interpreter_id == -1 && interpreter == PyInterpreterState_Main()) {
        g_interpreter_id = id;
    }
    if (id != g_interpreter_id) {
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
    bool entered = false;
    bool ok = ready_function_type() == 0 && check_version() == 0 && prepare_namespace(module, &entered) == 0 &&
              check_builtins() == 0;
    if (ok) {
        try {
            // pybind11 builds its internal state at first use, which is otherwise the first
            // exception to pass through the module: at the recursion limit, that build recursed
            // until the process died.
            py::detail::get_internals();
            populate_module(module);
            check_family_rows();
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

// Exported whatever the build's default visibility: 3.8's PyMODINIT_FUNC does not say so itself.
extern "C" PYBIND11_EXPORT PyObject* PyInit_interpret_api(void) { return PyModuleDef_Init(&vexo::module_def); }
