#include "lammps/starter_input.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <numbers>
#include <set>
#include <string_view>

#include "common/error.hpp"
#include "common/number_format.hpp"
#include "lammps/framework.hpp"

namespace cellkit {

using fmt::cat;

namespace {

// LAMMPS IDs take letters, digits and underscores; "all" is taken.
std::string group_name(const std::string& species, std::set<std::string>& taken) {
    std::string name;
    for (const char c : species) {
        const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        name.push_back(word ? c : '_');
    }
    if (name.empty() || name == "all") name += "_species";
    std::string unique = name;
    for (int n = 2; !taken.insert(unique).second; ++n) unique = cat(name, "_", n);
    return unique;
}

std::size_t bond_type(const TypeRegistries& registries, const ResolvedBond& bond) {
    return *registries.bonds.position(type_key(bond)) + 1;
}

// SHAKE holds clusters of one central atom and up to three others, none of them bonded on to a
// further held bond: true when the held bonds of the molecule form such stars only.
bool shake_can_hold(std::size_t atoms, const std::vector<const BondRecord*>& held) {
    std::vector<std::size_t> degree(atoms, 0);
    for (const BondRecord* b : held) ++degree[b->i], ++degree[b->j];
    for (const BondRecord* b : held) {
        // One end of every held bond is a centre; the other end holds no other bond.
        if (degree[b->i] > 1 && degree[b->j] > 1) return false;
    }
    return std::all_of(degree.begin(), degree.end(), [](std::size_t d) { return d <= 3; });
}

// The template's angle at j, degrees.
double template_angle(const Molecule& m, std::size_t i, std::size_t j, std::size_t k) {
    const Vec3 &a = m.pseudo_atoms[i].position, &b = m.pseudo_atoms[j].position, &c = m.pseudo_atoms[k].position;
    const Vec3 u{a[0] - b[0], a[1] - b[1], a[2] - b[2]}, v{c[0] - b[0], c[1] - b[1], c[2] - b[2]};
    const Vec3 w{u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    return std::atan2(std::hypot(w[0], w[1], w[2]), u[0] * v[0] + u[1] * v[1] + u[2] * v[2]) * 180.0 / std::numbers::pi;
}

// SHAKE holds an angle through the distance of its outer atoms, which stops pinning it down as the
// angle nears a straight line.
constexpr double straightest_shake_angle = 175.0;

}  // namespace

std::vector<SpeciesHold> species_holds(const ActiveSpeciesList& active, const TypeRegistries& registries) {
    std::vector<SpeciesHold> holds;
    std::set<std::string> taken{framework_group, "guests", "mobile", "rigid_bodies", "shaken"};
    std::uint64_t next = 1;
    for (const ActiveSpecies& species : active) {
        const ResolvedMolecule& r = species.resolved;
        const Molecule& m = *r.molecule;
        SpeciesHold hold{
            .group = group_name(m.name, taken), .first_molecule = next, .last_molecule = next + species.count - 1};
        next += species.count;
        if (m.framework) {
            hold.hold = Hold::Still;
            holds.push_back(std::move(hold));
            continue;
        }
        const std::size_t atoms = m.pseudo_atoms.size();
        // Placeholders stand for constraints: the bonds and angles of a rigid molecule that has no
        // entry for them, and FIXED bonds. Terms with their own entries stay free.
        std::vector<const BondRecord*> held;
        for (const BondRecord& b : r.bonds) {
            if (b.bond.placeholder) held.push_back(&b);
        }
        const bool all_angles_held =
            std::all_of(r.angles.begin(), r.angles.end(), [](const AngleRecord& a) { return a.angle.placeholder; });
        const bool whole_rigid =
            m.rigid && atoms > 1 && held.size() == r.bonds.size() && all_angles_held && r.dihedrals.empty();
        const auto bent = [&](const AngleRecord& a) {
            return template_angle(m, a.i, a.j, a.k) < straightest_shake_angle;
        };
        if (whole_rigid && !(atoms == 2 || (atoms == 3 && r.angles.size() == 1 && bent(r.angles[0])))) {
            hold.hold = Hold::RigidBody;  // linear, or more than three atoms: SHAKE cannot hold its shape
        } else if (!held.empty() && shake_can_hold(atoms, held)) {
            hold.hold = Hold::Shake;
            for (const BondRecord* b : held) hold.bond_types.push_back(bond_type(registries, b->bond));
            // SHAKE holds an angle only as a cluster of its two held bonds and nothing else.
            if (atoms == 3 && held.size() == 2 && r.angles.size() == 1 && r.angles[0].angle.placeholder &&
                bent(r.angles[0])) {
                hold.angle_types.push_back(*registries.angles.position(type_key(r.angles[0].angle)) + 1);
            }
        }
        // Otherwise the placeholders keep their stiff constants, and the timestep allows for them.
        std::sort(hold.bond_types.begin(), hold.bond_types.end());
        hold.bond_types.erase(std::unique(hold.bond_types.begin(), hold.bond_types.end()), hold.bond_types.end());
        holds.push_back(std::move(hold));
    }
    return holds;
}

double starter_timestep(const ActiveSpeciesList& active, const TypeRegistries& registries,
                        const ForceField& force_field, const std::vector<SpeciesHold>& holds) {
    // The period of the fastest bond that moves freely: sqrt(2K / mu) with LAMMPS's K (its
    // E = K (r - r0)^2), K in kcal/mol/Å² and mu in g/mol.
    constexpr double si = 4184.0 * 1e20 / 1e-3;  // kcal/mol/Å² per g/mol in s^-2
    double shortest = std::numeric_limits<double>::infinity();
    for (std::size_t s = 0; s < active.size(); ++s) {
        if (holds[s].hold == Hold::RigidBody || holds[s].hold == Hold::Still) continue;
        const ResolvedMolecule& r = active[s].resolved;
        for (const BondRecord& b : r.bonds) {
            const std::vector<std::size_t>& held = holds[s].bond_types;
            if (std::find(held.begin(), held.end(), bond_type(registries, b.bond)) != held.end()) continue;
            const PseudoAtomParams* pi = force_field.find(r.molecule->pseudo_atoms[b.i].type);
            const PseudoAtomParams* pj = force_field.find(r.molecule->pseudo_atoms[b.j].type);
            if (!pi || !pj || b.bond.k <= 0.0) continue;
            const double mu = pi->mass * pj->mass / (pi->mass + pj->mass);
            shortest = std::min(shortest, 2 * std::numbers::pi / std::sqrt(2 * b.bond.k / mu * si) * 1e15);
        }
    }
    // A tenth of a period and no more than 2 fs, in halvings of 2 fs so the number reads well.
    double dt = 2.0;
    while (dt > 0.0625 && dt > shortest / 10.0) dt /= 2.0;
    return dt;
}

}  // namespace cellkit

namespace cellkit {

namespace {

// A command padded to the column LAMMPS inputs are usually aligned at.
std::string command(std::string_view name, const std::string& rest) {
    std::string line(name);
    line.resize(std::max<std::size_t>(line.size() + 1, 16), ' ');
    return cat(line, rest, "\n");
}

template <typename T>
std::string joined(const std::vector<T>& items) {
    std::string out;
    for (const T& item : items) out.append(cat(out.empty() ? "" : " ", item));
    return out;
}

// LAMMPS allows 32 groups: all, the three of the constraints, one per species.
constexpr std::size_t most_species = 28;

}  // namespace

void check_starter(OptionalPairSetup pair_style, const StarterSettings& settings, std::size_t species) {
    if (!pair_style) {
        fail("no ", starter_input_name,
             " for a build whose pair style is left to you (pair style none): it would "
             "have no interactions to run; pick a pair style, or write your own input around forcefield.lmp");
    }
    if (!(settings.temperature > 0.0) || !std::isfinite(settings.temperature)) {
        fail(starter_input_name, ": the temperature must be above 0 K, not ", settings.temperature);
    }
    if (settings.pressure && !std::isfinite(*settings.pressure)) {
        fail(starter_input_name, ": the pressure must be a number of bar, not ", *settings.pressure);
    }
    if (species > most_species) {
        fail(starter_input_name, ": LAMMPS takes at most 32 groups, too few for a group for each of the ", species,
             " species; write your own input around forcefield.lmp");
    }
}

std::string starter_input(const ActiveSpeciesList& active, const TypeRegistries& registries,
                          const ForceField& force_field, OptionalPairSetup pair_style, const StarterSettings& settings,
                          const Box& box) {
    check_starter(pair_style, settings, active.size());
    const std::vector<SpeciesHold> holds = species_holds(active, registries);
    const double dt = starter_timestep(active, registries, force_field, holds);
    std::vector<std::string> shaken, bodies;
    std::vector<std::size_t> bond_types, angle_types;
    std::size_t still = 0;
    for (const SpeciesHold& h : holds) {
        if (h.hold == Hold::Shake) shaken.push_back(h.group);
        if (h.hold == Hold::RigidBody) bodies.push_back(h.group);
        if (h.hold == Hold::Still) ++still;
        bond_types.insert(bond_types.end(), h.bond_types.begin(), h.bond_types.end());
        angle_types.insert(angle_types.end(), h.angle_types.begin(), h.angle_types.end());
    }
    for (auto* types : {&bond_types, &angle_types}) {
        std::sort(types->begin(), types->end());
        types->erase(std::unique(types->begin(), types->end()), types->end());
    }
    if (still == holds.size()) {
        fail(starter_input_name, ": the box holds nothing but a framework, which is held still: nothing would move");
    }
    if (still > 0 && settings.pressure) {
        fail(starter_input_name,
             ": the framework holds the box's shape and size, so the run is NVT: leave out the "
             "pressure");
    }
    const bool free_atoms = bodies.size() + still < holds.size();
    const std::string mobile = bodies.empty() && still == 0 ? "all" : "mobile";
    // With a framework in the box its atoms neither move nor count in the temperature.
    const std::string moving = still == 0 ? "all" : "guests";
    std::string shake_line;
    if (!shaken.empty()) {
        shake_line = command("fix", cat("constrain shaken shake 1.0e-6 100 0 b ", joined(bond_types),
                                        angle_types.empty() ? "" : " a ", joined(angle_types)));
    }

    std::string out = cat(starter_header, "\n#");
    for (std::size_t s = 0; s < active.size(); ++s) {
        out.append(cat(s ? ", " : " ", active[s].count, " ", active[s].resolved.molecule->name));
    }
    out.append(cat(" in a ", box_text(box), box.is_cube() ? "" : " box",
                   ".\n"
                   "# It eases the packed box in, then runs ",
                   settings.pressure ? "NPT" : "NVT",
                   ". Run it with lmp -in in.lammps; set the knobs below on the command line,\n"
                   "# e.g. lmp -var steps 100000 -var T 350 -in in.lammps\n\n"));
    out.append(command("variable", cat("T index ", settings.temperature, "  # K")));
    if (settings.pressure) {
        out.append(command("variable",
                           cat("P index ", *settings.pressure / 1.01325, "  # atm (", *settings.pressure, " bar)")));
    }
    out.append(command("variable", "steps index 5000  # of the run after the easing in"));
    std::string why = "every bond is held or slow";
    if (dt < 2.0) why = "the fastest bond that moves, a tenth of its period";
    out.append(command("variable", cat("dt index ", dt, "  # fs: ", why)));
    out.append(command("variable", "dump_every index 1000  # steps between frames of traj.lammpstrj"));
    out.append(command("variable", "thermo_every index 100  # steps between lines of thermo output"));
    out.append(command("variable", "seed index 4928459"));
    out.append("\n");
    out.append(command("units", "real"));
    out.append(command("atom_style", "full"));
    out.append(command("read_data", "data.lmp"));
    out.append(command("include", "forcefield.lmp"));
    out.append("\n");
    out.append(command("neighbor", "2.0 bin"));
    out.append(command("neigh_modify", "every 1 delay 0 check yes"));
    out.append("\n# One group per species, by molecule ID.\n");
    for (const SpeciesHold& h : holds) {
        out.append(command("group", cat(h.group, " molecule ", h.first_molecule, ":", h.last_molecule)));
    }
    out.append(
        "# How they move: SHAKE holds the bonds (and the angle of a bent three-atom molecule) written as\n"
        "# placeholders; a rigid molecule SHAKE cannot hold is one rigid body; the rest move atom by atom.\n");
    for (std::size_t s = 0; s < holds.size(); ++s) {
        const SpeciesHold& h = holds[s];
        std::string how = "atom by atom";
        if (h.hold == Hold::Shake) {
            how = cat("SHAKE, bond type", h.bond_types.size() > 1 ? "s " : " ", joined(h.bond_types));
            if (!h.angle_types.empty()) how.append(cat(" and angle type ", joined(h.angle_types)));
        }
        if (h.hold == Hold::RigidBody) how = "a rigid body per molecule";
        if (h.hold == Hold::Still) how = cat("held still, a framework (group ", framework_group, ", forcefield.lmp)");
        out.append(cat("#   ", h.group, ": ", how, "\n"));
    }
    if (still > 0) out.append(command("group", cat("guests subtract all ", framework_group)));
    if (!bodies.empty()) out.append(command("group", cat("rigid_bodies union ", joined(bodies))));
    if (mobile == "mobile") {
        out.append(command("group", cat("mobile subtract all", bodies.empty() ? "" : " rigid_bodies",
                                        still == 0 ? "" : cat(" ", framework_group))));
    }
    if (!shaken.empty()) out.append(command("group", cat("shaken union ", joined(shaken))));
    out.append("\n");
    out.append(command("thermo_style", "custom step temp press density pe ebond eangle edihed evdwl ecoul elong"));
    out.append(command("thermo", "${thermo_every}"));
    if (still > 0) {
        out.append("# The temperature is the guests' alone (LAMMPS warns that the pressure then uses it too).\n");
        out.append(command("compute", "temp_guests guests temp"));
        out.append(command("thermo_modify", "temp temp_guests"));
    }
    out.append(
        "\n# Velocities before any constraint fix exists; the easing in brings them to T with the "
        "constraints on.\n");
    out.append(command("velocity", cat(moving, " create ${T} ${seed} mom yes rot yes dist gaussian")));

    if (free_atoms) {
        out.append(
            "\n# 1. The packed molecules sit about the packing tolerance apart, closer than they like: "
            "minimise\n"
            "#    first, constraints off (the placeholder constants keep the shapes near, SHAKE restores them\n"
            "#    exactly)");
        out.append(bodies.empty() ? "" : ", rigid bodies held still so that they keep their exact shape");
        out.append(still == 0 ? ".\n" : ", the framework held still.\n");
        if (!bodies.empty()) out.append(command("fix", "hold rigid_bodies setforce 0.0 0.0 0.0"));
        if (still > 0) out.append(command("fix", cat("hold_framework ", framework_group, " setforce 0.0 0.0 0.0")));
        out.append(command("minimize", "1.0e-4 1.0e-6 1000 10000"));
        if (!bodies.empty()) out.append(command("unfix", "hold"));
        if (still > 0) out.append(command("unfix", "hold_framework"));
        out.append(command("reset_timestep", "0"));
    }
    out.append(cat("\n# ", free_atoms ? "2" : "1",
                   ". Then 250 fs of strongly damped Langevin dynamics at 0.5 fs, every constraint on.\n"));
    out.append(command("timestep", "0.5"));
    if (!bodies.empty()) {
        // fix rigid/small's own langevin keyword reads memory it never set (valgrind, LAMMPS 22 Jul 2025),
        // and a box of linear bodies could turn to NaN in its first step or not, run to run. Langevin
        // forces on every atom of a body add up to the same drag and noise on its motion and turning.
        out.append(
            "# The rigid bodies are damped atom by atom, as fix rigid/small's own langevin keyword can turn\n"
            "# a body's motion into NaN.\n");
        out.append(command("fix", "push_bodies rigid_bodies rigid/small molecule"));
        out.append(command("fix", "push_damp_bodies rigid_bodies langevin ${T} ${T} 10.0 $(v_seed+1)"));
    }
    if (free_atoms) {
        out.append(command("fix", cat("push_damp ", mobile, " langevin ${T} ${T} 10.0 $(v_seed+2)")));
        out.append(command("fix", cat("push_move ", mobile, " nve")));
    }
    out.append(shake_line);  // after langevin, which adds forces SHAKE must see
    out.append(command("run", "500"));
    if (!shaken.empty()) out.append(command("unfix", "constrain"));
    if (free_atoms) out.append(command("unfix", "push_move")), out.append(command("unfix", "push_damp"));
    if (!bodies.empty()) out.append(command("unfix", "push_damp_bodies")), out.append(command("unfix", "push_bodies"));
    out.append(command("reset_timestep", "0"));

    const bool npt = settings.pressure.has_value();
    out.append(cat("\n# ", free_atoms ? "3" : "2", ". The run: Nos\u00e9-Hoover ", npt ? "NPT" : "NVT",
                   ", velocities carried over from the easing in.\n"));
    out.append(command("timestep", "${dt}"));
    out.append(shake_line);  // before any fix that changes the box
    const std::string thermostat = "temp ${T} ${T} 100.0";
    const std::string barostat = cat(settings.pressure_along_z ? "z" : "iso", " ${P} ${P} 1000.0");
    if (!bodies.empty()) {
        out.append(command(
            "fix", npt ? cat("bodies rigid_bodies rigid/npt/small molecule ", thermostat, " ", barostat, " dilate all")
                       : cat("bodies rigid_bodies rigid/nvt/small molecule ", thermostat)));
        if (npt) {
            out.append("# One barostat for the whole box: the rigid bodies' fix scales every atom (dilate all).\n");
        }
    }
    if (free_atoms) {
        const bool own_barostat = npt && bodies.empty();
        out.append(command("fix", cat("integrate ", mobile, own_barostat ? " npt " : " nvt ", thermostat,
                                      own_barostat ? " " + barostat : "")));
    }
    out.append("\n");
    out.append(command("dump", "traj all custom ${dump_every} traj.lammpstrj id mol type q x y z ix iy iz"));
    out.append(command("dump_modify", "traj sort id"));
    out.append(command("run", "${steps}"));
    out.append(command("write_data", "final.data nocoeff"));
    return out;
}

namespace {

// The number after `key` on its line of `text`.
std::optional<double> number_after(std::string_view text, std::string_view key) {
    const std::size_t at = text.find(key);
    if (at == std::string_view::npos) return std::nullopt;
    const char* first = text.data() + at + key.size();
    double value = 0.0;
    const auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
    if (ec != std::errc{} || end == first) return std::nullopt;
    return value;
}

}  // namespace

bool starter_matches(std::string_view text, const ActiveSpeciesList& active, const TypeRegistries& registries,
                     const ForceField& force_field, OptionalPairSetup pair_style, const Box& box) {
    // A first line may say how the file was made; the rest is what starter_input wrote.
    if (text.starts_with("# Made by")) text.remove_prefix(std::min(text.size(), text.find('\n') + 1));
    if (!pair_style) return false;
    StarterSettings settings;
    const std::optional<double> temperature = number_after(text, "\nvariable        T index ");
    if (!temperature) return false;
    settings.temperature = *temperature;
    if (text.find("\nvariable        P index ") != std::string_view::npos) {
        const std::size_t bar = text.find("  # atm (");
        if (bar == std::string_view::npos) return false;
        settings.pressure = number_after(text.substr(bar), "  # atm (");
        if (!settings.pressure) return false;
    }
    try {
        return starter_input(active, registries, force_field, pair_style, settings, box) == text;
    } catch (const Error&) {
        return false;
    }
}

}  // namespace cellkit
