// Exact continuation: a run that goes on as if it had never stopped.
//
// Every run saves, beside its body-state file and with the same commit as
// the restart pair (at each snapshot instant and at the end), what a plain
// restart cannot rebuild: the whole flow state with its ghost values, the
// explicit terms and eddy viscosity, the frame terms of the previous step,
// the body's previous-step values, the outflow switches, the body history
// so far, the statistics sums and the driver's counters and schedules.
//
// A run continues that state only when its working directory holds the
// file "continue.inf" (one line: the name of the state file).  Without it
// nothing here is read and a restart is the new run it always was.
#pragma once

#include <string>
#include <vector>

#include "control/run.hpp"
#include "io/files.hpp"
#include "solver/solver.hpp"
#include "store/store.hpp"

namespace qv {

inline constexpr const char* kContinueInput = "continue.inf";

// The driver's own values that a continuation carries on.
struct RunCounters {
  int nxsnap = 0, nout = 0, itm2c = 0;
  double ref_speed = 0, dtmin = 0;
  std::string origin;  // the input field name of the chain's first run (14 columns)
  OutflowSwitches outflow;           // as the last operation that decides them left them
  bool history_full_warned = false;  // the full body history has been reported
};

// The state file saved beside nfile: "<nfile>.state".
std::string state_name(const std::string& nfile);

// The state file named by "continue.inf", or "" when there is none.  An
// unreadable or empty "continue.inf" is an input failure.
std::string continuation_request();

// The step number a state file was saved at (for the start-up checks).
int state_step(const std::string& name);

// Writes the state (with the set of the restart pair when given).  A state
// that cannot be written never costs the run its own files: the failure is
// warned about and the set goes on without it (a state left from an earlier
// instant no longer matches the pair, so it cannot be continued by mistake).
void save_state(const Store& s, const RunCounters& c, const std::string& name, std::vector<Staged>* set);

// Replaces the store's state and the counters by a saved state; refuses a
// state of another grid or one that does not belong to the restart field
// already read (its time and box must match).
void read_state(Store& s, RunCounters& c, const std::string& name);

}  // namespace qv
