#include "python/entries.hpp"
#include "python/pair_setup_type.hpp"

namespace {

using cellkit::py::add_force_field_model;
using cellkit::py::add_pack_from_coords;
using cellkit::py::add_pack_packmol;
using cellkit::py::add_pack_raspa;
using cellkit::py::add_pair_setup_type;

// Import fails at the first step that fails; the order is the attribute order.
int exec_native(PyObject* module) {
    constexpr int (*steps[])(PyObject*) = {add_pair_setup_type, add_pack_packmol, add_pack_from_coords, add_pack_raspa,
                                                add_force_field_model};
    for (auto step : steps) {
        if (step(module) < 0) {
            return -1;
        }
    }
    return 0;
}

PyModuleDef_Slot native_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_native)},
    {0, nullptr},
};

PyModuleDef native_module = {
    PyModuleDef_HEAD_INIT,
    "_native",
    "Native extension module of cellkit, imported as `cellkit._native`.",
    0,
    nullptr,
    native_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__native() { return PyModuleDef_Init(&native_module); }
