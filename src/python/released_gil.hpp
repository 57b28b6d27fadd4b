// Running a build with the interpreter lock released, stoppable by Ctrl-C.
#pragma once

#include <functional>
#include <string>

#include "common/interrupted.hpp"
#include "pipeline/lammps_outputs.hpp"
#include "python/errors.hpp"
#include "python/py_ref.hpp"

namespace cellkit::py {

// Releases the interpreter lock for its lifetime, so other Python threads run
// while a build waits for an outside program or writes files. Create and
// destroy it on the thread that holds the lock; nothing in between may touch
// Python objects except through stop_check().
class ReleasedGil {
public:
    ReleasedGil() : state_(PyEval_SaveThread()) {}
    ReleasedGil(const ReleasedGil&) = delete;
    ReleasedGil& operator=(const ReleasedGil&) = delete;
    // Takes the lock back and re-raises the exception a signal handler raised, if any.
    ~ReleasedGil() {
        PyEval_RestoreThread(state_);
        if (pending_ != nullptr) PyErr_SetRaisedException(pending_);
    }

    // Takes the lock briefly to run the Python signal handlers (main thread
    // only, as Python itself does). True once one raised, KeyboardInterrupt
    // for Ctrl-C; the exception is kept for the destructor to raise.
    StopCheck stop_check() {
        return [this] {
            if (pending_ == nullptr) {
                PyEval_RestoreThread(state_);
                if (PyErr_CheckSignals() < 0) pending_ = PyErr_GetRaisedException();
                state_ = PyEval_SaveThread();
            }
            return pending_ != nullptr;
        };
    }

    // Takes the lock briefly to hand each line to `callable` (None: to nobody). An exception it
    // raises is kept as a signal handler's is, and stops the build at its next stop check.
    std::function<void(const std::string&)> reporter(PyObject* callable) {
        if (callable == nullptr || callable == Py_None) return {};
        return [this, callable](const std::string& line) {
            if (pending_ != nullptr) return;
            PyEval_RestoreThread(state_);
            {  // every reference let go while the lock is held
                Ref text =
                    Ref::steal(PyUnicode_DecodeUTF8(line.data(), static_cast<Py_ssize_t>(line.size()), "replace"));
                Ref result = text ? Ref::steal(PyObject_CallOneArg(callable, text.get())) : Ref();
                if (!result) pending_ = PyErr_GetRaisedException();
            }
            state_ = PyEval_SaveThread();
        };
    }

private:
    PyThreadState* state_;
    PyObject* pending_ = nullptr;
};

// Runs `build`, given the stop check, with the lock released; its summary's text as str.
template <typename Build>
PyObject* summary_with_lock_released(Build&& build) {
    std::string summary;
    {
        ReleasedGil released;
        summary = to_text(build(released.stop_check()));
    }
    return text_to_str(summary);
}

// The same, `build` also given the reporter of `progress` (a callable or None).
template <typename Build>
PyObject* summary_with_lock_released(PyObject* progress, Build&& build) {
    std::string summary;
    {
        ReleasedGil released;
        summary = to_text(build(released.stop_check(), released.reporter(progress)));
    }
    return text_to_str(summary);
}

}  // namespace cellkit::py
