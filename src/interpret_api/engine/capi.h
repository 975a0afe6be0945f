// What the units written on the C API share among themselves.
#pragma once

#include <Python.h>

namespace vexo {

// Sets the Python error carried by whatever is being thrown; call it inside a catch block.
void restore_error();

// Makes the native function type once per process; -1 with the error set on failure.
int ready_function_type();

// The namespace of the executed module (borrowed); std::logic_error before initialisation.
PyObject* module_dict();

}  // namespace vexo
