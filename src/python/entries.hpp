// The entry functions, each added to the module by its own function.
#pragma once

#include "python/py_ref.hpp"

namespace cellkit::py {

// Each returns -1 with an exception set on failure.
int add_pack_packmol(PyObject* module);
int add_pack_from_coords(PyObject* module);
int add_pack_raspa(PyObject* module);
int add_force_field_model(PyObject* module);

}  // namespace cellkit::py
