#include <string>

#include "pipeline/raspa_build.hpp"
#include "python/convert.hpp"
#include "python/entries.hpp"
#include "python/errors.hpp"
#include "python/released_gil.hpp"

namespace cellkit::py {
namespace {

constexpr Signature<17> kSignature{
    "OOO|OOOOOOOOOOOOOO:pack_raspa_py",
    {"species", "counts", "density", "temperature", "init_cycles", "equil_cycles", "prod_cycles", "pair_style",
     "explicit_lb", "force_field", "out_dir", "lammps_input", "aspect", "box", "vacuum", "layers", "seed", nullptr},
};

constexpr const char kDoc[] =
    "pack_raspa_py(species, counts, density, temperature=300.0, init_cycles=1, equil_cycles=1, prod_cycles=1, "
    "pair_style=..., explicit_lb=False, force_field=..., out_dir=..., lammps_input=None, aspect=None, box=None, "
    "vacuum=0.0, layers=None, seed=1234567)\n"
    "--\n"
    "\n"
    "Pack with RASPA3 subprocess and write LAMMPS files.\n"
    "\n"
    "Called by the \"pack raspa\" command of the package's command-line tool.\n"
    "This wraps the raspa3_pack_subprocess call for Python users.\n"
    "\n"
    "Args:\n"
    "    species: list of molecule JSON paths, one per species.\n"
    "    counts: number of molecules per species, same order.\n"
    "    density: target mass density in kg/m\u00b3, passed to RASPA3; None with `box`.\n"
    "    temperature: temperature of the NVT runs in K.\n"
    "    init_cycles: RASPA3 initialisation cycles.\n"
    "    equil_cycles: RASPA3 equilibration cycles.\n"
    "    prod_cycles: RASPA3 production cycles.\n"
    "    pair_style: pair-style preset for forcefield.lmp (PyPairSetup or None).\n"
    "    explicit_lb: write all Lorentz-Berthelot cross-pairs explicitly.\n"
    "    force_field: path to force_field.json.\n"
    "    out_dir: output directory for data.lmp and forcefield.lmp.\n"
    "    lammps_input: None, or (temperature in K, pressure in bar or None) to write\n"
    "        in.lammps as well: a starter input running NVT, or NPT at that pressure.\n"
    "    aspect, box: as pack_packmol_py's: the box's edge ratios, or its edges in \u00c5.\n"
    "    vacuum, layers: refused with a message (the Packmol route builds slabs and layers).\n"
    "    seed: where RASPA3's random numbers start (0 to 2147483647).\n"
    "\n"
    "Returns:\n"
    "    The build summary text.\n"
    "\n"
    "RASPA3 runs in a `python` (else `python3`) subprocess that imports\n"
    "`cellkit.raspa_init`. The interpreter lock is released meanwhile; Ctrl-C\n"
    "ends the subprocess and raises KeyboardInterrupt without touching the\n"
    "output files.\n";

PyObject* pack_raspa_py(PyObject* /*module*/, PyObject* args, PyObject* kwargs) {
    try {
        PackCommonArgs common;
        Raspa3Settings settings;
        const bool converted = bind_and_convert(
            args, kwargs, kSignature, param(common.species, to_path_list), param(common.counts, to_u64_list),
            param(common.shape.density, to_optional_double), param(settings.temperature, to_double),
            param(settings.init_cycles, to_u64), param(settings.equil_cycles, to_u64),
            param(settings.prod_cycles, to_u64), param(common.pair_style, to_pair_setup),
            param(common.explicit_lb, to_flag), param(common.force_field, to_path), param(common.out_dir, to_path),
            param(common.starter, to_starter), param(common.shape.aspect, to_optional_vec3),
            param(common.shape.edges, to_optional_vec3), param(common.shape.vacuum, to_double),
            param(common.shape.layers, to_layers), param(common.seed, to_u64));
        if (!converted) {
            return nullptr;
        }
        return summary_with_lock_released(
            [&](const StopCheck& stop) { return run_pack_raspa(common, settings, stop); });
    } catch (...) {
        raise_current_exception();
        return nullptr;
    }
}

PyMethodDef methods[] = {
    {"pack_raspa_py", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(pack_raspa_py)),
     METH_VARARGS | METH_KEYWORDS, kDoc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

int add_pack_raspa(PyObject* module) {
    return PyModule_AddFunctions(module, methods);
}

}  // namespace cellkit::py
