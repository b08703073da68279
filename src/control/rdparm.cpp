#include <cmath>

#include "control/params.hpp"
#include "control/run.hpp"
#include "io/console.hpp"
#include "io/files.hpp"

namespace qv {

// 1. Parameter file, 16 fixed-column lines (see params.hpp).
// 2. File-name list: ifc, kout, nfl and nfl snapshot names.
// 3. Echo, bounds ie/je/ke, damping coefficients, then ca1/ca2 as 2v - 1.
void rdparm(Store& s, RunFiles& f) {
  const ParamFile p = read_param_file("quivel_vib8.inf");
  f.axisfile = p.axisfile;
  f.flagfile = p.flagfile;
  f.inputfile = p.inputfile;
  f.finalfile = p.finalfile;
  f.statfile = p.statfile;
  const int nx = p.nx, ny = p.ny, nz = p.nz;
  s.run.iyper = p.iyper;
  s.run.izper = p.izper;
  s.run.Re = p.Re;
  s.run.Cs = p.Cs;
  s.run.dt = p.dt;
  s.run.esp = p.esp;
  s.run.omg = p.omg;
  s.run.ca1 = p.ca1;
  s.run.ca2 = p.ca2;
  s.run.nt = p.nt;
  f.nfile0 = p.nfile0;
  f.nfile = p.nfile;
  f.vfile = p.vfile;
  s.body.amas = p.amas;
  s.body.aitm = p.aitm;
  s.body.kst.x = p.xkst;
  s.body.kst.y = p.ykst;
  s.body.kst.t = p.tkst;
  s.body.h0.x = p.xh0;
  s.body.h0.y = p.yh0;
  s.body.h0.t = p.th0;
  s.body.beta = p.beta;
  s.body.ndof = p.ndof;
  s.body.amp.x = p.xamp;
  s.body.amp.y = p.yamp;
  s.body.amp.t = p.tamp;
  s.body.tfrc = p.tfrc;
  s.body.nsmp = p.nsmp;
  {
    const std::string name = "quivel_vib8.fil";
    TextReader r(name, unit::names);
    const std::string l = r.next();
    f.ifc = static_cast<int>(r.I(l, 1, 5));
    const int kout = static_cast<int>(r.I(l, 6, 5));  // echoed only: no step uses it
    f.nfl = static_cast<int>(r.I(l, 11, 5));
    if (f.nfl > kMaxNames) {
      say(fmt::Line() << "number of snapshot names nfl =" << f.nfl << " exceeds" << kMaxNames);
      throw RunStop(name + " line 1, nfl = " + std::to_string(f.nfl) + ": at most " + std::to_string(kMaxNames) +
                        " snapshot names",
                    2);
    }
    f.fname.assign(kMaxNames + 1, std::string(kNameWidth, ' '));
    for (int n = 1; n <= f.nfl; ++n) f.fname[static_cast<std::size_t>(n)] = read_name(r.next(), 1, false, name, n + 1);
    r.close();
    say(fmt::Line() << "ifc,kout,nfl = " << f.ifc << kout << f.nfl);
  }

  s.grid.ie = nx + 2;
  s.grid.je = ny + 2;
  s.grid.ke = nz + 2;

  for (int d = 0; d < kDofs; ++d) s.body.dmp[d] = s.body.mass(d) * 2 * s.body.natural_frequency(d) * s.body.h0[d];

  say(fmt::Line() << "axis        file = " << f.axisfile);
  say(fmt::Line() << "flag        file = " << f.flagfile);
  say(fmt::Line() << "input       file = " << f.inputfile);
  say(fmt::Line() << "final       file = " << f.finalfile);
  say(fmt::Line() << "statistics  file = " << f.statfile);
  say(fmt::Line() << "# of x,y,z  = " << s.grid.ie - s.grid.is + 1 << s.grid.je - s.grid.js + 1
                  << s.grid.ke - s.grid.ks + 1);
  say(fmt::Line() << "Re Num.     = " << s.run.Re);
  say(fmt::Line() << "Coef. Smg.  = " << s.run.Cs);
  say(fmt::Line() << "Periodic in Y [yes=0,no=1  ]" << s.run.iyper);
  say(fmt::Line() << "Periodic in Z [yes=0,no=1,2]" << s.run.izper);
  say(fmt::Line() << "Dt      =" << s.run.dt);
  say(fmt::Line() << "esp,omg =" << s.run.esp << s.run.omg);
  say(fmt::Line() << "nt      =" << s.run.nt);
  say(fmt::Line() << "ca1 ca2 =" << s.run.ca1 << s.run.ca2);
  say(fmt::Line() << "amas,aitm     =" << s.body.amas << s.body.aitm);
  say(fmt::Line() << "xkst,ykst,tkst=" << s.body.kst.x << s.body.kst.y << s.body.kst.t);
  say(fmt::Line() << "xh0,yh0,th0   =" << s.body.h0.x << s.body.h0.y << s.body.h0.t);
  say(fmt::Line() << "1/beta,ndof   =" << 1 / s.body.beta << s.body.ndof);

  s.run.ca1 = 1 - (1 - s.run.ca1) * 2;
  s.run.ca2 = 1 - (1 - s.run.ca2) * 2;
  say(fmt::Line() << "ca1 ca2 =" << s.run.ca1 << s.run.ca2);
}

void check_limits(const Store& s, const RunFiles&) {
  const int nx = s.grid.ie - 2, ny = s.grid.je - 2, nz = s.grid.ke - 2;
  if (nx < 2 || ny < 2 || nz < 2)
    throw RunStop("quivel_vib8.inf line 2, nx, ny, nz = " + std::to_string(nx) + " " + std::to_string(ny) + " " +
                      std::to_string(nz) + ": each needs at least 2 grid lines (one cell)",
                  2);
  if (!fits_store(nx, ny, nz)) {
    say(fmt::Line() << "grid counts nx,ny,nz =" << nx << ny << nz);
    say(fmt::Line() << "exceed the store: at most" << kMaxI - 4 << kMaxJ - 4 << kMaxK - 4);
    throw RunStop("quivel_vib8.inf line 2, nx, ny, nz = " + std::to_string(nx) + " " + std::to_string(ny) + " " +
                      std::to_string(nz) + ": the grid is beyond the store (at most " + std::to_string(kMaxI - 4) +
                      " " + std::to_string(kMaxJ - 4) + " " + std::to_string(kMaxK - 4) + ")",
                  2);
  }
}

bool history_fits(const Store& s, int nt) { return s.body.nsmp <= 0 || nt / s.body.nsmp <= kMaxSamples; }

void check_history(const Store& s, int change_nt) {
  for (const auto& [nt, where] : {std::pair{s.run.nt, "quivel_vib8.inf line 9"}, std::pair{change_nt, "change.inf"}})
    if (!history_fits(s, nt)) {
      say(fmt::Line() << "nt/nsmp =" << nt / s.body.nsmp << " exceeds the body-history capacity" << kMaxSamples);
      throw RunStop(std::string(where) + ", nt = " + std::to_string(nt) +
                        " with nsmp = " + std::to_string(s.body.nsmp) + ": the body history would be too long (" +
                        std::to_string(nt / s.body.nsmp) + " samples, at most " + std::to_string(kMaxSamples) + ")",
                    2);
    }
}

// "change.inf" sets nt; "change.out": the status report.
void rdchange(Store& s, double dtmin) {
  s.run.nt = read_change_file();
  rdchange_report(s, dtmin);
}

void rdchange_report(const Store& s, double dtmin) {
  TextWriter w("change.out", unit::change_out, Mode::Unknown);
  w.line(fmt::I(s.run.nt, 10));
  w.line(fmt::I(s.run.nn, 10) + fmt::F(s.run.t, 12, 7));
  w.line(fmt::I(s.run.iter, 10));
  w.line(fmt::F(s.run.dt, 12, 7) + fmt::F(dtmin, 12, 7) + fmt::F(s.run.esp, 12, 7));
  for (int n = 0; n < 3; ++n) w.line("   ");
  w.line("  c---------------------------- information");
  w.line("  nt           ;cycle number  ");
  w.line("  nn,t         ;present number , present time");
  w.line("  iter         ;iteration number  ");
  w.line("  dt,dtmin,esp ;dt , possible dt ,esp ");
  w.close();
}

}  // namespace qv
