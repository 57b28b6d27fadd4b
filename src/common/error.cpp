#include "common/error.hpp"

#include <cstring>

namespace cellkit {

std::string system_text(int error_number) { return std::strerror(error_number); }

void sys_fail(const std::string& context, int error_number) { fail(context, ": ", system_text(error_number)); }

}  // namespace cellkit
