#include "packmol/pack_system.hpp"

#include <sys/stat.h>

#include <cmath>

#include "common/error.hpp"
#include "common/file_io.hpp"
#include "common/number_format.hpp"
#include "common/process.hpp"
#include "common/utf8.hpp"
#include "packmol/box_size.hpp"
#include "packmol/packed_pdb.hpp"
#include "packmol/packmol_input.hpp"

namespace cellkit {

using fmt::cat;

std::string packmol_exit_note(const std::optional<int>& exit_code, const std::string& out, const std::string& err) {
    return cat("packmol exited with status ", exit_status_text(exit_code), ":\nstdout:\n", utf8_lossy(out),
               "\nstderr:\n", utf8_lossy(err));
}

PackedBox pack_system(const std::filesystem::path& work_dir, const ActiveSpeciesList& active,
                      const ForceField& force_field, double density, double tolerance, const StopCheck& should_stop) {
    if (active.empty()) fail("no species with count > 0 to pack");
    // A NaN or infinite density has no box either.
    if (!(density > 0.0) || !std::isfinite(density)) fail("density must be positive");
    const double mass = total_mass(active, force_field);
    if (!(mass > 0.0)) fail("total system mass is zero; nothing to pack");
    const std::uint64_t expected_atoms = system_totals(active).atoms;

    PackedBox box;
    box.edge = box_edge(mass, density);
    std::vector<SpeciesTemplate> templates;
    for (std::size_t i = 0; i < active.size(); ++i) {
        if (active[i].count == 0) continue;
        const Molecule& molecule = *active[i].resolved.molecule;
        templates.push_back({template_file_name(i, molecule.name), active[i].count});
        replace_file(work_dir / templates.back().file_name, species_template_pdb(molecule));
    }
    const std::filesystem::path script = work_dir / "pack.inp";
    replace_file(script, packmol_script(tolerance, box.edge, templates));

    // Packmol runs inside the working directory, and the script names its files
    // relative to it: Packmol reads paths up to the first blank.
    ProcessResult run;
    try {
        run = run_process({.program = "packmol",
                           .arguments = {},
                           .working_dir = work_dir,
                           .stdin_file = script,
                           .should_stop = should_stop});
    } catch (const LaunchError& e) {
        fail("failed to launch packmol (is it installed and on PATH?): ", system_text(e.error_number()));
    }
    if (run.exit_code != 0) box.note = packmol_exit_note(run.exit_code, run.out, run.err);

    const std::filesystem::path output = work_dir / "simbox.pdb";
    struct stat info{};
    if (::stat(output.c_str(), &info) != 0) {
        fail("packmol did not produce the expected output file ", display(output), box.note ? "\n" : "",
             box.note ? *box.note : "");
    }
    box.coords = parse_packed_pdb(output);
    if (box.coords.size() != expected_atoms) {
        fail("packmol output has ", box.coords.size(), " atoms, expected ", expected_atoms);
    }
    return box;
}

}  // namespace cellkit
