#include "solver/solver.hpp"

namespace qv {

// Pressure boundary values, in this order: body cells 0; x faces zero
// gradient; y and z sides periodic or zero gradient; the edge lines along
// x, y, z; the eight corners copied in x; finally the whole block
// is-1..ie+1, js-1..je+1, ks-1..ke+1 shifted so that pp(is, je/2, ke/2) = 0.
void prsbdy(Store& s) {
  const int is = s.is, ie = s.ie, js = s.js, je = s.je, ks = s.ks, ke = s.ke;
  auto& pp = s.pp;
  for (int k = ks; k <= ke - 1; ++k)
    for (int j = js; j <= je - 1; ++j)
      for (int i = is; i <= ie - 1; ++i)
        if (s.iflag(i, j, k) != 0) pp(i, j, k) = 0;

  for (int k = ks; k <= ke - 1; ++k)
    for (int j = js; j <= je - 1; ++j) {
      pp(is - 1, j, k) = pp(is, j, k);
      pp(ie, j, k) = pp(ie - 1, j, k);
    }
  for (int k = ks; k <= ke - 1; ++k)
    for (int i = is; i <= ie - 1; ++i) {
      if (s.iyper == 0) {
        pp(i, js - 1, k) = pp(i, je - 1, k);
        pp(i, je, k) = pp(i, js, k);
      } else {
        pp(i, js - 1, k) = pp(i, js, k);
        pp(i, je, k) = pp(i, je - 1, k);
      }
    }
  for (int j = js; j <= je - 1; ++j)
    for (int i = is; i <= ie - 1; ++i) {
      if (s.izper == 0) {
        pp(i, j, ks - 1) = pp(i, j, ke - 1);
        pp(i, j, ke) = pp(i, j, ks);
      } else {
        pp(i, j, ks - 1) = pp(i, j, ks);
        pp(i, j, ke) = pp(i, j, ke - 1);
      }
    }

  for (int i = is; i <= ie - 1; ++i) {
    if (s.iyper == 0 && s.izper == 0) {
      pp(i, js - 1, ks - 1) = pp(i, je - 1, ke - 1);
      pp(i, je, ks - 1) = pp(i, js, ke - 1);
      pp(i, js - 1, ke) = pp(i, je - 1, ks);
      pp(i, je, ke) = pp(i, js, ks);
    } else if (s.iyper == 0) {
      pp(i, js - 1, ks - 1) = pp(i, je - 1, ks);
      pp(i, je, ks - 1) = pp(i, js, ks);
      pp(i, js - 1, ke) = pp(i, je - 1, ke - 1);
      pp(i, je, ke) = pp(i, js, ke - 1);
    } else if (s.izper == 0) {
      pp(i, js - 1, ks - 1) = pp(i, js, ke - 1);
      pp(i, je, ks - 1) = pp(i, je - 1, ke - 1);
      pp(i, js - 1, ke) = pp(i, js, ks);
      pp(i, je, ke) = pp(i, je - 1, ks);
    } else {
      pp(i, js - 1, ks - 1) = pp(i, js, ks);
      pp(i, je, ks - 1) = pp(i, je - 1, ks);
      pp(i, js - 1, ke) = pp(i, js, ke - 1);
      pp(i, je, ke) = pp(i, je - 1, ke - 1);
    }
  }
  for (int j = js; j <= je - 1; ++j) {
    if (s.izper == 0) {
      pp(is - 1, j, ks - 1) = pp(is, j, ke - 1);
      pp(ie, j, ks - 1) = pp(ie - 1, j, ke - 1);
      pp(is - 1, j, ke) = pp(is, j, ks);
      pp(ie, j, ke) = pp(ie - 1, j, ks);
    } else {
      pp(is - 1, j, ks - 1) = pp(is, j, ks);
      pp(ie, j, ks - 1) = pp(ie - 1, j, ks);
      pp(is - 1, j, ke) = pp(is, j, ke - 1);
      pp(ie, j, ke) = pp(ie - 1, j, ke - 1);
    }
  }
  for (int k = ks; k <= ke - 1; ++k) {
    if (s.iyper == 0) {
      pp(is - 1, js - 1, k) = pp(is, je - 1, k);
      pp(ie, js - 1, k) = pp(ie - 1, je - 1, k);
      pp(is - 1, je, k) = pp(is, js, k);
      pp(ie, je, k) = pp(ie - 1, js, k);
    } else {
      pp(is - 1, js - 1, k) = pp(is, js, k);
      pp(ie, js - 1, k) = pp(ie - 1, js, k);
      pp(is - 1, je, k) = pp(is, je - 1, k);
      pp(ie, je, k) = pp(ie - 1, je - 1, k);
    }
  }
  const int cj[4] = {js - 1, je, js - 1, je};
  const int ck[4] = {ks - 1, ks - 1, ke, ke};
  for (int n = 0; n < 4; ++n) pp(is - 1, cj[n], ck[n]) = pp(is, cj[n], ck[n]);
  for (int n = 0; n < 4; ++n) pp(ie, cj[n], ck[n]) = pp(ie - 1, cj[n], ck[n]);

  const double p0 = pp(is, je / 2, ke / 2);
  for (int i = is - 1; i <= ie + 1; ++i)
    for (int j = js - 1; j <= je + 1; ++j)
      for (int k = ks - 1; k <= ke + 1; ++k) pp(i, j, k) = pp(i, j, k) - p0;
}

}  // namespace qv
