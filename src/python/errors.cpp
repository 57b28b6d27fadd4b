#include "python/errors.hpp"

#include <exception>
#include <new>

#include "common/interrupted.hpp"

namespace cellkit::py {

PyObject* text_to_str(std::string_view text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

void raise_runtime_error(std::string_view message) {
    Ref text = Ref::steal(text_to_str(message));
    if (text) {
        PyErr_SetObject(PyExc_RuntimeError, text.get());
    }
}

void raise_current_exception() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const Interrupted&) {
        // The signal handler's exception (KeyboardInterrupt for Ctrl-C) is already set.
        if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
    } catch (const std::exception& e) {
        // cellkit::Error lands here too: its message is the whole user-facing text.
        raise_runtime_error(e.what());
        // A Ctrl-C that cut a system call short (EINTR) is what ended the build: it surfaces as the
        // KeyboardInterrupt it is, with the build's message as its context.
        PyObject* build_error = PyErr_GetRaisedException();
        if (PyErr_CheckSignals() < 0) {
            PyObject* interrupt = PyErr_GetRaisedException();
            PyException_SetContext(interrupt, build_error);
            PyErr_SetRaisedException(interrupt);
        } else {
            PyErr_SetRaisedException(build_error);
        }
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "unexpected C++ exception");
    }
}

bool raise_not_instance(PyObject* obj, const char* expected) {
    Ref name = Ref::steal(PyType_GetName(Py_TYPE(obj)));
    if (name) {
        PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", name.get(), expected);
    }
    return false;
}

void add_param_note(const char* param) {
    PyObject* exc = PyErr_GetRaisedException();
    if (exc == nullptr) {
        return;
    }
    Ref note = Ref::steal(PyUnicode_FromFormat("while processing '%s'", param));
    if (note) {
        Ref done = Ref::steal(PyObject_CallMethod(exc, "add_note", "O", note.get()));
    }
    // A failure to annotate must not replace the failure being reported.
    PyErr_Clear();
    PyErr_SetRaisedException(exc);
}

}  // namespace cellkit::py
