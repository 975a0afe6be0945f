// What the units written on the C API share among themselves.
#pragma once

#include <Python.h>

namespace vexo {

// Sets the Python error carried by whatever is being thrown; call it inside a catch block.
void restore_error();

// Makes the native function type once per process; -1 with the error set on failure.
int ready_function_type();

// Enters one more nested call of the module on this thread (nesting.cpp); false with a
// RecursionError set where the thread's stack would not bear it. Each true is paired with a leave.
bool enter_nesting();
void leave_nesting();

// The namespace of the executed module (borrowed); std::logic_error before initialisation.
PyObject* module_dict();

}  // namespace vexo
