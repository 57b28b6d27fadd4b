// The validated force field: pseudo-atom types and explicit unlike pairs.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/error.hpp"
#include "common/hash.hpp"
#include "ff/nonbonded_model.hpp"

namespace cellkit {

// Numbers stay in file units: kelvin, ångström, g/mol, elementary charges.
struct PseudoAtomParams {
    double mass = 0.0;
    double charge = 0.0;
    double epsilon = 0.0;  // 0 when the type has no SelfInteractions entry
    double sigma = 0.0;
    std::vector<std::string> sources;  // distinct, self entry's first
    bool self_interaction = false;     // it has a SelfInteractions entry
};

struct BinaryPairParams {
    double epsilon = 0.0;
    double sigma = 0.0;
    std::optional<std::string> source;
};

using NamePair = std::pair<std::string, std::string>;

struct NamePairHash {
    std::size_t operator()(const NamePair& p) const noexcept {
        std::size_t seed = 0;
        hash_combine(seed, p.first);
        hash_combine(seed, p.second);
        return seed;
    }
};

// Canonical order of two type names: byte-wise smaller first.
NamePair norm_pair_key(const std::string& a, const std::string& b);

struct ForceField {
    std::unordered_map<std::string, PseudoAtomParams> pseudo_atoms;
    std::unordered_map<NamePair, BinaryPairParams, NamePairHash> binary_pairs;
    ModelSettings model;                // cut-offs, truncation, tail corrections, Ewald sum
    std::vector<std::string> warnings;  // keys skipped for their letter case

    // Reads and checks a force-field file; throws FfError naming the file.
    static ForceField load(const std::filesystem::path& path);

    const PseudoAtomParams* find(const std::string& name) const {
        auto it = pseudo_atoms.find(name);
        return it == pseudo_atoms.end() ? nullptr : &it->second;
    }
    const BinaryPairParams* find_pair(const std::string& a, const std::string& b) const {
        if (binary_pairs.empty()) return nullptr;
        auto it = binary_pairs.find(norm_pair_key(a, b));
        return it == binary_pairs.end() ? nullptr : &it->second;
    }
};

}  // namespace cellkit
