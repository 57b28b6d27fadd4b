#include "lammps/data_file.hpp"

#include <cmath>

#include "common/file_io.hpp"
#include "common/number_format.hpp"

namespace cellkit {
namespace {

using fmt::append_exponent;
using fmt::append_uint;
using fmt::cat;

template <typename Registry>
std::size_t type_number(const Registry& registry, const typename Registry::KeyType& key) {
    if (auto position = registry.position(key)) return *position + 1;
    fail("internal error: a bonded type is missing from its registry");
}

// The parts of every line that are the same in each copy of a species,
// rendered once so the per-copy loop only formats IDs and coordinates.
struct SpeciesText {
    std::vector<std::string> atom_middle;  // " type charge "
    std::vector<std::string> atom_tail;    // "  # type molecule\n"
    std::vector<std::string> bond_middle, angle_middle, dihedral_middle;  // " type "
    std::vector<std::string> bond_comment, angle_comment, dihedral_comment;
};

std::string padded_type(std::size_t number) {
    std::string s = " ";
    append_uint(s, number, 4);
    s.push_back(' ');
    return s;
}

SpeciesText render_species(const ResolvedMolecule& resolved, const TypeRegistries& registries,
                           const ForceField& force_field) {
    const Molecule& molecule = *resolved.molecule;
    SpeciesText text;
    for (const PseudoAtom& atom : molecule.pseudo_atoms) {
        const PseudoAtomParams* params = force_field.find(atom.type);
        const auto position = registries.atoms.position(atom.type);
        if (params == nullptr || !position) {
            fail("internal error: pseudo-atom type '", atom.type, "' has no atom type");
        }
        std::string middle = padded_type(*position + 1);
        fmt::append_fixed(middle, params->charge, 6, 10);
        middle.push_back(' ');
        text.atom_middle.push_back(std::move(middle));
        text.atom_tail.push_back(cat("  # ", atom.type, " ", molecule.name, "\n"));
    }
    for (const BondRecord& r : resolved.bonds) {
        text.bond_middle.push_back(padded_type(type_number(registries.bonds, type_key(r.bond))));
        text.bond_comment.push_back(cat("  # ", dashed(r.bond.names)));
    }
    for (const AngleRecord& r : resolved.angles) {
        text.angle_middle.push_back(padded_type(type_number(registries.angles, type_key(r.angle))));
        text.angle_comment.push_back(cat("  # ", dashed(r.angle.names)));
    }
    for (const DihedralRecord& r : resolved.dihedrals) {
        text.dihedral_middle.push_back(padded_type(type_number(registries.dihedrals, type_key(r.dihedral))));
        text.dihedral_comment.push_back(cat("  # ", dashed(r.dihedral.names), "\n"));
    }
    return text;
}

void append_atom_id(std::string& out, std::uint64_t id) {
    out.push_back(' ');
    append_uint(out, id, 7);
}

}  // namespace

std::string compose_data_file(const ActiveSpeciesList& active, const std::vector<Vec3>& coords,
                              const TypeRegistries& registries, const ForceField& force_field, double box_len) {
    const SystemTotals totals = system_totals(active);
    if (coords.size() != totals.atoms) {
        fail("internal error: expected ", totals.atoms, " packed atom coordinates, got ", coords.size());
    }
    // LAMMPS refuses an empty or inverted box and cannot move atoms at NaN; say so here
    // rather than write a file that only fails later.
    if (!std::isfinite(box_len) || box_len <= 0.0) {
        fail("the box edge must be a positive finite length in \u00c5, got ", box_len);
    }
    // The box is written with 6 decimals, and the double nearest 5e-7 lies just below the
    // halfway point, so exactly the edges up to it would read back as an empty box.
    if (box_len <= 5e-7) {
        fail("the box edge must be a positive finite length in \u00c5, got ", box_len,
             ", which data.lmp (6 decimals) would write as 0.000000");
    }
    for (std::size_t i = 0; i < coords.size(); ++i) {
        const Vec3& r = coords[i];
        if (!std::isfinite(r[0]) || !std::isfinite(r[1]) || !std::isfinite(r[2])) {
            fail("the position of atom ", i + 1, " is not finite: (", r[0], ", ", r[1], ", ", r[2], ")");
        }
    }
    std::vector<SpeciesText> texts;
    texts.reserve(active.size());
    for (const ActiveSpecies& s : active) texts.push_back(render_species(s.resolved, registries, force_field));

    std::string out;
    out.reserve(256 + totals.atoms * 100 + totals.bonds * 48 + totals.angles * 56 + totals.dihedrals * 72);
    out.append("created by boxloom\n\n");
    out.append(cat(totals.atoms, " atoms\n"));
    if (totals.bonds != 0) out.append(cat(totals.bonds, " bonds\n"));
    if (totals.angles != 0) out.append(cat(totals.angles, " angles\n"));
    if (totals.dihedrals != 0) out.append(cat(totals.dihedrals, " dihedrals\n"));
    out.append(cat(registries.atoms.size(), " atom types\n"));
    if (totals.bonds != 0) out.append(cat(registries.bonds.size(), " bond types\n"));
    if (totals.angles != 0) out.append(cat(registries.angles.size(), " angle types\n"));
    if (totals.dihedrals != 0) out.append(cat(registries.dihedrals.size(), " dihedral types\n"));
    out.push_back('\n');
    for (const char* axis : {"x", "y", "z"}) {
        out.append("0.0 ");
        fmt::append_fixed(out, box_len, 6);
        out.append(cat(" ", axis, "lo ", axis, "hi\n"));
    }

    out.append("\nAtoms\n\n");
    std::uint64_t atom_id = 0;
    std::uint64_t molecule_id = 0;
    for (std::size_t s = 0; s < active.size(); ++s) {
        const SpeciesText& text = texts[s];
        for (std::uint64_t copy = 0; copy < active[s].count; ++copy) {
            ++molecule_id;
            for (std::size_t a = 0; a < text.atom_middle.size(); ++a) {
                const Vec3& r = coords[atom_id++];
                append_uint(out, atom_id, 7);
                out.push_back(' ');
                append_uint(out, molecule_id, 7);
                out.append(text.atom_middle[a]);
                append_exponent(out, r[0], 6, 13);
                out.push_back(' ');
                append_exponent(out, r[1], 6, 13);
                out.push_back(' ');
                append_exponent(out, r[2], 6, 13);
                out.append(text.atom_tail[a]);
            }
        }
    }

    // One walk per section: species, copies, records; atom IDs shift by the atoms of earlier copies.
    auto append_section = [&](const char* title, std::uint64_t total, auto&& records_of, auto&& middle_of,
                              auto&& write_line) {
        if (total == 0) return;
        out.append(cat("\n", title, "\n\n"));
        std::uint64_t id = 0;
        std::uint64_t offset = 0;
        for (std::size_t s = 0; s < active.size(); ++s) {
            const auto& records = records_of(active[s].resolved);
            const auto& middles = middle_of(texts[s]);
            const std::size_t atoms = active[s].resolved.molecule->pseudo_atoms.size();
            for (std::uint64_t copy = 0; copy < active[s].count; ++copy, offset += atoms) {
                for (std::size_t r = 0; r < records.size(); ++r) {
                    append_uint(out, ++id, 7);
                    out.append(middles[r]);
                    write_line(texts[s], records[r], r, offset + 1, id);
                }
            }
        }
    };

    append_section(
        "Bonds", totals.bonds, [](const ResolvedMolecule& m) -> const auto& { return m.bonds; },
        [](const SpeciesText& t) -> const auto& { return t.bond_middle; },
        [&](const SpeciesText& t, const BondRecord& b, std::size_t r, std::uint64_t first, std::uint64_t id) {
            append_uint(out, b.i + first, 7);
            append_atom_id(out, b.j + first);
            out.append(t.bond_comment[r]);
            if (b.bond.placeholder) {
                out.append(cat("  # This bond shall be rigid, set SHAKE or RIGID in lammps simulation for bond ", id));
            }
            out.push_back('\n');
        });
    append_section(
        "Angles", totals.angles, [](const ResolvedMolecule& m) -> const auto& { return m.angles; },
        [](const SpeciesText& t) -> const auto& { return t.angle_middle; },
        [&](const SpeciesText& t, const AngleRecord& a, std::size_t r, std::uint64_t first, std::uint64_t id) {
            append_uint(out, a.i + first, 7);
            append_atom_id(out, a.j + first);
            append_atom_id(out, a.k + first);
            out.append(t.angle_comment[r]);
            if (a.angle.placeholder) {
                out.append(
                    cat("  # This angle shall be rigid, set SHAKE or RIGID in lammps simulation for angle ", id));
            }
            out.push_back('\n');
        });
    append_section(
        "Dihedrals", totals.dihedrals, [](const ResolvedMolecule& m) -> const auto& { return m.dihedrals; },
        [](const SpeciesText& t) -> const auto& { return t.dihedral_middle; },
        [&](const SpeciesText& t, const DihedralRecord& d, std::size_t r, std::uint64_t first, std::uint64_t) {
            append_uint(out, d.i + first, 7);
            append_atom_id(out, d.j + first);
            append_atom_id(out, d.k + first);
            append_atom_id(out, d.l + first);
            out.append(t.dihedral_comment[r]);
        });
    return out;
}

void write_data_file(const std::filesystem::path& path, const ActiveSpeciesList& active,
                     const std::vector<Vec3>& coords, const TypeRegistries& registries,
                     const ForceField& force_field, double box_len) {
    const std::string text = compose_data_file(active, coords, registries, force_field, box_len);
    replace_file(path, text);
}

}  // namespace cellkit
