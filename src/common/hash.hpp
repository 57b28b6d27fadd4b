// Combining hashes of several fields into one.
#pragma once

#include <cstddef>
#include <functional>

namespace cellkit {

// Mixes the hash of `value` into `seed` (the Boost recipe: order matters).
template <typename T>
void hash_combine(std::size_t& seed, const T& value) {
    seed ^= std::hash<T>{}(value) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

}  // namespace cellkit
