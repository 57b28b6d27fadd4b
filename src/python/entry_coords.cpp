#include <string>
#include <utility>

#include "pipeline/coords_build.hpp"
#include "python/convert.hpp"
#include "python/entries.hpp"
#include "python/errors.hpp"
#include "python/released_gil.hpp"

namespace cellkit::py {
namespace {

constexpr Signature<9> kSignature{
    "OOOO|OOOOO:pack_from_coords_py",
    {"species", "counts", "coords", "box_len", "pair_style", "explicit_lb", "force_field", "out_dir", "lammps_input",
     nullptr},
};

constexpr const char kDoc[] =
    "pack_from_coords_py(species, counts, coords, box_len, pair_style=..., explicit_lb=False, force_field=..., "
    "out_dir=..., lammps_input=None)\n"
    "--\n"
    "\n"
    "Write LAMMPS files from **pre-computed** coordinates (used by the raspa path).\n"
    "\n"
    "Called by the package's Python RASPA3 packing function once\n"
    "`cellkit.raspa_init.pack_with_raspa3` has returned the equilibrated geometry.\n"
    "\n"
    "Args:\n"
    "    species: list of molecule JSON paths, one per species.\n"
    "    counts: number of molecules per species, same order.\n"
    "    coords: atom positions as [[x, y, z], ...] in species \u2192 molecule \u2192 atom\n"
    "        order; the length must equal the total atom count.\n"
    "    box_len: the box edge in \u00c5 (a cube), its three edges (x, y, z), or the edges\n"
    "        and the tilts of a tilted cell in LAMMPS's order (x, y, z, xy, xz, yz).\n"
    "    pair_style: pair-style preset for forcefield.lmp (PyPairSetup or None).\n"
    "    explicit_lb: write all Lorentz-Berthelot cross-pairs explicitly.\n"
    "    force_field: path to force_field.json.\n"
    "    out_dir: output directory for data.lmp and forcefield.lmp.\n"
    "    lammps_input: None, or (temperature in K, pressure in bar or None) to write\n"
    "        in.lammps as well: a starter input running NVT, or NPT at that pressure.\n"
    "\n"
    "Returns:\n"
    "    The build summary text.\n"
    "\n"
    "A C-contiguous float64 NumPy array of shape (N, 3) is read in place. The files\n"
    "are written with the interpreter lock released; Ctrl-C ends the write and\n"
    "raises KeyboardInterrupt without touching the output files.\n";

PyObject* pack_from_coords_py(PyObject* /*module*/, PyObject* args, PyObject* kwargs) {
    try {
        CoordsBuildArgs build;
        CoordRows coords;
        const bool converted = bind_and_convert(
            args, kwargs, kSignature, param(build.species, to_path_list), param(build.counts, to_u64_list),
            param(coords, to_coord_rows), param(build.box, to_box), param(build.pair_style, to_pair_setup),
            param(build.explicit_lb, to_flag), param(build.force_field, to_path), param(build.out_dir, to_path),
            param(build.starter, to_starter));
        if (!converted || !coords.check_shape()) {
            return nullptr;
        }
        build.coords = coords.rows();
        return summary_with_lock_released(
            [&](const StopCheck& stop) { return build_from_coords(std::move(build), stop); });
    } catch (...) {
        raise_current_exception();
        return nullptr;
    }
}

PyMethodDef methods[] = {
    {"pack_from_coords_py", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(pack_from_coords_py)),
     METH_VARARGS | METH_KEYWORDS, kDoc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

int add_pack_from_coords(PyObject* module) { return PyModule_AddFunctions(module, methods); }

}  // namespace cellkit::py
