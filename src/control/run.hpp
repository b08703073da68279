// What the run driver owns: the file names of the parameter file and the
// snapshot schedule of the file-name list.
#pragma once

#include <string>
#include <vector>

#include "solver/solver.hpp"
#include "store/store.hpp"

namespace qv {

inline constexpr int kMaxNames = 100;

struct RunFiles {
  // 14-character fields as read (blank-padded); use fmt::trim_name to open.
  std::string axisfile, flagfile, inputfile, finalfile, statfile;
  std::string nfile0, nfile, vfile;
  std::vector<std::string> fname;
  int ifc = 0, nfl = 0;
};

// Reads "quivel_vib8.inf" and "quivel_vib8.fil", derives the index bounds
// and damping coefficients, echoes everything.
void rdparm(Store& s, RunFiles& f);

// Reads "esp2.inf" and "change.inf" (the run length nt); failures raise
// IoError.  So do values that would make the run meaningless, naming the
// value and the file: ic3 below 2, sesp not positive, a count beyond the
// 32-bit range.  At start-up that refuses the run; in the loop the caller
// warns and keeps the values read last.
ToleranceRamp read_esp2_file();
int read_change_file();

// "esp2.inf" read afresh for each pressure iteration.  Once the loop runs
// (tolerant), a failure or a bad value warns and the ramp read last stays
// in force.
class ToleranceFile {
 public:
  ToleranceRamp read(bool tolerant);

 private:
  ToleranceRamp last_;
  bool read_ = false;
};

// Re-reads the run length from "change.inf" and rewrites "change.out".
void rdchange(Store& s, double dtmin);
// Rewrites "change.out" alone.
void rdchange_report(const Store& s, double dtmin);

// Refuses, before anything is read beyond the parameters, what the store
// cannot hold or a grid without cells (grid counts below 2).
void check_limits(const Store& s, const RunFiles& f);
// True when a run of `nt` steps keeps every body-history sample.
bool history_fits(const Store& s, int nt);
// Refuses a run whose body history would outgrow its record, by the nt of
// the parameter file or by `change_nt`, the one "change.inf" holds now.
void check_history(const Store& s, int change_nt);

// The whole run: start-up, time-step loop, end of run.  Returns the exit status.
int run_program();

}  // namespace qv
