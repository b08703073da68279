#include "io/console.hpp"
#include "io/files.hpp"
#include "output/output.hpp"
#include "solver/solver.hpp"
#include "store/input.hpp"

namespace qv {
namespace {

// Analytic start: uniform Vin at the nodes, the body surface nodes at 0
// (normal faces) or ca01 (faces parallel to x), then faces and cells.
OutflowSwitches fresh(Store& s) {
  const int is = s.grid.is, ie = s.grid.ie, js = s.grid.js, je = s.grid.je, ks = s.grid.ks, ke = s.grid.ke;
  for (int i = is; i <= ie; ++i)
    for (int j = js; j <= je; ++j)
      for (int k = ks; k <= ke; ++k) {
        s.work.un(i, j, k) = s.run.Vin;
        s.work.vn(i, j, k) = 0;
        s.work.wn(i, j, k) = 0;
        s.work.pn(i, j, k) = 0;
      }
  for (int j = js; j <= je; ++j)
    for (int k = ks; k <= ke; ++k) s.work.un(is, j, k) = s.run.Vin;

  const double ca01 = (s.run.ca1 + 1) / 2;
  say(fmt::Line() << "ca01=" << ca01);

  auto fluid = [&](int i, int j, int k) { return s.flow.iflag(i, j, k) == 0; };
  auto set = [&](int i1, int i2, int j1, int j2, int k1, int k2, double v) {
    for (int k = k1; k <= k2; ++k)
      for (int j = j1; j <= j2; ++j)
        for (int i = i1; i <= i2; ++i) s.work.un(i, j, k) = v;
  };
  for (int k = ks; k <= ke; ++k)
    for (int j = js; j <= je; ++j)
      for (int i = is; i <= ie; ++i) {
        if (s.flow.iflag(i, j, k) == 0) continue;
        if (fluid(i - 1, j, k)) set(i, i, j, j + 1, k, k + 1, 0);
        if (fluid(i + 1, j, k)) set(i + 1, i + 1, j, j + 1, k, k + 1, 0);
        if (fluid(i, j - 1, k)) set(i, i + 1, j, j, k, k + 1, ca01);
        if (fluid(i, j + 1, k)) set(i, i + 1, j + 1, j + 1, k, k + 1, ca01);
        if (fluid(i, j, k - 1)) set(i, i + 1, j, j + 1, k, k, ca01);
        if (fluid(i, j, k + 1)) set(i, i + 1, j, j + 1, k + 1, k + 1, ca01);
      }
  node_to_face(s);
  node_to_cell(s);
  return kOutflowCopied;
}

// Restart: field file records 1-9, body-state file records 1-6.
OutflowSwitches restart(Store& s, const std::string& inputfile, const std::string& nfile0) {
  say(fmt::Line() << "input file = " << inputfile);
  double t2;
  {
    RecordReader r(fmt::trim_name(inputfile), unit::field_in);
    r.next();
    for (int n = 0; n < 6; ++n) r.get_int();
    r.next();
    r.get_real();
    r.get_real();
    r.get_real();
    t2 = r.get_real();
    for (int n = 0; n < 4; ++n) r.get_int();
    // every block but the last, the eddy viscosity, which a restart does not read
    for (const RecordLayout& rec : kFieldFile)
      if (rec.block() && std::string_view(rec.names) != "nut") read_block(r, named_field(s, rec.names), s, rec);
    r.close();
  }
  {
    RecordReader r(fmt::trim_name(nfile0), unit::body_in);
    r.next();
    for (int n = 0; n < 4; ++n) r.get_int();
    for (const RecordLayout& rec : kBodyStateFile)
      if (rec.block()) {
        read_block(r, named_field(s, rec.names), s, rec);
      } else if (Dof3* q = named_triple(s.body, rec.names)) {
        r.next();
        for (int d = 0; d < kDofs; ++d) (*q)[d] = r.get_real();
      }
    r.close();
  }
  say(fmt::Line() << "t2 =" << t2);
  s.run.t = t2;
  return kOutflowAsRead;
}

}  // namespace

void rdvelo(Store& s, const std::string& inputfile, const std::string& nfile0, OutflowSwitches& outflow) {
  outflow = fresh_start(inputfile) ? fresh(s) : restart(s, inputfile, nfile0);

  for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j) s.flow.ub0(j, k) = s.flow.uu(s.grid.is, j, k);
  for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
    for (int j = s.grid.js; j <= s.grid.je; ++j) s.flow.vb0(j, k) = s.flow.vv(s.grid.is, j, k);
  for (int k = s.grid.ks; k <= s.grid.ke; ++k)
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j) s.flow.wb0(j, k) = s.flow.ww(s.grid.is, j, k);
  uvwbdy(s, outflow);
  prsbdy(s);
}

}  // namespace qv
