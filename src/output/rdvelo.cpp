#include "io/console.hpp"
#include "io/files.hpp"
#include "output/output.hpp"
#include "solver/solver.hpp"
#include "store/input.hpp"

namespace qv {
namespace {

// Analytic start: uniform Vin at the nodes, the body surface nodes at 0
// (normal faces) or ca01 (faces parallel to x), then faces and cells.
void fresh(Store& s) {
  const int is = s.is, ie = s.ie, js = s.js, je = s.je, ks = s.ks, ke = s.ke;
  for (int i = is; i <= ie; ++i)
    for (int j = js; j <= je; ++j)
      for (int k = ks; k <= ke; ++k) {
        s.un(i, j, k) = s.Vin;
        s.vn(i, j, k) = 0;
        s.wn(i, j, k) = 0;
        s.pn(i, j, k) = 0;
      }
  for (int j = js; j <= je; ++j)
    for (int k = ks; k <= ke; ++k) s.un(is, j, k) = s.Vin;

  const double ca01 = (s.ca1 + 1) / 2;
  say(fmt::Line() << "ca01=" << ca01);

  auto fluid = [&](int i, int j, int k) { return s.iflag(i, j, k) == 0; };
  auto set = [&](int i1, int i2, int j1, int j2, int k1, int k2, double v) {
    for (int k = k1; k <= k2; ++k)
      for (int j = j1; j <= j2; ++j)
        for (int i = i1; i <= i2; ++i) s.un(i, j, k) = v;
  };
  for (int k = ks; k <= ke; ++k)
    for (int j = js; j <= je; ++j)
      for (int i = is; i <= ie; ++i) {
        if (s.iflag(i, j, k) == 0) continue;
        if (fluid(i - 1, j, k)) set(i, i, j, j + 1, k, k + 1, 0);
        if (fluid(i + 1, j, k)) set(i + 1, i + 1, j, j + 1, k, k + 1, 0);
        if (fluid(i, j - 1, k)) set(i, i + 1, j, j, k, k + 1, ca01);
        if (fluid(i, j + 1, k)) set(i, i + 1, j + 1, j + 1, k, k + 1, ca01);
        if (fluid(i, j, k - 1)) set(i, i + 1, j, j + 1, k, k, ca01);
        if (fluid(i, j, k + 1)) set(i, i + 1, j, j + 1, k + 1, k + 1, ca01);
      }
  node_to_face(s);
  node_to_cell(s);
  s.outflow = kOutflowCopied;
}

// Restart: field file records 1-9, body-state file records 1-6.
void restart(Store& s, const std::string& inputfile, const std::string& nfile0) {
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
    r.next();
    s.xacc = r.get_real();
    s.yacc = r.get_real();
    s.tacc = r.get_real();
    r.next();
    s.xdis = r.get_real();
    s.ydis = r.get_real();
    s.tdis = r.get_real();
    r.next();
    s.xvel = r.get_real();
    s.yvel = r.get_real();
    s.tvel = r.get_real();
    for (const RecordLayout& rec : kBodyStateFile)
      if (rec.block()) read_block(r, named_field(s, rec.names), s, rec);
    r.close();
  }
  s.outflow = kOutflowAsRead;
  say(fmt::Line() << "t2 =" << t2);
  s.t = t2;
}

}  // namespace

void rdvelo(Store& s, const std::string& inputfile, const std::string& nfile0) {
  if (fresh_start(inputfile))
    fresh(s);
  else
    restart(s, inputfile, nfile0);

  for (int k = s.ks; k <= s.ke - 1; ++k)
    for (int j = s.js; j <= s.je - 1; ++j) s.ub0(j, k) = s.uu(s.is, j, k);
  for (int k = s.ks; k <= s.ke - 1; ++k)
    for (int j = s.js; j <= s.je; ++j) s.vb0(j, k) = s.vv(s.is, j, k);
  for (int k = s.ks; k <= s.ke; ++k)
    for (int j = s.js; j <= s.je - 1; ++j) s.wb0(j, k) = s.ww(s.is, j, k);
  uvwbdy(s);
  prsbdy(s);
}

}  // namespace qv
