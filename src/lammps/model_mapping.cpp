#include "lammps/model_mapping.hpp"

#include <cmath>
#include <cstdint>
#include <deque>

#include "common/number_format.hpp"
#include "lammps/pair_style.hpp"

namespace cellkit {
namespace {

using fmt::cat;

// LAMMPS reads neither inf nor NaN; the settings are checked when read, so this guards a sum or
// product that overflowed.
double finite(double value, std::string_view what) {
    if (!std::isfinite(value)) fail("cannot write forcefield.lmp: the ", what, " is ", value);
    return value;
}

std::string join(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names) out.append(out.empty() ? "" : ", ").append(n);
    return out;
}

// What bounds a cut-off: the edge of a cube, the shortest edge of another upright box, the narrowest
// distance between opposite faces of a tilted one.
std::string_view narrowest(const Box& box) {
    if (box.tilted()) return "narrowest box width";
    return box.is_cube() ? "box edge" : "shortest box edge";
}

std::string half_edge(const NonBondedModel& m) {
    return cat("half the ", narrowest(m.box));
}

std::string vdw_source(const NonBondedModel& m) {
    const ModelSettings& s = m.settings;
    if (s.cutoff_vdw_auto) return cat(s.cutoff_vdw_key, " auto: ", half_edge(m));
    return s.cutoff_vdw ? cat(s.cutoff_vdw_key, " ", *s.cutoff_vdw) : cat("CutOffVDW absent: RASPA3's ", kRaspaCutoff);
}

std::string coulomb_source(const NonBondedModel& m) {
    const ModelSettings& s = m.settings;
    if (s.cutoff_coulomb) return cat("CutOffCoulomb ", *s.cutoff_coulomb);
    const char* given = s.cutoff_coulomb_auto ? "CutOffCoulomb auto" : "CutOffCoulomb absent";
    if (s.ewald_parameters) return cat(given, ": RASPA3 keeps ", kRaspaCutoff, " beside EwaldParameters");
    return cat(given, ": ", half_edge(m), s.cutoff_coulomb_auto ? "" : ", RASPA3's default");
}

std::string shift_source(const NonBondedModel& m, bool shift) {
    const ModelSettings& s = m.settings;
    if (!s.shifted) return "TruncationMethod absent: truncated, RASPA3's default";
    if (*s.shifted && !shift) return "TruncationMethod shifted: left out, LAMMPS cannot shift beside tail corrections";
    return cat("TruncationMethod ", *s.shifted ? "shifted" : "truncated");
}

std::string tail_source(const ModelSettings& s) {
    if (!s.tail_corrections) return "TailCorrections absent: none, RASPA3's default";
    return cat("TailCorrections ", *s.tail_corrections ? "true" : "false");
}

std::string precision_source(const ModelSettings& s) {
    if (s.ewald_parameters) return "unused: EwaldParameters sets alpha and the wave vectors below";
    if (!s.ewald_precision) return "EwaldPrecision absent: RASPA3's 1e-6";
    const EwaldPrecision& p = *s.ewald_precision;
    return p.written.empty() ? cat("EwaldPrecision ", p.value) : cat("EwaldPrecision ", p.written, " = ", p.value);
}

// How far apart the atoms of a molecule may be in bonds. LAMMPS leaves out the pairs within three
// bonds (special_bonds 0 0 0) as RASPA3 does; the pairs farther apart it cuts off and shifts.
enum class Reach { WithinThreeBonds, Farther, Unjoined };

Reach reach(const Molecule& m) {
    const std::size_t n = m.pseudo_atoms.size();
    std::vector<std::vector<std::size_t>> neighbours(n);
    for (const AtomPair& b : m.connectivity) {
        neighbours[b[0]].push_back(b[1]);
        neighbours[b[1]].push_back(b[0]);
    }
    // Breadth first from `start`, no deeper than `limit` bonds; the number of atoms reached.
    std::vector<std::size_t> depth(n);
    auto reached_from = [&](std::size_t start, std::size_t limit) {
        std::fill(depth.begin(), depth.end(), n);
        std::deque<std::size_t> queue{start};
        depth[start] = 0;
        std::size_t reached = 1;
        while (!queue.empty()) {
            const std::size_t a = queue.front();
            queue.pop_front();
            if (depth[a] == limit) continue;
            for (const std::size_t b : neighbours[a]) {
                if (depth[b] != n) continue;
                depth[b] = depth[a] + 1;
                ++reached;
                queue.push_back(b);
            }
        }
        return reached;
    };
    if (n == 0 || reached_from(0, n) < n) return n == 0 ? Reach::WithinThreeBonds : Reach::Unjoined;
    for (std::size_t start = 0; start < n; ++start) {
        if (reached_from(start, 3) < n) return Reach::Farther;
    }
    return Reach::WithinThreeBonds;
}

// Whether some two atoms of a flexible molecule more than three bonds apart can be farther apart
// than the cut-off: not when all its bonds laid end to end, stretched by a tenth, stay within it.
bool may_reach_beyond(const ResolvedMolecule& m, double cutoff) {
    double length = 0.0;
    for (const BondRecord& b : m.bonds) length += b.bond.r0;
    return 1.1 * length > cutoff;
}

// What of the file's model this box and LAMMPS cannot reproduce.
void force_field_warnings(const NonBondedModel& m, bool charged, const ActiveSpeciesList& active, const Box& box,
                          std::vector<std::string>& warnings) {
    if (m.shifted && m.tail_corrections) {
        warnings.push_back(
            "TruncationMethod shifted with TailCorrections true: LAMMPS cannot shift the Lennard-Jones potential and "
            "add tail corrections at once, so forcefield.lmp keeps the tail corrections, which act on the pressure, "
            "and leaves the potential unshifted, which changes no force; energies differ from RASPA3's by the shift "
            "at the cut-off of every pair inside it");
    }
    const double half = 0.5 * box.shortest();
    auto beyond_half = [&](double cutoff, const std::string& source, std::string_view what) {
        if (cutoff <= half) return;
        warnings.push_back(cat("the ", what, " cut-off of ", cutoff, " \u00c5 (", source, ") is more than half the ",
                               narrowest(box), " (", fmt::Fixed{half, 3},
                               " \u00c5): LAMMPS counts every periodic image within it, RASPA3 only the nearest, so "
                               "the two programs simulate different models in this box; lower the cut-off in the "
                               "force-field file or build a larger box"));
    };
    beyond_half(m.cutoff_vdw, vdw_source(m), "Lennard-Jones");
    if (charged && m.charges) beyond_half(m.cutoff_coulomb, coulomb_source(m), "Coulomb");
    const bool shift = m.shifted && !m.tail_corrections;
    for (const ActiveSpecies& s : active) {
        const Molecule& molecule = *s.resolved.molecule;
        if (molecule.framework) continue;  // its own pairs are left out in LAMMPS as in RASPA3
        const Reach r = reach(molecule);
        if (r == Reach::WithinThreeBonds) continue;
        if (molecule.rigid) {
            warnings.push_back(cat("rigid species '", molecule.name,
                                   "' has atoms more than three bonds apart: LAMMPS adds their intramolecular "
                                   "Lennard-Jones and Coulomb energy, which RASPA3 leaves out of a rigid molecule; "
                                   "held by fix rigid, the molecule feels no force from it, but its energy differs"));
            continue;
        }
        const bool beyond = r == Reach::Unjoined || may_reach_beyond(s.resolved, m.cutoff_vdw);
        if (!shift && !beyond) continue;
        warnings.push_back(cat("species '", molecule.name,
                               "' is flexible: RASPA3 adds the Lennard-Jones energy of its atoms more than three bonds "
                               "apart without cut-off or shift, LAMMPS ",
                               shift && beyond ? "shifts it and cuts it off"
                               : shift         ? "shifts it"
                                               : "cuts it off",
                               " as the pair style says, so their intramolecular energies differ"));
    }
}

}  // namespace

std::vector<std::string> charged_types(const TypeRegistries& registries, const ForceField& force_field) {
    std::vector<std::string> names;
    for (const auto& [name, unused] : registries.atoms.entries()) {
        const PseudoAtomParams* p = force_field.find(name);
        if (p != nullptr && p->charge * p->charge != 0.0) names.push_back(name);
    }
    return names;
}

std::string model_pair_block(const NonBondedModel& m, bool charged, bool explicit_lb) {
    const ModelSettings& s = m.settings;
    // LAMMPS refuses "shift yes" beside "tail yes"; the tail corrections act on the pressure, the
    // shift on no force, so the tail corrections stay.
    const bool shift = m.shifted && !m.tail_corrections;
    const bool coulomb = charged && m.charges;
    std::string out = cat("\n# Setting up pair style\n",
                          "# The force-field file's own model, as RASPA3 evaluates it; each line names the keys it "
                          "comes from.\n");
    const std::string vdw = cat(finite(m.cutoff_vdw, "Lennard-Jones cut-off"));
    if (coulomb) {
        out.append(cat("pair_style lj/cut/coul/long ", vdw, " ", finite(m.cutoff_coulomb, "Coulomb cut-off"), "  # ",
                       vdw_source(m), "; ", coulomb_source(m), "\n"));
    } else {
        out.append(cat("pair_style lj/cut ", vdw, "  # ", vdw_source(m), "; ",
                       charged ? "ChargeMethod None: no electrostatics" : "no charges in the box", "\n"));
    }
    out.append(cat("pair_modify", explicit_lb ? "" : " mix arithmetic", " shift ", shift ? "yes" : "no", " tail ",
                   m.tail_corrections ? "yes" : "no",
                   // The default table of erfc is too coarse for the short intramolecular pairs
                   // whose Coulomb energy the Ewald sum takes out again.
                   coulomb ? " table 16 tabinner 0.5" : "", "  # MixingRule Lorentz-Berthelot",
                   explicit_lb ? ": every unlike pair written below" : "", "; ", shift_source(m, shift), "; ",
                   tail_source(s), coulomb ? "; fine Coulomb tables, as exact as RASPA3's erfc" : "", "\n"));
    if (coulomb) {
        const double precision = s.ewald_precision ? s.ewald_precision->value : kRaspaEwaldPrecision;
        out.append(cat("kspace_style ewald ", precision, "  # ", precision_source(s), "\n"));
        out.append(cat("kspace_modify gewald ", finite(m.ewald_alpha, "Ewald alpha"), " kmax/ewald ", m.kmax[0], " ",
                       m.kmax[1], " ", m.kmax[2], "  # ",
                       s.ewald_parameters ? "EwaldParameters"
                                          : "RASPA3's Ewald alpha (1/\u00c5) and wave vectors for this precision, "
                                            "Coulomb cut-off and box edge",
                       "\n"));
    }
    out.push_back('\n');
    return out;
}

std::vector<std::string> model_warnings(OptionalPairSetup pair_style, const ForceField& force_field,
                                        const ActiveSpeciesList& active, const TypeRegistries& registries,
                                        const Box& box) {
    std::vector<std::string> warnings;
    const std::vector<std::string> charged = charged_types(registries, force_field);
    if (pair_style == PairSetup::LjCut && !charged.empty()) {
        warnings.push_back(cat("atom types ", join(charged),
                               " carry charges, but the LjCut preset (pair_style lj/cut) has no electrostatics: "
                               "LAMMPS will simulate the box without them; choose the force-field pair style for "
                               "the force-field file's own model"));
    }
    if (pair_style && *pair_style != PairSetup::ForceField && preset_cutoff > 0.5 * box.shortest()) {
        warnings.push_back(cat("the preset's cut-off of ", preset_cutoff, " \u00c5 is more than half the ",
                               narrowest(box), " (", fmt::Fixed{0.5 * box.shortest(), 3},
                               " \u00c5): LAMMPS counts every periodic image within it, so molecules meet their own "
                               "images; build a larger box, or choose the force-field pair style or your own"));
    }
    if (pair_style != PairSetup::ForceField) return warnings;
    const NonBondedModel model = resolve_model(force_field.model, box);
    if (!model.charges && !charged.empty()) {
        warnings.push_back(cat("atom types ", join(charged),
                               " carry charges, but ChargeMethod None in the force-field file switches "
                               "electrostatics off: LAMMPS, as RASPA3, will simulate the box without them"));
    }
    force_field_warnings(model, !charged.empty(), active, box, warnings);
    return warnings;
}

}  // namespace cellkit
