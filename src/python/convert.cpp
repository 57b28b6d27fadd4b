#include "python/convert.hpp"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "python/pair_setup_type.hpp"

namespace cellkit::py {
namespace {

// A list or tuple holding the items of a sequence argument. Lists come back
// as the same object, so loops must re-read the size: converting an item may
// run Python code that changes the list.
Ref fast_sequence(PyObject* obj) {
    if (PyList_CheckExact(obj) || PyTuple_CheckExact(obj)) {
        return Ref::borrow(obj);
    }
    // Text and bytes are sequences too, of characters or of small integers (b"abc" would read
    // as 97, 98, 99); neither is meant as a list here.
    const char* refused = PyUnicode_Check(obj)      ? "str"
                          : PyBytes_Check(obj)      ? "bytes"
                          : PyByteArray_Check(obj)  ? "bytearray"
                          : PyMemoryView_Check(obj) ? "memoryview"
                                                    : nullptr;
    if (refused != nullptr) {
        PyErr_Format(PyExc_TypeError, "Can't extract `%s` to `Vec`", refused);
        return {};
    }
    if (!PySequence_Check(obj)) {
        raise_not_instance(obj, "Sequence");
        return {};
    }
    return Ref::steal(PySequence_Fast(obj, "expected a sequence"));
}

// The items of a sequence argument as a tuple, for reading them by position: converting one item
// may run Python code that changes a list, but not the tuple, which also keeps every item alive.
Ref snapshot(PyObject* obj) {
    Ref seq = fast_sequence(obj);
    if (!seq || PyTuple_CheckExact(seq.get())) {
        return seq;
    }
    return Ref::steal(PySequence_Tuple(seq.get()));
}

// Three numbers of a sequence; `wrong_size` is the message, with %zd for the size given.
bool to_three(PyObject* obj, Vec3& out, const char* wrong_size) {
    Ref items = snapshot(obj);
    if (!items) {
        return false;
    }
    if (PySequence_Fast_GET_SIZE(items.get()) != 3) {
        PyErr_Format(PyExc_ValueError, wrong_size, PySequence_Fast_GET_SIZE(items.get()));
        return false;
    }
    for (Py_ssize_t axis = 0; axis < 3; ++axis) {
        if (!to_double(PySequence_Fast_GET_ITEM(items.get(), axis), out[static_cast<std::size_t>(axis)])) {
            return false;
        }
    }
    return true;
}

template <class T, class Convert>
bool convert_items(PyObject* obj, std::vector<T>& out, Convert convert) {
    Ref seq = fast_sequence(obj);
    if (!seq) {
        return false;
    }
    out.clear();
    out.reserve(static_cast<std::size_t>(PySequence_Fast_GET_SIZE(seq.get())));
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.get()); ++i) {
        Ref item = Ref::borrow(PySequence_Fast_GET_ITEM(seq.get(), i));
        T value{};
        if (!convert(item.get(), value)) {
            return false;
        }
        out.push_back(std::move(value));
    }
    return true;
}

// NumPy is not linked against: its bool scalar is recognised by its static
// type's name, "numpy.bool_" before NumPy 2 and "numpy.bool" since.
bool is_numpy_bool(PyObject* obj) {
    const PyTypeObject* type = Py_TYPE(obj);
    if (PyType_HasFeature(const_cast<PyTypeObject*>(type), Py_TPFLAGS_HEAPTYPE)) {
        return false;
    }
    return std::strcmp(type->tp_name, "numpy.bool_") == 0 || std::strcmp(type->tp_name, "numpy.bool") == 0;
}

bool coord_value(PyObject* item, double& out) {
    if (PyFloat_Check(item)) {
        out = PyFloat_AS_DOUBLE(item);
        return true;
    }
    // __float__ or __index__ may drop the last other reference to the item.
    Ref hold = Ref::borrow(item);
    out = PyFloat_AsDouble(item);
    return !(out == -1.0 && PyErr_Occurred());
}

// A float64 (N, 3) array with rows of three adjacent doubles has the memory layout of Vec3[N].
static_assert(sizeof(Vec3) == 3 * sizeof(double) && alignof(Vec3) == alignof(double));

bool is_native_double(const char* format) {
    if (format == nullptr) {
        return false;
    }
    if (*format == '@' || *format == '=' || (*format == '<' && std::endian::native == std::endian::little) ||
        (*format == '>' && std::endian::native == std::endian::big)) {
        ++format;
    }
    return std::strcmp(format, "d") == 0;
}

// Takes `obj`'s memory when it is a C-contiguous, aligned float64 (N, 3) array; false (and no
// Python error) for anything else, which then goes the sequence way.
bool view_coord_array(PyObject* obj, Py_buffer& view) {
    if (!PyObject_CheckBuffer(obj) || PyObject_GetBuffer(obj, &view, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) != 0) {
        PyErr_Clear();
        return false;
    }
    const bool fits = view.ndim == 2 && view.shape[1] == 3 && view.itemsize == sizeof(double) &&
                      is_native_double(view.format) &&
                      reinterpret_cast<std::uintptr_t>(view.buf) % alignof(double) == 0;
    if (!fits) {
        PyBuffer_Release(&view);
    }
    return fits;
}

}  // namespace

bool to_path(PyObject* obj, std::filesystem::path& out) {
    if (!PyUnicode_Check(obj)) {
        return raise_not_instance(obj, "str");
    }
    Ref bytes = Ref::steal(PyUnicode_EncodeFSDefault(obj));
    if (!bytes) {
        return false;
    }
    const char* data = PyBytes_AS_STRING(bytes.get());
    const auto size = static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get()));
    if (std::memchr(data, '\0', size) != nullptr) {
        PyErr_SetString(PyExc_ValueError, "embedded null byte");
        return false;
    }
    out = std::filesystem::path(std::string(data, size));
    return true;
}

bool to_path_list(PyObject* obj, std::vector<std::filesystem::path>& out) {
    return convert_items(obj, out, to_path);
}

bool to_u64(PyObject* obj, std::uint64_t& out) {
    Ref index = Ref::steal(PyNumber_Index(obj));
    if (!index) {
        return false;
    }
    const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        return false;
    }
    out = value;
    return true;
}

bool to_u64_list(PyObject* obj, std::vector<std::uint64_t>& out) {
    return convert_items(obj, out, to_u64);
}

bool to_double(PyObject* obj, double& out) {
    out = PyFloat_AsDouble(obj);
    return !(out == -1.0 && PyErr_Occurred());
}

bool to_flag(PyObject* obj, bool& out) {
    if (PyBool_Check(obj)) {
        out = obj == Py_True;
        return true;
    }
    if (!is_numpy_bool(obj)) {
        return raise_not_instance(obj, "bool");
    }
    const int truth = PyObject_IsTrue(obj);
    if (truth < 0) {
        return false;
    }
    out = truth != 0;
    return true;
}

bool to_pair_setup(PyObject* obj, OptionalPairSetup& out) {
    if (obj == Py_None) {
        out = std::nullopt;
        return true;
    }
    if (!is_pair_setup(obj)) {
        return raise_not_instance(obj, "PyPairSetup");
    }
    out = pair_setup_value(obj);
    return true;
}

bool to_box(PyObject* obj, Box& out) {
    if (!PySequence_Check(obj) || PyUnicode_Check(obj) || PyBytes_Check(obj)) {
        double edge = 0.0;
        if (!to_double(obj, edge)) {
            return false;
        }
        out = Box(edge);
        return true;
    }
    Ref items = snapshot(obj);
    if (!items) {
        return false;
    }
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
    if (n != 3 && n != 6) {
        PyErr_Format(PyExc_ValueError,
                     "expected one box edge, three (x, y, z) or three and the tilts (x, y, z, xy, xz, yz), got %zd", n);
        return false;
    }
    out = Box();
    for (Py_ssize_t i = 0; i < n; ++i) {
        double& value = i < 3 ? out.edges[static_cast<std::size_t>(i)] : out.tilt[static_cast<std::size_t>(i - 3)];
        if (!to_double(PySequence_Fast_GET_ITEM(items.get(), i), value)) {
            return false;
        }
    }
    return true;
}

bool to_callable(PyObject* obj, PyObject*& out) {
    if (obj != Py_None && !PyCallable_Check(obj)) {
        return raise_not_instance(obj, "callable");
    }
    out = obj;
    return true;
}

bool to_optional_double(PyObject* obj, std::optional<double>& out) {
    if (obj == Py_None) {
        out = std::nullopt;
        return true;
    }
    return to_double(obj, out.emplace());
}

bool to_optional_vec3(PyObject* obj, std::optional<Vec3>& out) {
    if (obj == Py_None) {
        out = std::nullopt;
        return true;
    }
    return to_three(obj, out.emplace(), "expected three numbers (x, y, z), got %zd");
}

bool to_layers(PyObject* obj, std::vector<Layer>& out) {
    out.clear();
    if (obj == Py_None) {
        return true;
    }
    Ref items = snapshot(obj);
    if (!items) {
        return false;
    }
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
        Ref pair = snapshot(PySequence_Fast_GET_ITEM(items.get(), i));
        if (!pair) {
            return false;
        }
        if (PySequence_Fast_GET_SIZE(pair.get()) != 2) {
            PyErr_SetString(PyExc_ValueError, "each layer is (number of species, density in kg/m\u00b3)");
            return false;
        }
        Layer layer;
        std::uint64_t species = 0;
        if (!to_u64(PySequence_Fast_GET_ITEM(pair.get(), 0), species) ||
            !to_double(PySequence_Fast_GET_ITEM(pair.get(), 1), layer.density)) {
            return false;
        }
        layer.species = static_cast<std::size_t>(species);
        out.push_back(layer);
    }
    return true;
}

bool to_starter(PyObject* obj, std::optional<StarterSettings>& out) {
    if (obj == Py_None) {
        out = std::nullopt;
        return true;
    }
    Ref items = snapshot(obj);
    if (!items) {
        return false;
    }
    if (PySequence_Fast_GET_SIZE(items.get()) != 2) {
        PyErr_SetString(PyExc_ValueError, "expected (temperature, pressure), pressure None for NVT");
        return false;
    }
    StarterSettings settings;
    if (!to_double(PySequence_Fast_GET_ITEM(items.get(), 0), settings.temperature)) {
        return false;
    }
    PyObject* pressure = PySequence_Fast_GET_ITEM(items.get(), 1);
    if (pressure != Py_None) {
        double value = 0.0;
        if (!to_double(pressure, value)) {
            return false;
        }
        settings.pressure = value;
    }
    out = settings;
    return true;
}

bool to_coord_rows(PyObject* obj, CoordRows& out) {
    out.triples.clear();
    out.misshapen = false;
    if (view_coord_array(obj, out.view)) {
        return true;
    }
    Ref rows = fast_sequence(obj);
    if (!rows) {
        return false;
    }
    out.triples.reserve(static_cast<std::size_t>(PySequence_Fast_GET_SIZE(rows.get())));
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(rows.get()); ++i) {
        Ref item = Ref::borrow(PySequence_Fast_GET_ITEM(rows.get(), i));
        Ref row = fast_sequence(item.get());
        if (!row) {
            return false;
        }
        Vec3 xyz{};
        std::size_t n = 0;
        for (Py_ssize_t k = 0; k < PySequence_Fast_GET_SIZE(row.get()); ++k, ++n) {
            double value = 0.0;
            if (!coord_value(PySequence_Fast_GET_ITEM(row.get(), k), value)) {
                return false;
            }
            if (n < 3) {
                xyz[n] = value;
            }
        }
        if (out.misshapen) {
            continue;
        }
        if (n == 3) {
            out.triples.push_back(xyz);
        } else {
            out.misshapen = true;
            out.first_bad_row = static_cast<std::size_t>(i);
            out.first_bad_len = n;
        }
    }
    return true;
}

CoordRows::~CoordRows() {
    if (view.obj != nullptr) {
        PyBuffer_Release(&view);
    }
}

std::span<const Vec3> CoordRows::rows() const {
    if (view.obj == nullptr) {
        return triples;
    }
    return {static_cast<const Vec3*>(view.buf), static_cast<std::size_t>(view.shape[0])};
}

bool CoordRows::check_shape() const {
    if (misshapen) {
        PyErr_Format(PyExc_ValueError, "coords[%zu] has %zu elements; expected [x, y, z]", first_bad_row,
                     first_bad_len);
        return false;
    }
    return true;
}

}  // namespace cellkit::py
