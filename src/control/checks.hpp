// What a run of days checks before its first step, so that it never dies at
// its end, and the one check it makes every step: the blow-up bound.
// A refused value or set of files raises RunStop (status 2) naming the file
// and the reason; a file that is missing or must not be overwritten raises
// IoError with the file layer's message.
#pragma once

#include <string>

#include "control/run.hpp"
#include "store/store.hpp"

namespace qv {

// One run per directory: an exclusive lock on the working directory, held
// until the process ends (the system drops it on any exit, so a crash
// leaves nothing stale).  A second run is refused.
void lock_directory();
// Two runs never write one file: every file this run writes, its outputs
// and the files beside them, is locked by its real directory and name
// (io/locks.hpp) before anything is written or removed, and held until the
// process ends.  A file another live run holds is refused, named; where no
// lock can be had, a warning on standard error and the run goes on.
void lock_outputs(const RunFiles& f);

// Parameters that make a run meaningless, refused with their line and field
// of "quivel_vib8.inf" (and Vin, typed at the console, not finite): dt, Re, esp <= 0; omg outside (0, 2); Cs, ca1, ca2
// not finite; mass, inertia or beta <= 0, or a stiffness, damping ratio or
// start-up amplitude not finite, for a degree of freedom that moves.
void check_params(const Store& s);
// Values that have a meaning but are likely a slip, warned about on
// standard error: iyper, izper, ndof outside their listed kinds (any
// nonzero iyper or izper is non-periodic, an ndof outside 0..6 moves
// nothing), esp of 1 or more, nsmp < 0, ca1 or ca2 outside 0..1, and the
// run length `change_nt` of "change.inf" at or below 0.
void warn_params(const Store& s, int change_nt);

// Grid lines that are not finite or do not increase, refused with the axis
// and line numbers.
void check_grid_lines(const Store& s, const std::string& axisfile);
// A flag file without a single fluid cell, refused.
void check_flags(const Store& s, const std::string& flagfile);

// Every file the run writes: a name, in a directory that exists and may be
// written, not a directory itself; no two outputs the same file and no
// output an input (the restart pair may be rewritten in place: the input
// field file as the final file, nfile0 as nfile); snapshot names without
// duplicates; none of the statistics file and the snapshots the schedule
// reaches exists yet (those at or before step continued_from, which a
// continued run reached before, may).
void check_outputs(const Store& s, const RunFiles& f, int continued_from);

// Before the restart files are read: a commit of an earlier run that a
// crash interrupted is completed (so the pair is all old or all new), and
// the field and body-state files must be of this run's grid.
void check_restart_files(const Store& s, const RunFiles& f);

// Finishes an interrupted commit of this run's own end-of-run set (the
// renames its journal lists, of files an earlier run put aside).
void recover_outputs(const RunFiles& f);
// Removes the temporaries a killed run left beside the files this run
// writes.  Only after check_outputs has cleared every name it touches: an
// input is never removed.
void remove_temporaries(const RunFiles& f);

// A body history or statistics saved at a snapshot instant by a killed run
// that this run would overwrite (the same vfile or statfile name, as in a
// restart in place), refused: it is the only copy.
void check_saved_sets(const RunFiles& f);

// The name of the commit journal of the pair (final field, body state)
// whose body state is `nfile`, and of the body history and the statistics
// so far saved at snapshot instants beside `vfile` and `statfile`.
std::string journal_name(const std::string& nfile);
std::string saved_history_name(const std::string& vfile);
std::string saved_stats_name(const std::string& statfile);

// Blow-up: a velocity (uu, vv, ww over the blocks of the field file) or an
// eddy viscosity that is not finite, or a velocity beyond `bound` (checked
// only when bound > 0).  Returns the largest |velocity| in *umax and the
// first offending point in *where.  Reads the store only.
bool flow_within_bound(const Store& s, double bound, double* umax, std::string* where);
// The largest speed of a point of the body: its translation plus its turn
// at the farthest grid corner.
double body_speed(const Store& s);
// The speed scale of the case, fixed at start-up so that a diverging body
// cannot raise its own bound: the largest of |Vin|, the start-up field, the
// body's speed and the speed its springs can give it from its start state,
// and the speed of an imposed oscillation.
double reference_speed(const Store& s);
// After a step, before anything of it is written: the first value beyond
// a physical range, described with its bound, or "" when there is none.
// Velocities and the body speed beyond 100 x ref_speed; the pressure beyond
// what that speed can raise (its dynamic pressure, and an impulse of it
// across the box in one step); the loads beyond that pressure on the whole
// box surface.  Non-finite values always; the bounds only when ref_speed > 0.
std::string beyond_range(const Store& s, double ref_speed);
// The largest |velocity| in the field file blocks.
double largest_velocity(const Store& s);

}  // namespace qv
