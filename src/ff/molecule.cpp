#include "ff/molecule.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "common/ascii.hpp"
#include "common/file_io.hpp"
#include "common/hash.hpp"
#include "common/json_reader.hpp"
#include "common/number_format.hpp"
#include "ff/lammps_text.hpp"
#include "ff/record_keys.hpp"
#include "ff/template_shape.hpp"

namespace cellkit {
namespace {

PseudoAtom read_atom(json::Cursor& cursor) {
    PseudoAtom atom;
    json::read_fixed_array(
        cursor, 2, "a pseudoAtoms entry of 2 elements (type name, position)", [&atom](json::Cursor& c, std::size_t i) {
            if (i == 0) {
                atom.type = c.read_string();
                return;
            }
            json::read_fixed_array(c, 3, "an array of 3 numbers",
                                   [&atom](json::Cursor& cc, std::size_t k) { atom.position[k] = cc.read_number(); });
        });
    return atom;
}

AtomPair read_pair(json::Cursor& cursor) {
    AtomPair pair{};
    json::read_fixed_array(cursor, 2, "a Connectivity pair of 2 atom indices",
                           [&pair](json::Cursor& c, std::size_t i) { pair[i] = c.read_index(); });
    return pair;
}

template <std::size_t N>
BondedEntry<N> read_bonded(json::Cursor& cursor, std::string_view expected, std::string_view names_expected) {
    BondedEntry<N> entry;
    json::read_fixed_array(cursor, 3, expected, [&](json::Cursor& c, std::size_t i) {
        if (i == 0) {
            json::read_fixed_array(c, N, names_expected,
                                   [&entry](json::Cursor& cc, std::size_t k) { entry.names[k] = cc.read_string(); });
        } else if (i == 1) {
            entry.potential = c.read_string();
        } else {
            entry.parameters = c.read_numbers();
        }
    });
    return entry;
}

template <typename Item, typename ReadItem>
std::function<void(json::Cursor&)> list_of(std::vector<Item>& out, std::string_view expected, ReadItem read_item) {
    return [&out, expected, read_item](json::Cursor& cursor) {
        json::read_array(cursor, expected, [&out, &read_item](json::Cursor& c) { out.push_back(read_item(c)); });
    };
}

// The molecule file's keys, in the order of its array form, read into `m` and `type`: one table for
// the reader and for molecule_record_keys().
std::vector<json::Field> molecule_fields(Molecule& m, std::optional<std::string>& type) {
    return {
        {"Type", false, [&type](json::Cursor& c) { type = c.read_optional_string(); }},
        {"pseudoAtoms", true, list_of(m.pseudo_atoms, "an array of pseudoAtoms entries", read_atom)},
        {"Connectivity", false, list_of(m.connectivity, "an array of Connectivity pairs", read_pair)},
        {"Bonds", false,
         list_of(m.bond_entries, "an array of Bonds entries",
                 [](json::Cursor& c) {
                     return read_bonded<2>(c, "a Bonds entry of 3 elements (names, potential, parameters)",
                                           "an array of 2 type names");
                 })},
        {"Bends", false,
         list_of(m.bend_entries, "an array of Bends entries",
                 [](json::Cursor& c) {
                     return read_bonded<3>(c, "a Bends entry of 3 elements (names, potential, parameters)",
                                           "an array of 3 type names");
                 })},
        {"Torsions", false,
         list_of(m.torsion_entries, "an array of Torsions entries",
                 [](json::Cursor& c) {
                     return read_bonded<4>(c, "a Torsions entry of 3 elements (names, potential, parameters)",
                                           "an array of 4 type names");
                 })},
    };
}

Molecule read_molecule(json::Cursor& cursor, std::optional<std::string>& type) {
    Molecule m;
    json::read_record(cursor, "a molecule object", molecule_fields(m, type));
    return m;
}

std::string molecule_name(const std::filesystem::path& path) {
    const std::filesystem::path file = path.filename();
    if (file.empty() || file == "." || file == "..") return "molecule";
    std::string stem = path.stem().string();
    if (stem.empty() || !is_valid_utf8(stem)) return "molecule";
    return stem;
}

// A bond of an atom to itself, or one listed twice in either orientation, gives angles whose two
// ends are one atom; LAMMPS refuses those ("Invalid atom ID"), rigid molecule or not.
void check_bonds_listed_once(const std::vector<AtomPair>& connectivity, const std::string& shown) {
    struct PairHash {
        std::size_t operator()(const AtomPair& pair) const noexcept {
            std::size_t seed = 0;
            hash_combine(seed, pair[0]);
            hash_combine(seed, pair[1]);
            return seed;
        }
    };
    std::unordered_map<AtomPair, std::size_t, PairHash> first_listed;  // (smaller, larger) -> position
    first_listed.reserve(connectivity.size());
    for (std::size_t p = 0; p < connectivity.size(); ++p) {
        const auto [a, b] = connectivity[p];
        if (a == b) fail(shown, " Connectivity bonds atom ", a, " to itself (", a, ", ", b, "); remove that pair");
        const auto [it, inserted] = first_listed.try_emplace(AtomPair{std::min(a, b), std::max(a, b)}, p);
        if (!inserted) {
            const AtomPair& first = connectivity[it->second];
            fail(shown, " Connectivity lists the bond (", a, ", ", b, ") a second time (first as (", first[0], ", ",
                 first[1], ")); list each bond once");
        }
    }
}

double distance(const Molecule& m, std::size_t i, std::size_t j) {
    const Vec3& a = m.pseudo_atoms[i].position;
    const Vec3& b = m.pseudo_atoms[j].position;
    return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

bool is_rigid(const std::optional<std::string>& type) {
    return type ? equals_ignoring_ascii_case(*type, "rigid") : false;
}

std::vector<std::vector<std::size_t>> neighbour_lists(const Molecule& molecule) {
    std::vector<std::vector<std::size_t>> neighbours(molecule.pseudo_atoms.size());
    for (const auto& [a, b] : molecule.connectivity) {
        neighbours[a].push_back(b);
        neighbours[b].push_back(a);
    }
    return neighbours;
}

// Counts what derived_angles and derived_dihedrals would list, without listing it, and refuses a
// molecule whose lists would pass the bound. Bonds are listed once and join distinct atoms here.
void check_derived_counts(const Molecule& m, const std::string& shown) {
    auto neighbours = neighbour_lists(m);
    std::uint64_t angles = 0;
    std::size_t busiest = 0;
    for (std::size_t a = 0; a < neighbours.size(); ++a) {
        const std::uint64_t d = neighbours[a].size();
        angles += d * (d - 1) / 2;  // 0 for d = 0 as well
        if (d > neighbours[busiest].size()) busiest = a;
    }
    if (angles > max_derived_per_molecule) {
        fail(shown, " Connectivity implies ", angles, " angles, more than the ", max_derived_per_molecule,
             " a molecule may have (atom ", busiest, " alone is bonded to ", neighbours[busiest].size(),
             " atoms); check the Connectivity");
    }
    // Each bond (j, k) is the centre of (deg j - 1)(deg k - 1) dihedrals, less one per common
    // neighbour (a three-membered ring). Common neighbours are only counted when the bound is in
    // question; the angle bound keeps that walk short.
    auto through = [&neighbours](const AtomPair& bond) {
        return static_cast<std::uint64_t>(neighbours[bond[0]].size() - 1) * (neighbours[bond[1]].size() - 1);
    };
    std::uint64_t dihedrals = 0;
    for (const AtomPair& bond : m.connectivity) dihedrals += through(bond);
    if (dihedrals <= max_derived_per_molecule) return;
    for (auto& list : neighbours) std::sort(list.begin(), list.end());
    dihedrals = 0;
    for (const AtomPair& bond : m.connectivity) {
        const auto& a = neighbours[bond[0]];
        const auto& b = neighbours[bond[1]];
        std::uint64_t common = 0;
        for (auto i = a.begin(), j = b.begin(); i != a.end() && j != b.end();) {
            if (*i < *j) {
                ++i;
            } else if (*j < *i) {
                ++j;
            } else {
                ++common, ++i, ++j;
            }
        }
        dihedrals += through(bond) - common;
    }
    if (dihedrals > max_derived_per_molecule) {
        fail(shown, " Connectivity implies ", dihedrals, " dihedrals, more than the ", max_derived_per_molecule,
             " a molecule may have; check the Connectivity");
    }
}

}  // namespace

Molecule Molecule::load(const std::filesystem::path& path) {
    std::optional<std::string> type;
    Molecule m;
    std::vector<std::string> warnings =
        json::read_file(path, [&m, &type](json::Cursor& c) { m = read_molecule(c, type); });
    const std::string shown = display(path);
    const std::size_t n = m.pseudo_atoms.size();

    if (n == 0) fail(shown, " defines no pseudoAtoms");
    // A misspelt Type would silently make a rigid molecule flexible.
    m.framework = type && equals_ignoring_ascii_case(*type, "framework");
    if (type && !is_rigid(type) && !m.framework && !equals_ignoring_ascii_case(*type, "flexible")) {
        fail(shown, ": Type must be \"rigid\", \"flexible\" or \"framework\", got \"", *type, "\"");
    }
    // RASPA3 takes a molecule without "Type" as rigid, and a rigid one needs no bonds.
    const bool rigid_for_raspa3 = !type || is_rigid(type);
    if (n >= 2 && m.connectivity.empty() && !m.framework) {
        if (!rigid_for_raspa3) {
            fail(shown, " has ", n,
                 " pseudoAtoms but no Connectivity; multi-atom molecules must declare which atoms are "
                 "bonded (auto-bonding by index order is not used because it is wrong for branched "
                 "molecules, e.g. water)");
        }
        if (n > max_inferred_atoms) {
            fail(shown, " has ", n,
                 " pseudoAtoms but no Connectivity; cellkit bonds the atoms of a rigid molecule "
                 "of at most ",
                 max_inferred_atoms, " atoms itself: give the Connectivity of a larger one");
        }
        m.connectivity = spanning_bonds(m.pseudo_atoms);
        m.connectivity_inferred = true;
    }
    for (const auto& [a, b] : m.connectivity) {
        if (a >= n || b >= n) {
            fail(shown, " Connectivity references atom index out of range (", a, ", ", b, ") for ", n, " pseudoAtoms");
        }
    }
    check_bonds_listed_once(m.connectivity, shown);
    check_derived_counts(m, shown);
    m.name = molecule_name(path);
    // The name ends every Atoms line of data.lmp.
    check_lammps_name(m.name, "file stem", shown);
    m.rigid = is_rigid(type) || m.connectivity_inferred;
    m.warnings = std::move(warnings);
    // A rigid body keeps its template's shape; atoms on one point make bonds of no length. A
    // flexible template may be one point: the packing routes then build a geometry for it.
    if (const auto pair = coincident_atoms(m.pseudo_atoms); pair && m.rigid) {
        const auto [i, j] = *pair;
        fail(shown, ": pseudoAtoms ", i, " and ", j, " are ", fmt::Fixed{distance(m, i, j), 4},
             " \u00c5 apart in the template, closer than ", min_atom_distance,
             " \u00c5; a rigid molecule keeps the shape of its template, so give every atom its own position");
    }
    return m;
}

std::vector<Angle> derived_angles(const Molecule& molecule) {
    const auto neighbours = neighbour_lists(molecule);
    std::vector<Angle> angles;
    for (std::size_t j = 0; j < neighbours.size(); ++j) {
        const auto& list = neighbours[j];
        for (std::size_t p = 0; p < list.size(); ++p) {
            for (std::size_t q = p + 1; q < list.size(); ++q) angles.push_back({list[p], j, list[q]});
        }
    }
    return angles;
}

std::vector<Dihedral> derived_dihedrals(const Molecule& molecule) {
    const auto neighbours = neighbour_lists(molecule);
    std::vector<Dihedral> dihedrals;
    for (const auto& [j, k] : molecule.connectivity) {
        for (const std::size_t i : neighbours[j]) {
            if (i == k) continue;
            for (const std::size_t l : neighbours[k]) {
                // l == i closes a three-membered ring, which has no dihedral.
                if (l == j || l == i) continue;
                dihedrals.push_back({i, j, k, l});
            }
        }
    }
    return dihedrals;
}

std::vector<RecordKeys> molecule_record_keys() {
    Molecule unused;
    std::optional<std::string> type;
    RecordKeys out{.record = "molecule file", .keys = {}};
    for (const json::Field& f : molecule_fields(unused, type)) out.keys.emplace_back(std::string(f.key), f.required);
    return {out};
}

}  // namespace cellkit
