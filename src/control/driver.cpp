#include <csignal>

#include "body/body.hpp"
#include "control/console.hpp"
#include "control/files.hpp"
#include "control/run.hpp"
#include "output/output.hpp"
#include "output/probes.hpp"
#include "solver/solver.hpp"
#include "store/input.hpp"

namespace qv {
namespace {

volatile std::sig_atomic_t g_signal = 0;  // set by SIGTERM / SIGINT
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
void preflight(const Store& s, const RunFiles& f) {
  if (!dir_exists("DAT")) io_fail("file not found", unit::series, kSeriesFile);
  read_esp2_file();
  read_change_file();
  const std::string stat = fmt::trim_name(f.statfile);
  if (file_exists(stat) || dir_exists(stat)) io_fail("cannot overwrite existing file", unit::stats, stat);
  if (f.ifc > 0)
    for (int n = 1; n <= f.nfl && static_cast<long long>(n) * f.ifc <= s.nt; ++n) {
      const std::string name = fmt::trim_name(f.fname[static_cast<std::size_t>(n)]);
      if (file_exists(name) || dir_exists(name)) io_fail("cannot overwrite existing file", unit::snapshot, name);
    }
}

// The change file once the loop runs: a read failure warns and keeps nt.
void change_file(Store& s, double dtmin) {
  try {
    rdchange(s, dtmin);
  } catch (const IoError& e) {
    say(fmt::Line() << "warning: " << e.what() << "; keeping nt =" << s.nt);
    rdchange_report(s, dtmin);
  }
}

}  // namespace

int run_program() {
  Store s;
  RunFiles f;
  double dtmin = 0;

  // ---- start-up
  for (const char* line : kBanner) say(std::string(line));
  s.Vin = ask_real();
  s.is = s.js = s.ks = 3;
  s.t = 0;
  rdparm(s, f);
  check_limits(s, f);
  preflight(s, f);
  s.allocate();
  initarr(s);
  rdaxis(s, f.axisfile);
  rdflag(s, f.flagfile);
  rdvelo(s, f.inputfile, f.nfile0);
  if (fresh_start(f.inputfile)) hsmac2(s, dtmin);
  Probes probes = probes_start(s);
  say(fmt::Line() << "dt=" << s.dt);
  say(fmt::Line() << "T =" << s.t);
  int nxsnap = f.ifc, nout = 0;
  s.nn = 0;
  initsout(s, s.t);
  s.nsnext = s.nsmp;
  s.nsample = 0;
  int itm2c = 0, nn2 = 0;

  std::signal(SIGTERM, on_signal);
  std::signal(SIGINT, on_signal);
  s.tolerant_inputs = true;

  // ---- time-step loop
  for (;;) {
    s.nn = s.nn + 1;
    s.t = s.t + s.dt;
    shift_history(s);
    momentum_terms(s);
    advance_velocity(s, f.inputfile);
    hsmac2(s, dtmin);
    subgrid_viscosity(s);
    calfrm(s);
    calvib(s);
    nn2 = s.nn / 2;
    itm2c = itm2c + 1;
    say(fmt::Line() << "itm2c nn2 nn =" << itm2c << nn2 << s.nn);

    change_file(s, dtmin);
    stats_accumulate(s);
    if (s.nn == nxsnap) {
      nout = nout + 1;
      if (nout <= f.nfl) {
        write_snapshot(s, f.fname[static_cast<std::size_t>(nout)]);
        write_final(s, f.finalfile);
      }
      nxsnap = nxsnap + f.ifc;
    }
    if (s.nn % 10 == 0)
      tsout(s.nn, s.t, s.uu.value_or_zero(s.is + 1, s.je / 2, s.ke / 2), s.pfx, s.pfy, s.pft, s.xdis, s.ydis);
    probes_sample(s, probes);
    say(fmt::Line() << "nn = " << s.nn);
    if (s.nn >= s.nt || g_signal != 0) break;
  }

  // ---- end of run
  write_final(s, f.finalfile);
  stats_average(s, s.nn);
  write_stats(s, f.statfile);
  write_body_files(s, f.vfile, f.nfile);
  if (g_signal != 0) {
    say(fmt::Line() << "run interrupted by signal" << static_cast<int>(g_signal) << " after step" << s.nn
                    << "; end-of-run files written");
    return 128 + g_signal;
  }
  return 0;
}

}  // namespace qv
