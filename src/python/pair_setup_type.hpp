// The Python class PyPairSetup: one shared instance per pair style.
#pragma once

#include "python/py_ref.hpp"

#include "lammps/pair_setup.hpp"

namespace cellkit::py {

// Creates the class with its Tip4p, LjCut, LjCutCoulLong and ForceField attributes and
// adds it to the module; returns -1 with an exception set on failure.
int add_pair_setup_type(PyObject* module);

// True for instances of PyPairSetup from any instance of this module.
bool is_pair_setup(PyObject* obj);

// The preset of an object for which is_pair_setup holds.
PairSetup pair_setup_value(PyObject* obj);

}  // namespace cellkit::py
