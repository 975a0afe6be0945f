// How the views reach Python: interned names, the module's globals, and calls through the
// vectorcall protocol. Written on the C API; the caches here keep their references for the life of
// the process, as the module itself lives.
#include "compat.h"
#include "interpret_api.h"

#include <cstring>
#include <unordered_map>

namespace vexo {

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
    cache.emplace(text, name);
    return name;
}

Arg::Arg(const char* text) : value(py::reinterpret_borrow<py::object>(interned(text))) {}

namespace {

constexpr std::size_t kMaxArgs = 24;

// The keyword names of one call site, as the addresses of their literals.
struct KeywordSite {
    const char* names[kMaxArgs];
    std::size_t size;

    bool operator==(const KeywordSite& other) const {
        return size == other.size && std::memcmp(names, other.names, size * sizeof(const char*)) == 0;
    }
};

struct KeywordSiteHash {
    std::size_t operator()(const KeywordSite& site) const {
        std::size_t h = site.size;
        for (std::size_t i = 0; i < site.size; ++i) {
            h = h * 1000003u ^ reinterpret_cast<std::uintptr_t>(site.names[i]);
        }
        return h;
    }
};

// The tuple of interned keyword names of a call site, made at its first call.
PyObject* keyword_names(const KeywordSite& site) {
    static std::unordered_map<KeywordSite, PyObject*, KeywordSiteHash> cache;
    auto found = cache.find(site);
    if (found != cache.end()) {
        return found->second;
    }
    PyObject* names = PyTuple_New(static_cast<Py_ssize_t>(site.size));
    if (names == nullptr) {
        throw py::error_already_set();
    }
    for (std::size_t i = 0; i < site.size; ++i) {
        PyObject* name = interned(site.names[i]).ptr();
        Py_INCREF(name);
        PyTuple_SET_ITEM(names, static_cast<Py_ssize_t>(i), name);
    }
    cache.emplace(site, names);
    return names;
}

}  // namespace

py::object call(std::initializer_list<Arg> items) {
    const std::size_t nargs = items.size() - 1;
    if (items.size() == 0 || nargs > kMaxArgs) {
        throw std::logic_error("call() takes a callee and at most 24 arguments");
    }
    // Slot 0 stays free for the callee's use (PY_VECTORCALL_ARGUMENTS_OFFSET): a bound method puts
    // its self there instead of copying the arguments.
    PyObject* stack[kMaxArgs + 1];
    KeywordSite site;
    site.size = 0;
    std::size_t npositional = 0;
    const Arg* arg = items.begin() + 1;
    for (std::size_t i = 0; i < nargs; ++i, ++arg) {
        stack[i + 1] = arg->value.ptr();
        if (arg->keyword != nullptr) {
            site.names[site.size++] = arg->keyword;
        } else if (site.size != 0) {
            throw std::logic_error("call(): a positional argument follows a keyword argument");
        } else {
            ++npositional;
        }
    }
    PyObject* kwnames = site.size != 0 ? keyword_names(site) : nullptr;
    PyObject* result = vectorcall(items.begin()->value.ptr(), stack + 1, npositional | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                  kwnames);
    if (result == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::object>(result);
}

}  // namespace vexo
