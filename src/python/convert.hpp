// Argument binding and conversion shared by the entry functions.
//
// An entry function declares its Signature and lists one Param per parameter;
// bind_and_convert binds by position or keyword, then converts in parameter
// order and stops at the first failure, which keeps its own exception and
// gets the note "while processing '{name}'". Omitted parameters keep the
// value their destination already holds, i.e. their default.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <utility>
#include <vector>

#include "common/box.hpp"
#include "common/vec3.hpp"
#include "lammps/box_shape.hpp"
#include "lammps/pair_setup.hpp"
#include "lammps/starter_input.hpp"
#include "python/errors.hpp"
#include "python/py_ref.hpp"

namespace cellkit::py {

// Converters: fill `out` and return true, or set a Python exception and return false.
// They may throw std::bad_alloc; bind_and_convert maps that to MemoryError.
template <class T>
using Converter = bool (*)(PyObject* obj, T& out);

// str only (no path objects), encoded with the file-system encoding.
bool to_path(PyObject* obj, std::filesystem::path& out);
// A sequence of str; a str itself is refused.
bool to_path_list(PyObject* obj, std::vector<std::filesystem::path>& out);
// Any object with __index__, non-negative and within 64 bits.
bool to_u64(PyObject* obj, std::uint64_t& out);
bool to_u64_list(PyObject* obj, std::vector<std::uint64_t>& out);
// float, or anything with __float__ or __index__.
bool to_double(PyObject* obj, double& out);
// bool or a NumPy bool scalar; int is refused.
bool to_flag(PyObject* obj, bool& out);
// A number (the edge of a cube), a sequence of three numbers (the edges along x, y and z), or of six
// (the edges, then LAMMPS's tilts xy, xz and yz), Å.
bool to_box(PyObject* obj, Box& out);
// None, or what to_double takes.
bool to_optional_double(PyObject* obj, std::optional<double>& out);
// None, or a sequence of three numbers (along x, y and z).
bool to_optional_vec3(PyObject* obj, std::optional<Vec3>& out);
// None for no layers, or a sequence of (number of species, density in kg/m³), one per layer.
bool to_layers(PyObject* obj, std::vector<Layer>& out);
// None, or any callable (borrowed: the call's arguments keep it alive).
bool to_callable(PyObject* obj, PyObject*& out);
// A PyPairSetup instance, or None for no preset.
bool to_pair_setup(PyObject* obj, OptionalPairSetup& out);
// None for no in.lammps, or (temperature, pressure) with pressure None for NVT.
bool to_starter(PyObject* obj, std::optional<StarterSettings>& out);

// Rows of a sequence of sequences of numbers. Rows that are not (x, y, z)
// are recorded rather than raised, because the shape error must come after
// the conversion errors of every later parameter. An object that offers its
// memory as a C-contiguous float64 (N, 3) array (a NumPy array) is read in
// place instead, without a Python float per number; anything else takes the
// sequence path.
struct CoordRows {
    CoordRows() = default;
    CoordRows(const CoordRows&) = delete;
    CoordRows& operator=(const CoordRows&) = delete;
    // Lets the memory go; needs the interpreter lock.
    ~CoordRows();

    std::vector<Vec3> triples;
    bool misshapen = false;
    std::size_t first_bad_row = 0;
    std::size_t first_bad_len = 0;
    Py_buffer view{};  // the array read in place, while view.obj is set

    // The triples, wherever they are; valid while this object lives.
    std::span<const Vec3> rows() const;
    // Sets ValueError naming the first row that is not a triple; returns false then.
    bool check_shape() const;
};
bool to_coord_rows(PyObject* obj, CoordRows& out);

template <class T>
struct Param {
    T& out;
    Converter<T> convert;
};

template <class T>
Param<T> param(T& out, Converter<T> convert) {
    return {out, convert};
}

// The parameters of one entry function, all positional-or-keyword.
template <std::size_t N>
struct Signature {
    // One "O" per parameter, "|" before the first optional one, then ":name"
    // so that CPython's binding errors name the function.
    const char* format;
    std::array<const char*, N + 1> keywords;  // parameter names, then nullptr

    consteval Signature(const char* fmt, std::array<const char*, N + 1> names) : format(fmt), keywords(names) {
        std::size_t units = 0;
        const char* c = fmt;
        for (; *c != '\0' && *c != ':'; ++c) {
            if (*c == 'O') {
                ++units;
            } else if (*c != '|') {
                throw "only 'O' and '|' units are supported";
            }
        }
        if (*c != ':' || units != N) {
            throw "format needs one 'O' per parameter and a ':name' suffix";
        }
        for (std::size_t i = 0; i < N; ++i) {
            if (names[i] == nullptr) {
                throw "every parameter needs a name";
            }
        }
        if (names[N] != nullptr) {
            throw "keyword list must end with nullptr";
        }
    }
};

template <class T>
bool convert_param(const char* name, PyObject* obj, const Param<T>& p) {
    if (obj == nullptr) {
        return true;
    }
    bool ok = false;
    try {
        ok = p.convert(obj, p.out);
    } catch (...) {
        raise_current_exception();
    }
    if (!ok) {
        add_param_note(name);
    }
    return ok;
}

template <std::size_t N, class... T>
bool bind_and_convert(PyObject* args, PyObject* kwargs, const Signature<N>& sig, const Param<T>&... params) {
    static_assert(sizeof...(T) == N, "one Param per parameter of the signature");
    std::array<PyObject*, N> objs{};
    // CPython 3.12 declares the keyword list as char*[] although it never writes to it.
    auto* keywords = const_cast<char**>(sig.keywords.data());
    const bool bound = [&]<std::size_t... I>(std::index_sequence<I...>) {
        return PyArg_ParseTupleAndKeywords(args, kwargs, sig.format, keywords, &objs[I]...) != 0;
    }(std::make_index_sequence<N>{});
    if (!bound) {
        return false;
    }
    return [&]<std::size_t... I>(std::index_sequence<I...>) {
        return (convert_param(sig.keywords[I], objs[I], params) && ...);
    }(std::make_index_sequence<N>{});
}

}  // namespace cellkit::py
