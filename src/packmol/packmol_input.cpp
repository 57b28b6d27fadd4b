#include "packmol/packmol_input.hpp"

#include "common/number_format.hpp"
#include "common/utf8.hpp"

namespace cellkit {
namespace {

using fmt::cat;

// Packmol splits script lines at blanks and stops at '#'; these survive both,
// and the length leaves room in a file name of at most 255 bytes.
bool is_plain_name(const std::string& name) {
    if (name.empty() || name.size() > 200) return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                        c == '-' || c == '.' || c == '+';
        if (!ok) return false;
    }
    return true;
}

// A line break inside a name would split a PDB record in two.
std::string one_line(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '_';
    }
    return out;
}

// The first `chars` characters, blank-padded to that many.
std::string left_field(std::string_view text, std::size_t chars) {
    std::string out(utf8_prefix(text, chars));
    out.append(chars - utf8_length(out), ' ');
    return out;
}

}  // namespace

std::string template_file_name(std::size_t position, const std::string& name) {
    return is_plain_name(name) ? cat("species_", position, "_", name, ".pdb") : cat("species_", position, ".pdb");
}

std::string species_template_pdb(const Molecule& molecule) {
    const std::string name = one_line(molecule.name);
    const std::string residue = left_field(name, 3);
    std::string out = cat("COMPND    ", name, "\n");
    std::uint64_t serial = 0;
    for (const PseudoAtom& atom : molecule.pseudo_atoms) {
        out.append("HETATM");
        fmt::append_uint(out, ++serial, 5);
        out.append(cat(" ", left_field(one_line(atom.type), 4), " ", residue, "     1    "));
        for (double v : atom.position) fmt::append_fixed(out, v, 3, 8);
        out.append("  1.00  0.00\n");
    }
    out.append("END\n");
    return out;
}

PackRegion whole_box_region(const Vec3& box) {
    return {{0, 0, 0}, box};
}

std::string packmol_script(double tolerance, const Vec3& box, const std::vector<SpeciesTemplate>& templates,
                           std::optional<std::uint64_t> seed, bool obstacles) {
    std::string out = cat("# created by boxloom\ntolerance ", fmt::Fixed{tolerance, 2},
                          "\nfiletype pdb\noutput simbox.pdb\npbc 0.0000 0.0000 0.0000 ", fmt::Fixed{box[0], 4}, " ",
                          fmt::Fixed{box[1], 4}, " ", fmt::Fixed{box[2], 4}, "\n");
    if (seed) out.append(cat("seed ", *seed, "\n"));
    // For molecules without a restart file: Packmol's own first guesses otherwise keep a cell clear of
    // fixed atoms, and the layer left empty along them stays empty, as Packmol only pushes molecules apart.
    if (obstacles) out.append("avoid_overlap no\n");
    for (const SpeciesTemplate& t : templates) {
        out.append(cat("\nstructure ", t.file_name, "\n  number ", t.count, "\n  inside box"));
        for (double v : t.region.lo) out.append(cat(" ", fmt::Fixed{v, 4}));
        for (double v : t.region.hi) out.append(cat(" ", fmt::Fixed{v, 4}));
        if (!t.restart_file.empty()) out.append(cat("\n  restart_from ", t.restart_file));
        out.append("\nend structure\n");
    }
    if (obstacles) {
        // Without "center", "fixed" at the origin keeps the atoms where the file puts them.
        out.append(
            cat("\nstructure ", obstacles_file_name, "\n  number 1\n  fixed 0. 0. 0. 0. 0. 0.\nend structure\n"));
    }
    return out;
}

std::string obstacles_pdb(const std::vector<Vec3>& atoms) {
    std::string out;
    std::uint64_t serial = 0;
    for (const Vec3& p : atoms) {
        out.append("HETATM");
        // PDB has five columns for the serial; Packmol reads the coordinates by column.
        fmt::append_uint(out, ++serial % 100000, 5);
        out.append(" X    obs     1    ");
        for (double v : p) fmt::append_fixed(out, v, 3, 8);
        out.append("  1.00  0.00\n");
    }
    out.append("END\n");
    return out;
}

}  // namespace cellkit
