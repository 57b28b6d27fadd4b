#include <cstdint>
#include <string>

#include "pipeline/packmol_build.hpp"
#include "python/convert.hpp"
#include "python/entries.hpp"
#include "python/errors.hpp"
#include "python/released_gil.hpp"

namespace cellkit::py {
namespace {

constexpr Signature<14> kSignature{
    "OOO|OOOOOOOOOOO:pack_packmol_py",
    {"species", "counts", "density", "pair_style", "explicit_lb", "force_field", "out_dir", "tolerance", "lammps_input",
     "aspect", "box", "vacuum", "layers", "seed", nullptr},
};

constexpr const char kDoc[] =
    "pack_packmol_py(species, counts, density, pair_style=..., explicit_lb=False, force_field=..., out_dir=..., "
    "tolerance=2.0, lammps_input=None, aspect=None, box=None, vacuum=0.0, layers=None, seed=1234567)\n"
    "--\n"
    "\n"
    "Pack with Packmol and write LAMMPS files.\n"
    "\n"
    "Called by the package's Python function `cellkit.pack.packmol`.\n"
    "\n"
    "Args:\n"
    "    species: list of molecule JSON paths, one per species.\n"
    "    counts: number of molecules per species, same order.\n"
    "    density: target mass density in kg/m\u00b3, or None with `box` or `layers`.\n"
    "    pair_style: pair-style preset for forcefield.lmp (PyPairSetup or None).\n"
    "    explicit_lb: write all Lorentz-Berthelot cross-pairs explicitly.\n"
    "    force_field: path to force_field.json.\n"
    "    out_dir: output directory for data.lmp and forcefield.lmp.\n"
    "    tolerance: Packmol's minimum distance between molecules, \u00c5.\n"
    "    lammps_input: None, or (temperature in K, pressure in bar or None) to write\n"
    "        in.lammps as well: a starter input running NVT, or NPT at that pressure.\n"
    "    aspect: the liquid's edge ratios along x, y and z (a cube when None); its\n"
    "        edges follow from the mass and the density.\n"
    "    box: the box's three edges in \u00c5 instead of a density, which then follows.\n"
    "    vacuum: \u00c5 of vacuum along z, half below and half above the liquid (a slab).\n"
    "    layers: None, or (number of species, density) per layer: the species, in order,\n"
    "        stacked along z in layers that each fill the x-y section.\n"
    "    seed: where Packmol's random numbers start (0 to 2147483647; its own default).\n"
    "\n"
    "Returns:\n"
    "    The build summary text.\n"
    "\n"
    "Packmol runs with the interpreter lock released; Ctrl-C ends it and\n"
    "raises KeyboardInterrupt without touching the output files.\n";

PyObject* pack_packmol_py(PyObject* /*module*/, PyObject* args, PyObject* kwargs) {
    try {
        PackCommonArgs common;
        double tolerance = 2.0;
        const bool converted = bind_and_convert(
            args, kwargs, kSignature, param(common.species, to_path_list), param(common.counts, to_u64_list),
            param(common.shape.density, to_optional_double), param(common.pair_style, to_pair_setup),
            param(common.explicit_lb, to_flag), param(common.force_field, to_path), param(common.out_dir, to_path),
            param(tolerance, to_double), param(common.starter, to_starter),
            param(common.shape.aspect, to_optional_vec3), param(common.shape.edges, to_optional_vec3),
            param(common.shape.vacuum, to_double), param(common.shape.layers, to_layers), param(common.seed, to_u64));
        if (!converted) {
            return nullptr;
        }
        return summary_with_lock_released(
            [&](const StopCheck& stop) { return run_pack_packmol(common, tolerance, stop); });
    } catch (...) {
        raise_current_exception();
        return nullptr;
    }
}

constexpr Signature<17> kSubBoxSignature{
    "OOO|OOOOOOOOOOOOOO:_pack_packmol_sub_boxes_py",
    {"species", "counts", "density", "pair_style", "explicit_lb", "force_field", "out_dir", "tolerance", "grid", "jobs",
     "lammps_input", "aspect", "box", "vacuum", "layers", "seed", "progress", nullptr},
};

constexpr const char kSubBoxDoc[] =
    "_pack_packmol_sub_boxes_py(species, counts, density, pair_style=..., explicit_lb=False, force_field=..., "
    "out_dir=..., tolerance=2.0, grid=(), jobs=0, lammps_input=None, aspect=None, box=None, vacuum=0.0, "
    "layers=None, seed=1234567, progress=None)\n"
    "--\n"
    "\n"
    "Pack with Packmol in sub-boxes, several Packmol runs at once, and write LAMMPS files.\n"
    "\n"
    "Private: called by cellkit._parallel.pack_packmol, which chooses between this and\n"
    "pack_packmol_py. The arguments but grid and jobs are pack_packmol_py's; the box\n"
    "and the tolerance are those of the single run. A slab or layers take the single run.\n"
    "\n"
    "Args:\n"
    "    grid: sub-boxes along x, y and z, each 1 or even; empty chooses the grid that\n"
    "        packs fastest on `jobs` runs at once ((1, 1, 1), the single run, for small boxes).\n"
    "    jobs: Packmol runs at once; 0 means one per core this process may use.\n"
    "    seed: the first sub-box's seed; the others count on from it.\n"
    "    progress: None, or a callable given a line (str) saying how the box is cut,\n"
    "        then one as each sub-box is packed; an exception it raises ends the build.\n"
    "\n"
    "Returns:\n"
    "    The build summary text; each sub-box whose Packmol exited unsuccessfully\n"
    "    with a usable box adds a warning line naming it.\n";

PyObject* pack_packmol_sub_boxes_py(PyObject* /*module*/, PyObject* args, PyObject* kwargs) {
    try {
        PackCommonArgs common;
        double tolerance = 2.0;
        std::uint64_t jobs = 0;
        std::vector<std::uint64_t> grid;
        PyObject* progress = Py_None;
        const bool converted = bind_and_convert(
            args, kwargs, kSubBoxSignature, param(common.species, to_path_list), param(common.counts, to_u64_list),
            param(common.shape.density, to_optional_double), param(common.pair_style, to_pair_setup),
            param(common.explicit_lb, to_flag), param(common.force_field, to_path), param(common.out_dir, to_path),
            param(tolerance, to_double), param(grid, to_u64_list), param(jobs, to_u64),
            param(common.starter, to_starter), param(common.shape.aspect, to_optional_vec3),
            param(common.shape.edges, to_optional_vec3), param(common.shape.vacuum, to_double),
            param(common.shape.layers, to_layers), param(common.seed, to_u64), param(progress, to_callable));
        if (!converted) {
            return nullptr;
        }
        return summary_with_lock_released(progress, [&](const StopCheck& stop, ProgressReport report) {
            const SubBoxSplit split{.grid = std::move(grid), .jobs = jobs, .progress = std::move(report)};
            return run_pack_packmol_sub_boxes(common, tolerance, split, stop);
        });
    } catch (...) {
        raise_current_exception();
        return nullptr;
    }
}

PyMethodDef methods[] = {
    {"pack_packmol_py", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(pack_packmol_py)),
     METH_VARARGS | METH_KEYWORDS, kDoc},
    {"_pack_packmol_sub_boxes_py",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(pack_packmol_sub_boxes_py)),
     METH_VARARGS | METH_KEYWORDS, kSubBoxDoc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

int add_pack_packmol(PyObject* module) {
    return PyModule_AddFunctions(module, methods);
}

}  // namespace cellkit::py
