#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>

#include "body/body.hpp"
#include "control/checks.hpp"
#include "control/continuation.hpp"
#include "control/run.hpp"
#include "io/console.hpp"
#include "io/files.hpp"
#include "output/output.hpp"
#include "output/probes.hpp"
#include "solver/solver.hpp"
#include "store/input.hpp"

namespace qv {
namespace {

// The signals that end the run after the step in progress, with its
// end-of-run files: a terminal's and those a batch system sends before it
// kills (CPU limit, user signals, an alarm).
const int kEndSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGXCPU, SIGUSR1, SIGUSR2, SIGALRM};
volatile std::sig_atomic_t g_signal = 0;  // the one of kEndSignals received
extern "C" void on_signal(int sig) { g_signal = sig; }

const char* const kBanner[] = {
    " 8/16/13 ***** vfile format changed to formatted",
    " 8/20/13 initsout,tsout to text out time series",
    " 8/27/13 main,rdvelo: common/inflow/Vin",
    "                set inflow vel to Vin",
    " 8/29/13   text out vib in tsout",
    " 8/30/13 uvwbdy: duc=0 for fixed body case",
    " 8/31/13 uvwbdy: set vv(,je,)=vv(,js,) for iyper=0",
    "                 set vv(,je,)=vv(,js,)=0 otherwise",
    "         rdvelo: remove pp(is,j,k),pp(is-1,j,k)=0",
    "         hsmac2: remove pp(is,j,k)=0",
    "         prsbdy: subtract pp(is,je/2,ke/2) from all pp",
    " enter inflow velocity, Vin",
};

// What the run will need later, checked before the first step: a run of
// days must not die at its end for a missing directory or an existing file.
void preflight(const Store& s, const RunFiles& f, int continued_from) {
  if (!dir_exists("DAT")) io_fail("file not found", unit::series, kSeriesFile);
  read_esp2_file();
  const int change_nt = read_change_file();
  warn_params(s, change_nt);
  check_history(s, change_nt);
  check_outputs(s, f, continued_from);
}

// The change file once the loop runs: a read failure warns and keeps nt.
void change_file(Store& s, double dtmin) {
  try {
    rdchange(s, dtmin);
  } catch (const IoError& e) {
    warn(std::string(e.what()) + "; keeping nt = " + std::to_string(s.run.nt));
    rdchange_report(s, dtmin);
  }
}

// Temporaries of a set that will not be committed are removed.
struct StagedSet {
  std::vector<Staged> files;
  ~StagedSet() {
    for (const Staged& p : files) std::remove(p.part.c_str());
  }
};

// At a snapshot instant: the final field file, the body state, the body
// history and the statistics so far, put in place together, so a run
// killed later restarts from a matching pair and loses neither history nor
// statistics before this instant.
void save_restart_point(Store& s, const RunFiles& f, const RunCounters& c) {
  StagedSet set;
  write_final(s, f.finalfile, &set.files);
  save_state(s, c, state_name(f.nfile), &set.files);
  write_body_state(s, fmt::trim_name(f.nfile), &set.files);
  write_history(s, saved_history_name(f.vfile), &set.files);
  write_stats_so_far(s, saved_stats_name(f.statfile), &set.files);
  commit_staged(set.files, journal_name(f.nfile));
}

// A step whose pressure iteration stopped at its limit, on standard error:
// each of the first ten, then every hundredth with the count so far.
void report_iteration_limit(const Store& s, int count) {
  if (count > 10 && count % 100 != 0) return;
  warn("the pressure iteration of step " + std::to_string(s.run.nn) + " stopped at its limit of " +
       std::to_string(kIterLimit) + " passes without reaching its tolerance (" + std::to_string(count) +
       (count == 1 ? " step" : " steps") + " so far" + (count == 10 ? "; from here on every 100th is reported" : "") +
       ")");
}

}  // namespace

int run_program() {
  Store s;
  RunFiles f;
  double dtmin = 0;
  StepFiles step_files;  // fort.1, fort.2, iter.dat
  ToleranceFile tolerance;

  // A closed standard output must not end the run (its writes just fail),
  // and a file-size limit makes the write fail with its message.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  lock_directory();

  // ---- start-up
  for (const char* line : kBanner) say(std::string(line));
  s.run.Vin = ask_real();
  s.grid.is = s.grid.js = s.grid.ks = 3;
  s.run.t = 0;
  rdparm(s, f);
  check_limits(s, f);
  check_params(s);
  lock_outputs(f);
  recover_outputs(f);
  // An exact continuation is asked for by "continue.inf" alone.
  const std::string state_in = continuation_request();
  const bool continuing = !state_in.empty();
  const int continued_from = continuing ? state_step(state_in) : 0;  // the step the state was saved at
  preflight(s, f, continued_from);
  remove_temporaries(f);
  check_saved_sets(f);
  check_restart_files(s, f);
  s.allocate();
  initarr(s);
  rdaxis(s, f.axisfile);
  check_grid_lines(s, f.axisfile);
  rdflag(s, f.flagfile);
  check_flags(s, f.flagfile);
  RunCounters c;  // and the outflow switches, which the operations below set
  rdvelo(s, f.inputfile, f.nfile0, c.outflow);
  c.origin = f.inputfile;
  if (continuing) {
    read_state(s, c, state_in);
    dtmin = c.dtmin;
    step_files.continue_lines();
    if (!file_exists(kSeriesFile)) io_fail("file not found", unit::series, kSeriesFile);
  }
  if (fresh_start(f.inputfile)) hsmac2(s, tolerance.read(false), dtmin, step_files, c.outflow);
  Probes probes = probes_start(s, continuing);
  say(fmt::Line() << "dt=" << s.run.dt);
  say(fmt::Line() << "T =" << s.run.t);
  int& nxsnap = c.nxsnap;
  int& nout = c.nout;
  int& itm2c = c.itm2c;
  int nn2 = 0;
  // Blow-up bound: 100 times the largest speed the case has shown (Vin, the
  // start-up field, the body).
  double& ref_speed = c.ref_speed;
  if (continuing) {
    // the time series, the history and the schedules go on where they were
    say(fmt::Line() << "continuing exactly after step" << s.run.nn << "from" << state_in);
  } else {
    nxsnap = f.ifc;
    nout = 0;
    s.run.nn = 0;
    initsout(s, s.run.t);
    s.body.nsnext = s.body.nsmp;
    s.body.nsample = 0;
    itm2c = 0;
    ref_speed = reference_speed(s);
  }

  for (int sig : kEndSignals) std::signal(sig, on_signal);
  std::string failure;  // a write that failed in the loop: the run ends there
  int failure_status = 2;
  int limit_steps = 0;   // steps whose pressure iteration ended at its limit

  // ---- time-step loop
  for (;;) {
    s.run.nn = s.run.nn + 1;
    s.run.t = s.run.t + s.run.dt;
    shift_history(s);
    momentum_terms(s);
    advance_velocity(s, c.origin, step_files, c.outflow);
    hsmac2(s, tolerance.read(true), dtmin, step_files, c.outflow);
    subgrid_viscosity(s);
    calfrm(s);
    if (!calvib(s) && !c.history_full_warned) {
      c.history_full_warned = true;
      warn("the body history cannot grow beyond " + std::to_string(s.body.nsample) + " samples (step " +
           std::to_string(s.run.nn) + "); sampling stops");
    }
    if (s.run.iter > kIterLimit) report_iteration_limit(s, ++limit_steps);
    {
      const std::string where = beyond_range(s, ref_speed);
      if (!where.empty())
        throw RunStop("the flow has blown up at step " + std::to_string(s.run.nn) + ": " + where +
                          "; the final field file and body state of the last snapshot instant are kept",
                      4);
    }
    if (!step_files.failure().empty() && failure.empty()) {
      failure = step_files.failure();
      warn(failure + "; the run ends after step " + std::to_string(s.run.nn) + " with its end-of-run files");
    }
    nn2 = s.run.nn / 2;
    itm2c = itm2c + 1;
    say(fmt::Line() << "itm2c nn2 nn =" << itm2c << nn2 << s.run.nn);

    try {
      change_file(s, dtmin);
      stats_accumulate(s);
      // the time-series row first: a set saved at this instant never lacks it
      if (s.run.nn % 10 == 0)
        tsout(s.run.nn, s.run.t, s.flow.uu.value_or_zero(s.grid.is + 1, s.grid.je / 2, s.grid.ke / 2), s.body.pf.x,
              s.body.pf.y, s.body.pf.t, s.body.dis.x, s.body.dis.y);
      if (s.run.nn == nxsnap) {
        nout = nout + 1;
        if (nout <= f.nfl) {
          try {
            write_snapshot(s, f.fname[static_cast<std::size_t>(nout)]);
          } catch (const IoError& e) {
            warn(std::string(e.what()) + "; snapshot " + std::to_string(nout) + " skipped, the run goes on");
          }
          c.dtmin = dtmin;
          save_restart_point(s, f, c);
        }
        nxsnap = nxsnap + f.ifc;
      }
      probes_sample(s, probes);
    } catch (const IoError& e) {
      if (failure.empty()) failure = e.what();
      warn(std::string(e.what()) + "; the run ends after step " + std::to_string(s.run.nn) +
           " with its end-of-run files");
    } catch (const std::exception& e) {
      // anything else (memory, say) ends the run the same way, status 3
      if (failure.empty())
        failure = std::string("the run failed at step ") + std::to_string(s.run.nn) + ": " + e.what();
      failure_status = 3;
      warn(failure + "; the run ends with its end-of-run files");
    }
    say(fmt::Line() << "nn = " << s.run.nn);
    if (s.run.nn >= s.run.nt || g_signal != 0 || !failure.empty()) break;
  }

  // ---- end of run: the final field file, the statistics file, the body
  // state and the body history are put in place as one set.  A run
  // stopped early records the steps it made, the count its statistics
  // average over, so that a chain joins its segments by their true lengths.
  if (g_signal != 0 || !failure.empty()) s.run.nt = s.run.nn;
  {
    StagedSet set;
    write_final(s, f.finalfile, &set.files);
    c.dtmin = dtmin;
    save_state(s, c, state_name(f.nfile), &set.files);  // the sums before they are averaged
    stats_average(s, s.run.nn);
    std::string stats_failure;
    try {
      write_stats(s, f.statfile, &set.files);
    } catch (const IoError& e) {
      stats_failure = e.what();
    }
    write_body_files(s, f.vfile, f.nfile, &set.files);
    commit_staged(set.files, journal_name(f.nfile));
    std::remove(saved_history_name(f.vfile).c_str());
    std::remove(saved_stats_name(f.statfile).c_str());
    if (!stats_failure.empty()) throw IoError(stats_failure);
  }
  if (!failure.empty()) {
    if (failure_status != 2) throw RunStop(failure, failure_status);
    throw IoError(failure);
  }
  if (g_signal != 0) {
    say(fmt::Line() << "run interrupted by signal" << static_cast<int>(g_signal) << " after step" << s.run.nn
                    << "; end-of-run files written");
    return 128 + g_signal;
  }
  return 0;
}

}  // namespace qv
