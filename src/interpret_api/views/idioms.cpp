// The idioms of idioms.h that take more than a line or two.
#include "views/idioms.h"

namespace vexo {

py::dict inverted(py::handle mapping) {
    py::dict inverse;
    for (py::handle item : call({method(mapping, "items")})) {
        auto [k, v] = unpack_two(item);
        inverse[v] = k;
    }
    return inverse;
}

std::pair<py::object, py::object> unpack_two(py::handle pair) {
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

}  // namespace vexo
