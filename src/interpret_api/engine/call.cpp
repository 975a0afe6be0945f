// How the views reach Python: interned names, the module's globals, and calls through the
// vectorcall protocol. Written on the C API; the caches of names keep their references for the life
// of the process, as the module itself lives.
#include "engine/capi.h"
#include "engine/compat.h"
#include "engine/engine.h"

#include <algorithm>
#include <cstring>
#include <cstdint>
#include <utility>

namespace vexo {

namespace {

// An open-addressing table keyed by address, for caches that are read on every call and grow
// only while new call sites run for the first time. Entries live as long as the process.
template <typename Key, typename Value, std::size_t Size>
class AddressTable {
public:
    // The slot of `key`: found, or the empty one where it belongs.
    std::pair<Key, Value>& slot(std::size_t hash, const Key& key) {
        for (std::size_t i = 0; i < Size; ++i) {
            std::pair<Key, Value>& entry = entries_[(hash + i) & (Size - 1)];
            if (entry.second == nullptr || entry.first == key) {
                return entry;
            }
        }
        throw std::logic_error("vexo.workflow.interpret_api: more call sites than its caches hold");
    }

private:
    static_assert((Size & (Size - 1)) == 0, "a power of two");
    std::pair<Key, Value> entries_[Size] = {};
};

std::size_t address_hash(const void* address) {
    return static_cast<std::size_t>((reinterpret_cast<std::uintptr_t>(address) * 0x9E3779B97F4A7C15ull) >> 40);
}

}  // namespace

PyObject* detail::intern_name(const char* text) {
    // Keyed by the literal's address: the same name may be cached twice, which costs nothing.
    static AddressTable<const char*, PyObject*, 8192> cache;
    std::pair<const char*, PyObject*>& entry = cache.slot(address_hash(text), text);
    if (entry.second == nullptr) {
        PyObject* name = PyUnicode_InternFromString(text);
        if (name == nullptr) {
            throw py::error_already_set();
        }
        entry = {text, name};
    }
    g_recent_names[recent_name_slot(text)] = {text, entry.second};
    return entry.second;
}

namespace {

// Where a global was found, and the versions that the namespace and the builtins had before the
// lookups that found it. Every change of a dictionary gives it a new version, unique in the
// process, so while both are unchanged a lookup would find the same value. The slot owns what it
// holds: a stale slot can only be refreshed, never read through a freed pointer.
struct GlobalSlot {
    std::uint64_t ns_version = 0;
    py::object builtins;  // the builtins dictionary the value came from, or null: from the namespace
    std::uint64_t builtins_version = 0;
    py::object value;  // null while the slot holds nothing to trust
};

std::uint64_t version(PyObject* dict) {
#if PY_VERSION_HEX < 0x030C0000
    return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag;
#else
    (void)dict;
    return 0;  // no versions to trust: every lookup is made afresh
#endif
}

// dict[key] as an owned reference, or null with no error set when the key is missing. The lookup
// may run a key's __eq__, which may change or free anything the caller only borrows.
py::object dict_item(PyObject* dict, PyObject* key) {
    PyObject* found = PyDict_GetItemWithError(dict, key);
    if (found == nullptr && PyErr_Occurred()) {
        throw py::error_already_set();
    }
    return py::reinterpret_borrow<py::object>(found);
}

}  // namespace

py::object global(Name name) {
    PyObject* ns = module_dict();
    static AddressTable<const char*, GlobalSlot*, 1024> cache;
    std::pair<const char*, GlobalSlot*>& entry = cache.slot(address_hash(name.text()), name.text());
    GlobalSlot* slot = entry.second;
    // The namespace is compared first: while it is unchanged, so is its __builtins__, and the
    // builtins dictionary of the slot is the one that the namespace refers to.
    if (slot != nullptr && slot->value && version(ns) != 0 && slot->ns_version == version(ns) &&
        (!slot->builtins || slot->builtins_version == version(slot->builtins.ptr()))) {
        return slot->value;
    }
    if (slot == nullptr) {
        slot = new GlobalSlot{};
        entry = {name.text(), slot};
    }
    const py::handle key = interned(name);
    const std::uint64_t ns_version = version(ns);
    py::object found = dict_item(ns, key.ptr());
    py::object builtins;
    std::uint64_t builtins_version = 0;
    if (!found) {
        builtins = dict_item(ns, interned("__builtins__").ptr());
        if (builtins && PyModule_Check(builtins.ptr())) {
            builtins = py::reinterpret_borrow<py::object>(PyModule_GetDict(builtins.ptr()));
        }
        if (builtins && PyDict_Check(builtins.ptr())) {
            builtins_version = version(builtins.ptr());
            found = dict_item(builtins.ptr(), key.ptr());
        } else {
            builtins = py::object();
        }
    }
    if (!found) {
        PyErr_Format(PyExc_NameError, "name '%U' is not defined", key.ptr());
        throw py::error_already_set();
    }
    // Stored only if no lookup changed either dictionary; the slot's old content is released after
    // the slot is whole again, since releasing it may run Python code that reads the slot.
    GlobalSlot old;
    if (ns_version != 0 && version(ns) == ns_version && (!builtins || version(builtins.ptr()) == builtins_version)) {
        old = std::exchange(*slot, GlobalSlot{ns_version, builtins, builtins_version, found});
    } else {
        old = std::exchange(*slot, GlobalSlot{});
    }
    return found;
}

namespace {

constexpr std::size_t kMaxArgs = 24;

// The keyword names of one call site, as the addresses of their literals (the texts of Names).
struct KeywordSite {
    const char* names[kMaxArgs];  // the first `size` are set
    std::size_t size = 0;

    bool operator==(const KeywordSite& other) const {
        return size == other.size && std::memcmp(names, other.names, size * sizeof(const char*)) == 0;
    }
};

std::size_t keyword_site_hash(const KeywordSite& site) {
    std::size_t h = site.size;
    for (std::size_t i = 0; i < site.size; ++i) {
        h = h * 31 + address_hash(site.names[i]);
    }
    return h;
}

// The tuple of interned keyword names of a call site, made at its first call.
PyObject* keyword_names(const KeywordSite& site) {
    static AddressTable<KeywordSite, PyObject*, 1024> cache;
    std::pair<KeywordSite, PyObject*>& entry = cache.slot(keyword_site_hash(site), site);
    if (entry.second == nullptr) {
        PyObject* names = PyTuple_New(static_cast<Py_ssize_t>(site.size));
        if (names == nullptr) {
            throw py::error_already_set();
        }
        for (std::size_t i = 0; i < site.size; ++i) {
            PyObject* name = detail::interned_literal(site.names[i]).ptr();
            Py_INCREF(name);
            PyTuple_SET_ITEM(names, static_cast<Py_ssize_t>(i), name);
        }
        // Only the names that are set are copied: the rest of `site` was never written.
        entry.first.size = site.size;
        std::copy_n(site.names, site.size, entry.first.names);
        entry.second = names;
    }
    return entry.second;
}

}  // namespace

Arg method(py::handle obj, Name name) {
    PyObject* found = nullptr;
    const int unbound = _PyObject_GetMethod(obj.ptr(), interned(name).ptr(), &found);
    if (found == nullptr) {
        throw py::error_already_set();
    }
    Arg callee(py::reinterpret_steal<py::object>(found));
    if (unbound) {
        callee.bound_self = py::reinterpret_borrow<py::object>(obj);
    }
    return callee;
}

py::object call(std::initializer_list<Arg> items) {
    const std::size_t nargs = items.size() - 1;
    if (items.size() == 0 || nargs > kMaxArgs) {
        throw std::logic_error("call() takes a callee and at most 24 arguments");
    }
    PyObject* stack[kMaxArgs + 2];
    const Arg& callee = *items.begin();
    const std::size_t first = callee.bound_self ? 2 : 1;
    stack[1] = callee.bound_self.ptr();  // overwritten by the first argument when there is no self
    KeywordSite site;  // not zeroed: only its first `size` names are read
    std::size_t npositional = first - 1;
    const Arg* arg = items.begin() + 1;
    for (std::size_t i = 0; i < nargs; ++i, ++arg) {
        stack[i + first] = arg->value.ptr();
        if (arg->keyword != nullptr) {
            site.names[site.size++] = arg->keyword;
        } else if (site.size != 0) {
            throw std::logic_error("call(): a positional argument follows a keyword argument");
        } else {
            ++npositional;
        }
    }
    PyObject* kwnames = site.size != 0 ? keyword_names(site) : nullptr;
    // Slot 0 stays free for the callee's use (PY_VECTORCALL_ARGUMENTS_OFFSET): a bound method puts
    // its self there instead of copying the arguments.
    PyObject* result = vectorcall(callee.value.ptr(), stack + 1, npositional | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames);
    if (result == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::object>(result);
}

}  // namespace vexo
