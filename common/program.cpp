#include "common/program.h"

#include <iostream>
#include <new>
#include <stdexcept>
#include <system_error>

#include "common/diagnostics.h"
#include "common/output_file.h"

int RunProgram(const ProgramFace& face, const std::vector<std::string>& args,
               const ProgramRun& run) {
  if (args.empty() || (args.size() == 1 && (args[0] == "--help" || args[0] == "-h"))) {
    face.write_usage(std::cout);
    return 0;
  }
  if (args.size() == 1 && args[0] == "--version") {
    std::cout << face.name << ' ' << MOTIF_WORKFLOW_VERSION << std::endl;
    return 0;
  }
  if (args.size() < face.positional_arguments) {
    face.write_usage(std::cerr);
    return 1;
  }
  KeepRunningWhenPipesClose();
  RunPlace place;
  place.file_name = &args[0];
  // Caught here, the failures unwind the run first: every output still open is abandoned
  // by its destructor, and its temporary file removed.
  try {
    return run(args, place);
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  } catch (const std::system_error& error) {
    PrintThreadStartFailed(face.name, error.code().message());
    return 1;
  }
  PrintOutOfMemory(*place.file_name, place.activity);
  return 1;
}
