#include "raspa/raspa3_pack.hpp"

#include "common/error.hpp"
#include "common/file_io.hpp"
#include "common/number_format.hpp"
#include "common/process.hpp"
#include "common/utf8.hpp"

namespace cellkit {

using fmt::cat;

// The arguments file is read as bytes so that its UTF-8 does not depend on the locale. A refusal
// or failure that the run explains comes back as its own words, in the result file, not as a
// traceback; anything else (a fault of the script itself) keeps Python's traceback. Warnings are
// printed on the standard output, which comes back as the summary's note.
const char* const raspa3_script =
    "import json, sys, warnings\n"
    "warnings.showwarning = lambda message, *rest, **named: print(message)\n"
    "try:\n"
    "    from cellkit.raspa_init import pack_with_raspa3\n"
    "    box_len, coords = pack_with_raspa3(**json.load(open(sys.argv[1], 'rb')))\n"
    "except (ImportError, OSError, ValueError, RuntimeError) as e:\n"
    "    json.dump({'error': str(e)}, open(sys.argv[2], 'w'))\n"
    "    sys.exit(3)\n"
    "json.dump({'box_len': box_len, 'coords': coords}, open(sys.argv[2], 'w'))\n";

Raspa3Box raspa3_pack_subprocess(const std::filesystem::path& work_dir,
                                 const std::vector<std::filesystem::path>& species,
                                 const std::vector<std::uint64_t>& counts, const std::filesystem::path& force_field,
                                 double density, const Raspa3Settings& settings, const StopCheck& should_stop,
                                 const Raspa3Templates& templates) {
    // Absolute, because the script runs in the caller's directory, not in the working one.
    const std::filesystem::path dir = std::filesystem::absolute(work_dir);
    const std::filesystem::path args_file = dir / "raspa3_args.json";
    const std::filesystem::path result_file = dir / "raspa3_result.json";
    replace_file(args_file, raspa3_args_json(species, counts, force_field, density, settings, templates),
                 "writing raspa3 args file");

    ProcessRequest request{.program = "python",
                           .arguments = {"-c", raspa3_script, args_file.native(), result_file.native()},
                           .working_dir = {},  // the caller's: a path that could not be made absolute is relative to it
                           .stdin_file = {},
                           .should_stop = should_stop};
    ProcessResult run;
    try {
        run = run_process(request);
    } catch (const LaunchError&) {
        request.program = "python3";
        try {
            run = run_process(request);
        } catch (const LaunchError& e) {
            fail("failed to launch python for raspa init (is python/python3 on PATH with cellkit installed?): ",
                 system_text(e.error_number()));
        }
    }
    if (run.exit_code == 3 && std::filesystem::exists(result_file)) {  // a refusal, told in the result file
        if (auto refusal = raspa3_refusal(read_text_file(result_file, "reading raspa result"))) fail(*refusal);
    }
    if (run.exit_code != 0) {
        fail("raspa NVT init failed (exited ", exit_status_text(run.exit_code), "):\nstdout:\n", utf8_lossy(run.out),
             "\nstderr:\n", utf8_lossy(run.err));
    }
    const std::string printed = utf8_lossy(run.out);
    const std::string_view trimmed = trim_unicode_space(printed);

    Raspa3Box box = parse_raspa3_result(read_text_file(result_file, "reading raspa result"));
    if (!trimmed.empty()) box.note = cat("raspa output: ", trimmed);
    return box;
}

}  // namespace cellkit
