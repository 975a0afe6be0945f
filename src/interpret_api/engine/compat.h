// The vectorcall protocol under its 3.8 names and its later ones, and the interpreter's method
// lookup, which 3.8 exports without declaring it.
#pragma once

#include <Python.h>

#include <cstddef>

#if PY_VERSION_HEX < 0x03090000
extern "C" int _PyObject_GetMethod(PyObject* obj, PyObject* name, PyObject** method);
#endif

namespace vexo {

inline PyObject* vectorcall(PyObject* callable, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
#if PY_VERSION_HEX >= 0x03090000
    return PyObject_Vectorcall(callable, args, nargsf, kwnames);
#else
    return _PyObject_Vectorcall(callable, args, nargsf, kwnames);
#endif
}

#if PY_VERSION_HEX >= 0x03090000
inline constexpr unsigned long kHaveVectorcall = Py_TPFLAGS_HAVE_VECTORCALL;
#else
inline constexpr unsigned long kHaveVectorcall = _Py_TPFLAGS_HAVE_VECTORCALL;
#endif

}  // namespace vexo
