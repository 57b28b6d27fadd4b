#include <filesystem>

#include "ff/record_keys.hpp"
#include "pipeline/species_loading.hpp"
#include "python/convert.hpp"
#include "python/entries.hpp"
#include "python/errors.hpp"

namespace cellkit::py {
namespace {

constexpr Signature<2> kSignature{"OO:_force_field_model_py", {"force_field", "box_len", nullptr}};

constexpr const char kDoc[] =
    "_force_field_model_py(force_field, box_len)\n"
    "--\n"
    "\n"
    "The non-bonded model of a force-field file in a cubic box, as RASPA3 reads it.\n"
    "\n"
    "Returns a dict: cutoff_vdw and cutoff_coulomb (\u00c5), shifted, tail_corrections,\n"
    "charges (False for ChargeMethod None), ewald_alpha (1/\u00c5), kmax (three ints) and\n"
    "ewald_precision (None when EwaldParameters gives alpha and kmax). Raises\n"
    "RuntimeError with the message of a broken file.\n";

// Builds {key: value, ...} from (key, new reference) pairs; NULL with an exception set on failure.
PyObject* dict_of(std::initializer_list<std::pair<const char*, PyObject*>> items) {
    Ref dict = Ref::steal(PyDict_New());
    bool ok = static_cast<bool>(dict);
    for (const auto& [key, value] : items) {
        Ref held = Ref::steal(value);
        ok = ok && held && PyDict_SetItemString(dict.get(), key, held.get()) == 0;
    }
    return ok ? dict.release() : nullptr;
}

PyObject* force_field_model_py(PyObject* /*module*/, PyObject* args, PyObject* kwargs) {
    try {
        std::filesystem::path force_field;
        Box box;
        if (!bind_and_convert(args, kwargs, kSignature, param(force_field, to_path), param(box, to_box))) {
            return nullptr;
        }
        const NonBondedModel m = load_model(force_field, box);
        const bool automatic = !m.settings.ewald_parameters;
        const double precision = m.settings.ewald_precision ? m.settings.ewald_precision->value : kRaspaEwaldPrecision;
        return dict_of({
            {"cutoff_vdw", PyFloat_FromDouble(m.cutoff_vdw)},
            {"shifted", PyBool_FromLong(m.shifted)},
            {"tail_corrections", PyBool_FromLong(m.tail_corrections)},
            {"charges", PyBool_FromLong(m.charges)},
            {"cutoff_coulomb", PyFloat_FromDouble(m.cutoff_coulomb)},
            {"ewald_alpha", PyFloat_FromDouble(m.ewald_alpha)},
            {"kmax", Py_BuildValue("(III)", m.kmax[0], m.kmax[1], m.kmax[2])},
            {"ewald_precision", automatic ? PyFloat_FromDouble(precision) : Py_NewRef(Py_None)},
        });
    } catch (...) {
        raise_current_exception();
        return nullptr;
    }
}

constexpr const char kKeysDoc[] =
    "_reader_keys_py()\n"
    "--\n"
    "\n"
    "The keys the readers of the force-field and molecule files take, from their own tables.\n"
    "\n"
    "Returns a dict {record: [(key, required), ...]} with the records \"force-field file\",\n"
    "\"PseudoAtoms entry\", \"SelfInteractions entry\", \"BinaryInteractions entry\" and\n"
    "\"molecule file\", each record's keys in the order of its array form.\n";

PyObject* reader_keys_py(PyObject* /*module*/, PyObject* /*unused*/) {
    try {
        std::vector<RecordKeys> records = force_field_record_keys();
        for (RecordKeys& r : molecule_record_keys()) records.push_back(std::move(r));
        Ref dict = Ref::steal(PyDict_New());
        if (!dict) return nullptr;
        for (const RecordKeys& record : records) {
            Ref keys = Ref::steal(PyList_New(0));
            if (!keys) return nullptr;
            for (const auto& [key, required] : record.keys) {
                Ref item = Ref::steal(Py_BuildValue("(sO)", key.c_str(), required ? Py_True : Py_False));
                if (!item || PyList_Append(keys.get(), item.get()) != 0) return nullptr;
            }
            if (PyDict_SetItemString(dict.get(), record.record.c_str(), keys.get()) != 0) return nullptr;
        }
        return dict.release();
    } catch (...) {
        raise_current_exception();
        return nullptr;
    }
}

PyMethodDef methods[] = {
    {"_force_field_model_py", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(force_field_model_py)),
     METH_VARARGS | METH_KEYWORDS, kDoc},
    {"_reader_keys_py", reader_keys_py, METH_NOARGS, kKeysDoc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

int add_force_field_model(PyObject* module) {
    return PyModule_AddFunctions(module, methods);
}

}  // namespace cellkit::py
