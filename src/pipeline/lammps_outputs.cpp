#include "pipeline/lammps_outputs.hpp"

#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "common/directory_lock.hpp"
#include "common/error.hpp"
#include "common/file_io.hpp"
#include "common/number_format.hpp"
#include "lammps/data_file.hpp"
#include "lammps/forcefield_file.hpp"
#include "lammps/framework.hpp"
#include "lammps/model_mapping.hpp"
#include "lammps/preset_refusals.hpp"
#include "lammps/type_registry.hpp"

namespace cellkit {

using fmt::cat;

namespace {

void create_output_directory(const std::filesystem::path& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (!ec) return;
    // The system says only "File exists" when the directory, or one on its way, is a symbolic
    // link to nothing.
    std::filesystem::path prefix;
    for (const auto& part : dir) {
        prefix /= part;
        std::error_code ignored;
        if (std::filesystem::is_symlink(std::filesystem::symlink_status(prefix, ignored)) &&
            !std::filesystem::exists(prefix, ignored)) {
            fail("creating ", display(dir), ": ", display(prefix), " is a broken symbolic link (to ",
                 display(std::filesystem::read_symlink(prefix, ignored)), "); create its target or remove the link");
        }
    }
    fail("creating ", display(dir), ": ", ec.message());
}

}  // namespace

void check_output_directory(const std::filesystem::path& dir) {
    std::filesystem::path at = dir.empty() ? std::filesystem::path(".") : dir;
    std::error_code ec;
    // The nearest part of the path that exists: what must let the directories below it be made.
    while (!std::filesystem::exists(std::filesystem::symlink_status(at, ec))) {
        const std::filesystem::path parent = at.parent_path();
        at = parent.empty() ? std::filesystem::path(".") : parent;
        if (parent.empty()) break;
    }
    // A link to nothing is named by create_output_directory, which knows how to say it.
    if (!std::filesystem::exists(at, ec)) return;
    if (!std::filesystem::is_directory(at, ec)) {
        fail("cannot write into ", display(dir), ": ", display(at), " is not a directory");
    }
    if (::access(at.c_str(), W_OK | X_OK) != 0) sys_fail(cat("cannot write into ", display(dir)), errno);
}

BuildSummary write_lammps_outputs(OutputRequest request) {
    const TypeRegistries registries = build_type_registries(request.active, request.force_field);

    BuildSummary summary;
    summary.data_path = request.out_dir / "data.lmp";
    summary.forcefield_path = request.out_dir / "forcefield.lmp";
    // Whatever can refuse the build is checked before either file is touched, so a refused build
    // writes nothing. forcefield.lmp is small and composed whole; data.lmp streams to its file.
    check_data_file(request.active, request.coords, request.box);
    const std::string forcefield = generate_forcefield_file(request.force_field, registries, request.pair_style,
                                                            request.explicit_lb, request.box) +
                                   framework_block(request.active);
    std::string input;
    if (request.starter) {
        input = starter_input(request.active, registries, request.force_field, request.pair_style, *request.starter,
                              request.box);
        summary.input_path = request.out_dir / starter_input_name;
    }
    // Only a build that nothing refused makes its directory.
    if (!request.out_dir.empty()) create_output_directory(request.out_dir);
    {
        // Two builds into one directory take turns from the first write to the last rename, so the
        // files always come from one build.
        const DirectoryLock lock(request.out_dir.empty() ? std::filesystem::path(".") : request.out_dir);
        FileReplacement data(summary.data_path);
        FileReplacement forcefield_file(summary.forcefield_path);
        std::optional<FileReplacement> input_file, log_file;
        if (summary.input_path) input_file.emplace(*summary.input_path);
        if (request.packmol_log) log_file.emplace(request.out_dir / packmol_log_name);
        write_data_file(data, request.active, request.coords, registries, request.force_field, request.box,
                        {.threads = 0, .should_stop = request.should_stop});
        forcefield_file.write(forcefield);
        if (input_file) input_file->write(input);
        if (log_file) log_file->write(*request.packmol_log);
        // Every file is complete under a temporary name before any replaces its target.
        data.stage();
        forcefield_file.stage();
        if (input_file) input_file->stage();
        if (log_file) log_file->stage();
        data.commit();
        forcefield_file.commit();
        if (input_file) input_file->commit();
        if (log_file) log_file->commit();
    }

    const SystemTotals totals = system_totals(request.active);
    summary.skipped = std::move(request.skipped);
    summary.warnings = std::move(request.warnings);
    for (std::string& warning : preset_refusals(request.pair_style, request.active, registries, request.force_field)) {
        summary.warnings.push_back(std::move(warning));
    }
    for (std::string& warning :
         model_warnings(request.pair_style, request.force_field, request.active, registries, request.box)) {
        summary.warnings.push_back(std::move(warning));
    }
    if (!request.starter) {
        // An in.lammps of an earlier build, left beside files it no longer fits, would run something else.
        const std::filesystem::path input = request.out_dir / starter_input_name;
        std::error_code ec;
        if (std::filesystem::is_regular_file(input, ec)) {
            std::string text;
            try {
                text = read_text_file(input);
            } catch (const Error&) {
            }
            if (text.find(starter_header) != std::string::npos &&
                !starter_matches(text, request.active, registries, request.force_field, request.pair_style,
                                 request.box)) {
                summary.warnings.push_back(cat(display(input),
                                               " was written by cellkit for another build and "
                                               "does not fit the new files: rebuild with --lammps-input "
                                               "(lammps_input=True), or remove it"));
            }
        }
    }
    summary.extra_warning = std::move(request.extra_warning);
    summary.box = request.box;
    summary.layout = std::move(request.layout);
    summary.seed = request.seed;
    summary.n_atoms = totals.atoms;
    summary.n_bonds = totals.bonds;
    summary.n_angles = totals.angles;
    summary.n_dihedrals = totals.dihedrals;
    summary.n_atom_types = registries.atoms.size();
    summary.n_bond_types = registries.bonds.size();
    summary.n_angle_types = registries.angles.size();
    summary.n_dihedral_types = registries.dihedrals.size();
    summary.long_range_coulomb =
        has_long_range_coulomb(request.pair_style) ||
        (request.pair_style == PairSetup::ForceField && request.force_field.model.charges.value_or(true) &&
         !charged_types(registries, request.force_field).empty());
    return summary;
}

std::string to_text(const BuildSummary& s) {
    std::string out = cat("Wrote ", display(s.data_path), "\n", "Wrote ", display(s.forcefield_path), "\n");
    if (s.input_path) out.append(cat("Wrote ", display(*s.input_path), "\n"));
    out.append(cat("box: ", box_text(s.box), "  |  atoms: ", s.n_atoms, " (", s.n_atom_types,
                   " types)  bonds: ", s.n_bonds, " (", s.n_bond_types, " types)  angles: ", s.n_angles, " (",
                   s.n_angle_types, " types)  dihedrals: ", s.n_dihedrals, " (", s.n_dihedral_types, " types)\n"));
    if (!s.layout.empty()) out.append(cat(s.layout, "\n"));
    if (s.seed) out.append(cat("seed: ", *s.seed, "\n"));
    if (!s.skipped.empty()) {
        out.append("skipped (count 0): ");
        for (std::size_t i = 0; i < s.skipped.size(); ++i) out.append(i ? ", " : "").append(s.skipped[i]);
        out.push_back('\n');
    }
    for (const std::string& w : s.warnings) out.append(cat("warning: ", w, "\n"));
    if (s.extra_warning) out.append(cat("warning: ", *s.extra_warning, "\n"));
    if (s.long_range_coulomb) {
        out.append(
            "warning: Long-range Coulomb interaction solver in forcefield file might be adjusted to user "
            "preference.\n");
    }
    return out;
}

}  // namespace cellkit
