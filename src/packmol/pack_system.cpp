#include "packmol/pack_system.hpp"

#include <sys/stat.h>

#include <array>
#include <charconv>
#include <cmath>
#include <new>

#include "common/error.hpp"
#include "common/file_io.hpp"
#include "common/number_format.hpp"
#include "common/utf8.hpp"
#include "packmol/first_guess.hpp"
#include "packmol/packed_pdb.hpp"
#include "packmol/packmol_log.hpp"

namespace cellkit {

using fmt::cat;

namespace {

// The major and minor number of "Version 21.2.3" in Packmol's banner, if it prints one.
std::optional<std::array<int, 2>> packmol_version(const std::string& out) {
    const std::size_t at = out.find("Version ");
    if (at == std::string::npos) return std::nullopt;
    std::array<int, 2> version{};
    const char* p = out.data() + at + 8;
    const char* end = out.data() + out.size();
    for (int part = 0; part < 2; ++part) {
        const auto [next, error] = std::from_chars(p, end, version[part]);
        if (error != std::errc()) return std::nullopt;
        p = next;
        if (part == 0 && (p == end || *p++ != '.')) return std::nullopt;
    }
    return version;
}

}  // namespace

ProcessRequest write_packmol_run(const std::filesystem::path& dir, const ActiveSpeciesList& active,
                                 const std::vector<std::uint64_t>& counts, const Vec3& box,
                                 const std::vector<PackRegion>& regions, double tolerance,
                                 std::optional<std::uint64_t> seed, const std::vector<Vec3>& obstacles,
                                 const StopCheck& should_stop) {
    std::vector<SpeciesTemplate> templates;
    std::vector<GuessSpecies> guessed;
    for (std::size_t i = 0; i < active.size(); ++i) {
        if (counts[i] == 0) continue;
        const Molecule& molecule = *active[i].resolved.molecule;
        templates.push_back({.file_name = template_file_name(i, molecule.name),
                             .count = counts[i],
                             .region = regions[i],
                             .restart_file = cat("species_", i, ".start")});
        replace_file(dir / templates.back().file_name, species_template_pdb(molecule));
        GuessSpecies& g = guessed.emplace_back(GuessSpecies{.atoms = {}, .count = counts[i], .region = regions[i]});
        for (const PseudoAtom& atom : molecule.pseudo_atoms) g.atoms.push_back(atom.position);
    }
    std::vector<std::vector<Placement>> starts;
    try {
        starts = first_guesses(guessed, box, tolerance, obstacles, seed.value_or(default_seed), should_stop);
    } catch (const std::bad_alloc&) {
        std::uint64_t molecules = 0;
        for (const GuessSpecies& g : guessed) molecules += g.count;
        fail("placing ", molecules, " molecules for Packmol needs more memory than this machine gives");
    }
    for (std::size_t t = 0; t < templates.size(); ++t) {
        if (starts[t].empty()) {
            templates[t].restart_file.clear();
        } else {
            replace_file(dir / templates[t].restart_file, packmol_restart(starts[t]));
        }
    }
    if (!obstacles.empty()) replace_file(dir / obstacles_file_name, obstacles_pdb(obstacles));
    const std::filesystem::path script = dir / "pack.inp";
    replace_file(script, packmol_script(tolerance, box, templates, seed, !obstacles.empty()));
    // Packmol runs inside the folder, and the script names its files relative
    // to it: Packmol reads paths up to the first blank.
    return {
        .program = "packmol", .arguments = {}, .working_dir = dir, .stdin_file = script, .should_stop = should_stop};
}

void fail_packmol_launch(const LaunchError& e) {
    fail("failed to launch packmol (is it installed and on PATH?): ", system_text(e.error_number()));
}

PackmolOutput read_packmol_output(const std::filesystem::path& dir, const ProcessResult& run,
                                  std::uint64_t expected_atoms, std::uint64_t obstacles) {
    PackmolOutput result;
    if (const auto version = packmol_version(run.out); version && *version < std::array<int, 2>{20, 15}) {
        fail("packmol ", (*version)[0], ".", (*version)[1],
             " on PATH cannot pack a periodic box (Packmol has had pbc since 20.15), and a box packed with a margin "
             "at its faces is a fluid with vacuum between its periodic images: put a newer Packmol first on PATH, "
             "e.g. pip install packmol");
    }
    if (run.exit_code != 0) {
        result.note = packmol_brief(run.exit_code, run.out, run.err);
        result.log = packmol_log_text(run.exit_code, run.out, run.err);
    }
    const std::filesystem::path output = dir / "simbox.pdb";
    struct stat info{};
    if (::stat(output.c_str(), &info) != 0) {
        fail("packmol did not produce the expected output file ", display(output), result.note ? " (" : "",
             result.note ? *result.note : "", result.note ? ")" : "");
    }
    result.coords = parse_packed_pdb(output);
    if (result.coords.size() != expected_atoms + obstacles) {
        fail("packmol output has ", result.coords.size(), " atoms, expected ", expected_atoms + obstacles);
    }
    result.coords.resize(expected_atoms);
    return result;
}

PackedBox pack_system(const std::filesystem::path& work_dir, const ActiveSpeciesList& active, const ShapedBox& shaped,
                      double tolerance, std::uint64_t seed, const StopCheck& should_stop) {
    PackedBox box;
    const std::uint64_t expected_atoms = system_totals(active).atoms;
    std::vector<std::uint64_t> counts;
    std::vector<PackRegion> regions;
    for (std::size_t s = 0; s < active.size(); ++s) {
        counts.push_back(active[s].count);
        // A bulk liquid is packed across the periodic faces; a slab or a layer stays within its slice.
        regions.push_back(shaped.bulk ? whole_box_region(shaped.box.edges)
                                      : PackRegion{{0.0, 0.0, shaped.z_range[s][0]},
                                                   {shaped.box[0], shaped.box[1], shaped.z_range[s][1]}});
    }
    ProcessRequest request =
        write_packmol_run(work_dir, active, counts, shaped.box.edges, regions, tolerance, seed, {}, should_stop);
    ProcessResult run;
    try {
        run = run_process(request);
    } catch (const LaunchError& e) {
        fail_packmol_launch(e);
    }
    PackmolOutput output = read_packmol_output(work_dir, run, expected_atoms);
    box.coords = std::move(output.coords);
    box.note = std::move(output.note);
    box.log = std::move(output.log);
    return box;
}

}  // namespace cellkit
