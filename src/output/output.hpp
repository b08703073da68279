// Results: field files, snapshots, statistics, body files; the initial
// field, read beside the writer of its file.
#pragma once

#include <string>
#include <vector>

#include "io/files.hpp"
#include "solver/solver.hpp"
#include "store/blocks.hpp"
#include "store/store.hpp"

namespace qv {

class RecordWriter;

// Records 1 and 2 of the field files and the statistics file: the index
// box is..ke, then Re, Cs, dt, t and nt, iyper, izper, iter.
void write_header(RecordWriter& w, const Store& s);
// The same with `nt` in place of the run length.
void write_header(RecordWriter& w, const Store& s, int nt);

// Initial field: analytic start for "fffff", otherwise an earlier run's
// field file and body-state file; then inflow planes and boundary values.
// outflow receives the switches it leaves (all copied at an analytic start,
// all kept after a restart read).
void rdvelo(Store& s, const std::string& inputfile, const std::string& nfile0, OutflowSwitches& outflow);

// Every writer below puts its file in place whole (written aside, then
// renamed).  Given a set, the final field file and the body files are left
// aside in it for commit_staged, which renames the set together.

// The final field file: the latest complete flow state, replaced whole.
void write_final(Store& s, const std::string& finalfile, std::vector<Staged>* set = nullptr);

// A snapshot: the final-file layout with the modified pressure in record 6.
void write_snapshot(Store& s, const std::string& name);

// pm = pp - (2/3) nut^2 / (Ck^2 D^2) over is..ie, js..je-1, ks..ke-1.
void modified_pressure(Store& s);

// Statistics sums of this step; averages; the statistics file.
void stats_accumulate(Store& s);
void stats_average(Store& s, int steps);
// The statistics file must not exist; given a set, it is left aside in it.
void write_stats(Store& s, const std::string& statfile, std::vector<Staged>* set = nullptr);
// The statistics of the s.nn steps so far, in the layout of the statistics
// file with nt = s.nn, the sums left as they are (saved at snapshot
// instants; `name` already trimmed, replaced whole).
void write_stats_so_far(Store& s, const std::string& name, std::vector<Staged>* set = nullptr);

// Vibration history file and body state file.
void write_body_files(Store& s, const std::string& vfile, const std::string& nfile,
                      std::vector<Staged>* set = nullptr);
// Each of the two alone, without console lines (`name` already trimmed).
void write_history(Store& s, const std::string& name, std::vector<Staged>* set = nullptr);
void write_body_state(Store& s, const std::string& name, std::vector<Staged>* set = nullptr);

// Time-series file: started anew at t = 0; otherwise the console decides
// between appending (0) and starting anew (1).  Writes the header pair.
void initsout(Store& s, double t0);

// One time-series line.
void tsout(int nn, double t, double uin, double pfx, double pfy, double pft, double xdis, double ydis);

inline constexpr const char* kSeriesFile = "DAT/quivel_vib8.ts";

}  // namespace qv
