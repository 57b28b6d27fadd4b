// Insertion-ordered type tables that give LAMMPS its 1-based type numbers.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "lammps/system.hpp"
#include "ff/force_field.hpp"
#include "lammps/resolve.hpp"

namespace cellkit {

// Entries keep their first insertion position; LAMMPS type number = position + 1.
template <typename Key, typename Value, typename Hash = std::hash<Key>>
class TypeRegistry {
public:
    using KeyType = Key;

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    const std::vector<std::pair<Key, Value>>& entries() const { return entries_; }

    std::optional<std::size_t> position(const Key& key) const {
        auto it = index_.find(key);
        if (it == index_.end()) return std::nullopt;
        return it->second;
    }

    // The stored value for `key` when present; otherwise inserts `value` and returns nullptr.
    const Value* insert_or_get(const Key& key, const Value& value) {
        auto [it, inserted] = index_.try_emplace(key, entries_.size());
        if (!inserted) return &entries_[it->second].second;
        entries_.emplace_back(key, value);
        return nullptr;
    }

private:
    std::vector<std::pair<Key, Value>> entries_;
    std::unordered_map<Key, std::size_t, Hash> index_;
};

struct NoValue {};

using AtomTypeRegistry = TypeRegistry<std::string, NoValue>;
using BondTypeRegistry = TypeRegistry<std::array<std::string, 2>, ResolvedBond, NamesHash<2>>;
using AngleTypeRegistry = TypeRegistry<std::array<std::string, 3>, ResolvedAngle, NamesHash<3>>;
using DihedralTypeRegistry = TypeRegistry<std::array<std::string, 4>, ResolvedDihedral, NamesHash<4>>;

// Each throws Error: an unknown pseudo-atom type, or two records of one type
// whose parameters differ by 1e-6 or more.
AtomTypeRegistry build_atom_type_registry(const ActiveSpeciesList& active, const ForceField& force_field);
BondTypeRegistry build_bond_type_registry(const ActiveSpeciesList& active);
AngleTypeRegistry build_angle_type_registry(const ActiveSpeciesList& active);
DihedralTypeRegistry build_dihedral_type_registry(const ActiveSpeciesList& active);

// The four registries of one build, built in the order atoms, bonds, angles, dihedrals.
struct TypeRegistries {
    AtomTypeRegistry atoms;
    BondTypeRegistry bonds;
    AngleTypeRegistry angles;
    DihedralTypeRegistry dihedrals;
};

TypeRegistries build_type_registries(const ActiveSpeciesList& active, const ForceField& force_field);

// Registry keys of a record's type: its names, owned, in canonical direction (norm_pair,
// norm_triple, norm_quad).
template <std::size_t N>
std::array<std::string, N> type_key(const TypeNames<N>& names) {
    std::array<std::string, N> key;
    for (std::size_t n = 0; n < N; ++n) key[n] = names[n];
    return canonical_direction<N>(std::move(key));
}
inline std::array<std::string, 2> type_key(const ResolvedBond& b) {
    return type_key(b.names);
}
inline std::array<std::string, 3> type_key(const ResolvedAngle& a) {
    return type_key(a.names);
}
inline std::array<std::string, 4> type_key(const ResolvedDihedral& d) {
    return type_key(d.names);
}

}  // namespace cellkit
