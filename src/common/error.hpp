// The one failure type of the core: a single human-readable message.
#pragma once

#include <stdexcept>
#include <string>

namespace cellkit {

// Thrown where the fault is found, with the file, entry or type named, and
// passed up unchanged; the Python binding turns it into RuntimeError.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// The input model's name for the same type.
using FfError = Error;

}  // namespace cellkit
