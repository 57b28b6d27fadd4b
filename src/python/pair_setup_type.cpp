#include "python/pair_setup_type.hpp"

#include <array>
#include <string>

namespace cellkit::py {
namespace {

struct PairSetupObject {
    PyObject_HEAD
    PairSetup value;
};

PairSetup value_of(PyObject* obj) { return reinterpret_cast<PairSetupObject*>(obj)->value; }

PyObject* pair_setup_repr(PyObject* self) {
    std::string text = "PyPairSetup.";
    text += pair_setup_name(value_of(self));
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyObject* pair_setup_int(PyObject* self) { return PyLong_FromLong(static_cast<long>(value_of(self))); }

PyObject* pair_setup_richcompare(PyObject* self, PyObject* other, int op) {
    if ((op != Py_EQ && op != Py_NE) || !is_pair_setup(self)) {
        Py_RETURN_NOTIMPLEMENTED;
    }
    long long other_value = 0;
    if (is_pair_setup(other)) {
        other_value = static_cast<long long>(value_of(other));
    } else if (PyIndex_Check(other)) {
        Ref index = Ref::steal(PyNumber_Index(other));
        if (!index) {
            return nullptr;
        }
        int overflow = 0;
        other_value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
        if (overflow != 0) {
            Py_RETURN_NOTIMPLEMENTED;
        }
        if (other_value == -1 && PyErr_Occurred()) {
            return nullptr;
        }
    } else {
        Py_RETURN_NOTIMPLEMENTED;
    }
    const bool equal = other_value == static_cast<long long>(value_of(self));
    return PyBool_FromLong((op == Py_EQ) == equal);
}

// Instances refer to their heap type, which refers back to them through its
// class attributes; the collector has to see that edge to free both.
int pair_setup_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    return 0;
}

void pair_setup_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    type->tp_free(self);
    Py_DECREF(type);
}

// No __hash__: CPython then marks the class unhashable because it compares.
PyType_Slot pair_setup_slots[] = {
    {Py_tp_doc, const_cast<char*>("Python-exposed PairSetup enum")},
    {Py_tp_repr, reinterpret_cast<void*>(pair_setup_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(pair_setup_richcompare)},
    {Py_nb_int, reinterpret_cast<void*>(pair_setup_int)},
    {Py_tp_traverse, reinterpret_cast<void*>(pair_setup_traverse)},
    {Py_tp_dealloc, reinterpret_cast<void*>(pair_setup_dealloc)},
    {0, nullptr},
};

PyType_Spec pair_setup_spec = {
    "cellkit._native.PyPairSetup",
    sizeof(PairSetupObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    pair_setup_slots,
};

constexpr std::array kPresets = {PairSetup::Tip4p, PairSetup::LjCut, PairSetup::LjCutCoulLong, PairSetup::ForceField};

}  // namespace

bool is_pair_setup(PyObject* obj) {
    // The class cannot be subclassed, and every module instance builds its
    // own class from the same slots, so the repr slot identifies them all.
    return Py_TYPE(obj)->tp_repr == pair_setup_repr;
}

PairSetup pair_setup_value(PyObject* obj) { return value_of(obj); }

int add_pair_setup_type(PyObject* module) {
    Ref type = Ref::steal(PyType_FromModuleAndSpec(module, &pair_setup_spec, nullptr));
    if (!type) {
        return -1;
    }
    auto* type_obj = reinterpret_cast<PyTypeObject*>(type.get());
    // The class is immutable from Python, so its attributes go straight into its namespace.
    Ref dict = Ref::steal(PyType_GetDict(type_obj));
    if (!dict) {
        return -1;
    }
    for (const PairSetup preset : kPresets) {
        Ref instance = Ref::steal(type_obj->tp_alloc(type_obj, 0));
        if (!instance) {
            return -1;
        }
        reinterpret_cast<PairSetupObject*>(instance.get())->value = preset;
        const std::string name(pair_setup_name(preset));
        if (PyDict_SetItemString(dict.get(), name.c_str(), instance.get()) < 0) {
            return -1;
        }
    }
    PyType_Modified(type_obj);
    return PyModule_AddType(module, type_obj);
}

}  // namespace cellkit::py
