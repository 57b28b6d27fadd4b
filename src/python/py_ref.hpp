// Owned Python references and the GIL-held error helpers shared by the binding.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace cellkit::py {

// Owns one strong reference (or none); releases it on scope exit.
class Ref {
public:
    Ref() = default;
    // Takes over a new reference, e.g. the result of a call that may be NULL.
    static Ref steal(PyObject* obj) { return Ref(obj); }
    // Adds a reference to a borrowed object.
    static Ref borrow(PyObject* obj) { return Ref(Py_XNewRef(obj)); }

    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            Py_XSETREF(obj_, std::exchange(other.obj_, nullptr));
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(obj_); }

    PyObject* get() const { return obj_; }
    explicit operator bool() const { return obj_ != nullptr; }
    // Hands the reference to the caller (e.g. as a return value to Python).
    PyObject* release() { return std::exchange(obj_, nullptr); }

private:
    explicit Ref(PyObject* obj) : obj_(obj) {}
    PyObject* obj_ = nullptr;
};

}  // namespace cellkit::py
