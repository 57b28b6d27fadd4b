// Turning C++ failures and conversion failures into Python exceptions.
#pragma once

#include "python/py_ref.hpp"

#include <string_view>

namespace cellkit::py {

// Call only inside a catch block: sets the Python exception for the C++ one
// being handled (build failures keep their message as RuntimeError).
void raise_current_exception() noexcept;

// Sets RuntimeError with a message that may hold undecodable path bytes.
void raise_runtime_error(std::string_view message);

// Sets TypeError "'{type of obj}' object is not an instance of '{expected}'"; returns false.
bool raise_not_instance(PyObject* obj, const char* expected);

// Appends "while processing '{param}'" to the notes of the pending exception.
void add_param_note(const char* param);

// The summary text as str; undecodable path bytes become U+FFFD.
PyObject* text_to_str(std::string_view text);

}  // namespace cellkit::py
