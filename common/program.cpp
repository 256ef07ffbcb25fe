#include "common/program.h"

#include <malloc.h>
#include <pthread.h>

#include <cstddef>
#include <iostream>
#include <new>
#include <stdexcept>
#include <system_error>

#include "common/diagnostics.h"
#include "common/output_file.h"

namespace {

// The stack of each thread that a program starts: its threads keep their data on the heap
// and call nothing deep, so half a megabyte is plenty.
constexpr std::size_t kThreadStackBytes = std::size_t{512} << 10;

// Keeps the address space near the resident memory, whatever the number of threads, for
// batch systems that cap virtual memory: one malloc arena for all threads instead of one
// reserving 64 MB (128 MB while it is made) per thread, and thread stacks of half a megabyte
// instead of the stack limit (8 MB, or 32 MB when unlimited). The threads allocate little
// after they start (their buffers are reused), so they hardly wait on the one arena.
void BoundAddressSpace() {
  ::mallopt(M_ARENA_MAX, 1);
  pthread_attr_t attributes;
  if (::pthread_getattr_default_np(&attributes) != 0) return;
  std::size_t stack_bytes = 0;
  if (::pthread_attr_getstacksize(&attributes, &stack_bytes) == 0 &&
      stack_bytes > kThreadStackBytes) {
    ::pthread_attr_setstacksize(&attributes, kThreadStackBytes);
    ::pthread_setattr_default_np(&attributes);
  }
  ::pthread_attr_destroy(&attributes);
}

}  // namespace

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
  BoundAddressSpace();
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
