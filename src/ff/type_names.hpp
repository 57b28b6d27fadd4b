// Sequences of pseudo-atom type names: their canonical direction and their written form.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>

#include "common/hash.hpp"

namespace cellkit {

// A bond, angle or dihedral type reads the same forwards and backwards; its key is the direction
// whose names compare smaller, name by name as byte strings. Equal both ways: as given.
template <std::size_t N>
std::array<std::string, N> canonical_direction(std::array<std::string, N> names) {
    if (std::lexicographical_compare(names.rbegin(), names.rend(), names.begin(), names.end())) {
        std::reverse(names.begin(), names.end());
    }
    return names;
}

// "A-B-C", the form every file and message uses; names owned or viewed.
template <std::size_t N, typename Name = std::string>
void append_dashed(std::string& out, const std::array<Name, N>& names) {
    for (std::size_t n = 0; n < N; ++n) {
        if (n > 0) out.push_back('-');
        out.append(names[n]);
    }
}

template <std::size_t N, typename Name = std::string>
std::string dashed(const std::array<Name, N>& names) {
    std::string out;
    append_dashed(out, names);
    return out;
}

template <std::size_t N>
struct NamesHash {
    std::size_t operator()(const std::array<std::string, N>& names) const noexcept {
        std::size_t seed = 0;
        for (const auto& name : names) hash_combine(seed, name);
        return seed;
    }
};

}  // namespace cellkit
