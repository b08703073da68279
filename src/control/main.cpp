// quivel_vib8: LES of flow past an elastically supported bluff body.
// Runs in the current directory; takes no arguments.  `--version` alone
// prints the git description of the tree it was built from.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "control/run.hpp"
#include "io/files.hpp"
#include "qv_version.hpp"
#include "solver/solver.hpp"

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("quivel_vib8 %s\n", QV_VERSION);
    return 0;
  }
  // A standard stream started closed is opened on /dev/null, so that no
  // file the run opens takes its number and receives the console.
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd)
      return 2;
  try {
    const int status = qv::run_program();
    std::fflush(stdout);
    return status;
  } catch (const qv::IoError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  } catch (const qv::RunStop& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "run stopped: %s\n", e.what());
    return e.status();
  } catch (const qv::BlowUp& b) {
    std::fflush(stdout);
    std::fprintf(stderr,
                 "run stopped: the divergence is no longer finite at step %d (the flow has blown up);"
                 " the final field file was not overwritten\n",
                 b.nn);
    return 4;
  } catch (const std::bad_alloc&) {
    // memory that runs out before the loop (the store of a grid too large
    // for the machine): a message and status 3, not an abort
    std::fflush(stdout);
    std::fprintf(stderr, "run stopped: out of memory\n");
    return 3;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "run stopped: %s\n", e.what());
    return 3;
  }
}
