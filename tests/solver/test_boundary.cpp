// Velocity and pressure boundary values: side ghosts, walls, outflow, edge
// lines, the body surface, the flux report and the pressure reference.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "solver/solver.hpp"
#include "support/case.hpp"

namespace {

using qv::Field;
using qv::Store;

// A value that tells every index of every array apart.
double tag(double base, int i, int j, int k) { return base + i * 10000.0 + j * 100.0 + k; }

void fill(Field& f, double base) {
  for (int i = 1; i <= f.ni(); ++i)
    for (int j = 1; j <= f.nj(); ++j)
      for (int k = 1; k <= f.nk(); ++k) f(i, j, k) = tag(base, i, j, k);
}

void fill_velocities(Store& s) {
  fill(s.flow.uu, 1e6);
  fill(s.flow.vv, 2e6);
  fill(s.flow.ww, 3e6);
}

// uvwbdy with its console line swallowed.
void quiet_uvwbdy(Store& s, const qv::OutflowSwitches& outflow = {}) {
  testing::internal::CaptureStdout();
  qv::uvwbdy(s, outflow);
  testing::internal::GetCapturedStdout();
}

// Qall and the cancel speed from the line uvwbdy prints.
void flux_line(const std::string& out, double& qall, double& ucan) {
  const std::string key = "Qall ,cancel U=";
  const auto p = out.find(key);
  ASSERT_NE(p, std::string::npos) << out;
  std::istringstream in(out.substr(p + key.size()));
  ASSERT_TRUE(in >> qall >> ucan) << out;
}

// ------------------------------------------------------------ uvwbdy: sides

TEST(Uvwbdy, PeriodicSidesCopyTheirImages) {
  Store s = qvt::tiny_store(6, 7, 6, 1.0, 0, 0);
  const qv::OutflowSwitches outflow{0, 0, 0};
  fill_velocities(s);
  quiet_uvwbdy(s, outflow);
  const int is = s.grid.is, ie = s.grid.ie, js = s.grid.js, je = s.grid.je, ks = s.grid.ks, ke = s.grid.ke;
  for (int k = ks; k <= ke - 1; ++k)
    for (int i = is; i <= ie; ++i) {  // uu: the whole x range, inflow column included
      EXPECT_EQ(s.flow.uu(i, js - 1, k), s.flow.uu(i, je - 1, k));
      EXPECT_EQ(s.flow.uu(i, js - 2, k), s.flow.uu(i, je - 2, k));
      EXPECT_EQ(s.flow.uu(i, je, k), s.flow.uu(i, js, k));
      EXPECT_EQ(s.flow.uu(i, je + 1, k), s.flow.uu(i, js + 1, k));
    }
  for (int k = ks; k <= ke - 1; ++k)
    for (int i = is; i <= ie - 1; ++i) {
      EXPECT_EQ(s.flow.vv(i, js - 1, k), tag(2e6, i, je - 1, k));
      EXPECT_EQ(s.flow.vv(i, js - 2, k), tag(2e6, i, je - 2, k));
      EXPECT_EQ(s.flow.vv(i, je, k), tag(2e6, i, js, k));
      EXPECT_EQ(s.flow.vv(i, je + 1, k), tag(2e6, i, js + 1, k));
      EXPECT_EQ(s.flow.vv(i, je + 2, k), tag(2e6, i, js + 2, k));
    }
  // The y sides run before the z sides: at k = ke they copy the entry
  // values, which the z sides then replace in the interior rows.
  for (int k = ks; k <= ke; ++k)
    for (int i = is; i <= ie - 1; ++i) {
      EXPECT_EQ(s.flow.ww(i, js - 1, k), tag(3e6, i, je - 1, k));
      EXPECT_EQ(s.flow.ww(i, js - 2, k), tag(3e6, i, je - 2, k));
      EXPECT_EQ(s.flow.ww(i, je, k), tag(3e6, i, js, k));
      EXPECT_EQ(s.flow.ww(i, je + 1, k), tag(3e6, i, js + 1, k));
    }
  for (int j = js; j <= je - 1; ++j)
    for (int i = is; i <= ie; ++i) {
      EXPECT_EQ(s.flow.uu(i, j, ks - 1), tag(1e6, i, j, ke - 1));
      EXPECT_EQ(s.flow.uu(i, j, ks - 2), tag(1e6, i, j, ke - 2));
      EXPECT_EQ(s.flow.uu(i, j, ke), tag(1e6, i, j, ks));
      EXPECT_EQ(s.flow.uu(i, j, ke + 1), tag(1e6, i, j, ks + 1));
    }
  for (int j = js; j <= je; ++j)
    for (int i = is; i <= ie - 1; ++i) {
      EXPECT_EQ(s.flow.vv(i, j, ks - 1), s.flow.vv(i, j, ke - 1));
      EXPECT_EQ(s.flow.vv(i, j, ks - 2), s.flow.vv(i, j, ke - 2));
      EXPECT_EQ(s.flow.vv(i, j, ke), s.flow.vv(i, j, ks));
      EXPECT_EQ(s.flow.vv(i, j, ke + 1), s.flow.vv(i, j, ks + 1));
    }
  for (int j = js; j <= je - 1; ++j)
    for (int i = is; i <= ie - 1; ++i) {
      EXPECT_EQ(s.flow.ww(i, j, ks - 1), tag(3e6, i, j, ke - 1));
      EXPECT_EQ(s.flow.ww(i, j, ks - 2), tag(3e6, i, j, ke - 2));
      EXPECT_EQ(s.flow.ww(i, j, ke + 1), tag(3e6, i, j, ks + 1));
      EXPECT_EQ(s.flow.ww(i, j, ke + 2), tag(3e6, i, j, ks + 2));
      EXPECT_EQ(s.flow.ww(i, j, ke), tag(3e6, i, j, ks));
    }
  // Interior faces are not touched.
  EXPECT_EQ(s.flow.uu(is + 1, js + 1, ks + 1), tag(1e6, is + 1, js + 1, ks + 1));
  EXPECT_EQ(s.flow.vv(is + 1, js + 1, ks + 1), tag(2e6, is + 1, js + 1, ks + 1));
}

TEST(Uvwbdy, TwoCellPeriodicDirectionsCopyTheFarGhostBeforeTheSideFace) {
  // With two cells, js + 2 = je and ks + 2 = ke: the far ghost must take the
  // entry value of the side face before that face becomes its image.
  Store s = qvt::tiny_store(6, 3, 3, 1.0, 0, 0);
  ASSERT_EQ(s.grid.je, s.grid.js + 2);
  const qv::OutflowSwitches outflow{0, 0, 0};
  fill_velocities(s);
  quiet_uvwbdy(s, outflow);
  for (int i = s.grid.is; i <= s.grid.ie - 1; ++i) {
    EXPECT_EQ(s.flow.vv(i, s.grid.je + 2, s.grid.ks), tag(2e6, i, s.grid.je, s.grid.ks));
    EXPECT_EQ(s.flow.vv(i, s.grid.je, s.grid.ks), tag(2e6, i, s.grid.js, s.grid.ks));
    EXPECT_EQ(s.flow.ww(i, s.grid.js, s.grid.ke + 2), tag(3e6, i, s.grid.js, s.grid.ke));
    EXPECT_EQ(s.flow.ww(i, s.grid.js, s.grid.ke), tag(3e6, i, s.grid.js, s.grid.ks));
  }
}

TEST(Uvwbdy, WallsZeroTheWallFacesAndKeepTheEntryValuesInTheGhosts) {
  Store s = qvt::tiny_store(6, 6, 7, 1.0, 1, 1);
  const qv::OutflowSwitches outflow{1, 1, 0};
  fill_velocities(s);
  const Store in = s;
  quiet_uvwbdy(s, outflow);
  const int is = s.grid.is, ie = s.grid.ie, js = s.grid.js, je = s.grid.je, ks = s.grid.ks, ke = s.grid.ke;
  for (int k = ks; k <= ke - 1; ++k) {
    for (int i = is + 1; i <= ie - 1; ++i) {
      EXPECT_EQ(s.flow.vv(i, js, k), 0.0);
      EXPECT_EQ(s.flow.vv(i, je, k), 0.0);
      EXPECT_EQ(s.flow.vv(i, js - 1, k), in.flow.vv(i, js, k));
      EXPECT_EQ(s.flow.vv(i, je + 1, k), in.flow.vv(i, je, k));
    }
    // The wall rules start at is + 1: the inflow column keeps everything.
    EXPECT_EQ(s.flow.vv(is, js, k), in.flow.vv(is, js, k));
    EXPECT_EQ(s.flow.vv(is, js - 1, k), in.flow.vv(is, js - 1, k));
    EXPECT_EQ(s.flow.vv(is, je + 1, k), in.flow.vv(is, je + 1, k));
    EXPECT_EQ(s.flow.uu(is, js - 1, k), in.flow.uu(is, js - 1, k));
    EXPECT_EQ(s.flow.uu(is, je, k), in.flow.uu(is, je, k));
    // The outflow column got the outflow copy before the walls were set.
    EXPECT_EQ(s.flow.vv(ie, js, k), in.flow.vv(ie - 1, js, k));
    EXPECT_EQ(s.flow.vv(ie, js - 1, k), in.flow.vv(ie, js - 1, k));
    for (int i = is + 1; i <= ie; ++i) {
      EXPECT_EQ(s.flow.uu(i, js - 1, k), s.flow.uu(i, js, k));
      EXPECT_EQ(s.flow.uu(i, je, k), s.flow.uu(i, je - 1, k));
    }
  }
  for (int k = ks; k <= ke; ++k) {
    for (int i = is + 1; i <= ie - 1; ++i) {
      EXPECT_EQ(s.flow.ww(i, js - 1, k), in.flow.ww(i, js, k));
      EXPECT_EQ(s.flow.ww(i, je, k), in.flow.ww(i, je - 1, k));
    }
    EXPECT_EQ(s.flow.ww(is, je, k), in.flow.ww(is, je, k));
  }
  // z walls: ww zero on both walls, antisymmetric ghosts; uu, vv mirrored.
  for (int j = js; j <= je - 1; ++j)
    for (int i = is; i <= ie - 1; ++i) {
      EXPECT_EQ(s.flow.ww(i, j, ks), 0.0);
      EXPECT_EQ(s.flow.ww(i, j, ke), 0.0);
      EXPECT_EQ(s.flow.ww(i, j, ks - 1), -in.flow.ww(i, j, ks + 1));
      EXPECT_EQ(s.flow.ww(i, j, ke + 1), -in.flow.ww(i, j, ke - 1));
    }
  for (int j = js; j <= je - 1; ++j)
    for (int i = is; i <= ie; ++i) {
      EXPECT_EQ(s.flow.uu(i, j, ks - 1), s.flow.uu(i, j, ks));
      EXPECT_EQ(s.flow.uu(i, j, ke), s.flow.uu(i, j, ke - 1));
    }
  for (int j = js; j <= je; ++j)
    for (int i = is; i <= ie - 1; ++i) {
      EXPECT_EQ(s.flow.vv(i, j, ks - 1), s.flow.vv(i, j, ks));
      EXPECT_EQ(s.flow.vv(i, j, ke), s.flow.vv(i, j, ke - 1));
    }
}

TEST(Uvwbdy, OutflowCopiesFollowTheSwitches) {
  for (int on = 0; on <= 1; ++on) {
    Store s = qvt::tiny_store(6, 6, 6, 1.0, 1, 1);
    const qv::OutflowSwitches outflow{on, on, on};
    fill_velocities(s);
    const Store in = s;
    quiet_uvwbdy(s, outflow);
    for (int k = s.grid.ks + 1; k <= s.grid.ke - 2; ++k)
      for (int j = s.grid.js + 1; j <= s.grid.je - 2; ++j) {
        EXPECT_EQ(s.flow.uu(s.grid.ie, j, k), on ? in.flow.uu(s.grid.ie - 1, j, k) : in.flow.uu(s.grid.ie, j, k));
        EXPECT_EQ(s.flow.vv(s.grid.ie, j, k), on ? in.flow.vv(s.grid.ie - 1, j, k) : in.flow.vv(s.grid.ie, j, k));
        EXPECT_EQ(s.flow.ww(s.grid.ie, j, k), on ? in.flow.ww(s.grid.ie - 1, j, k) : in.flow.ww(s.grid.ie, j, k));
        // The inflow face is never written here.
        EXPECT_EQ(s.flow.uu(s.grid.is, j, k), in.flow.uu(s.grid.is, j, k));
      }
  }
}

TEST(Uvwbdy, BottomWallWithCa2) {
  for (int iyper : {0, 1}) {
    Store s = qvt::tiny_store(6, 6, 6, 1.0, iyper, 2);
    s.run.ca2 = 0.5;  // distinguishes ca2 from the fixed factor of the periodic edges
    const qv::OutflowSwitches outflow{0, 0, 0};
    fill_velocities(s);
    const Store in = s;
    quiet_uvwbdy(s, outflow);
    const int is = s.grid.is, ie = s.grid.ie, js = s.grid.js, je = s.grid.je, ks = s.grid.ks, ke = s.grid.ke;
    for (int j = js; j <= je - 1; ++j)
      for (int i = is; i <= ie; ++i) {
        EXPECT_EQ(s.flow.uu(i, j, ks - 1), 0.5 * in.flow.uu(i, j, ks));
        EXPECT_EQ(s.flow.uu(i, j, ke), in.flow.uu(i, j, ke - 1));  // the top stays slip
      }
    for (int j = js + 1; j <= je - 1; ++j)
      for (int i = is + 1; i <= ie - 1; ++i) {
        EXPECT_EQ(s.flow.vv(i, j, ks - 1), 0.5 * s.flow.vv(i, j, ks));
        EXPECT_EQ(s.flow.vv(i, j, ke), s.flow.vv(i, j, ke - 1));
        EXPECT_EQ(s.flow.ww(i, j, ks), 0.0);
        EXPECT_EQ(s.flow.ww(i, j, ks - 1), -in.flow.ww(i, j, ks + 1));
      }
    for (int i = is; i <= ie; ++i) {
      if (iyper == 0) {
        EXPECT_EQ(s.flow.uu(i, js - 1, ks - 1), -in.flow.uu(i, je - 1, ks));
        EXPECT_EQ(s.flow.uu(i, je, ks - 1), -in.flow.uu(i, js, ks));
      } else {
        EXPECT_EQ(s.flow.uu(i, js - 1, ks - 1), 0.5 * in.flow.uu(i, js, ks));
        EXPECT_EQ(s.flow.uu(i, je, ks - 1), 0.5 * in.flow.uu(i, je - 1, ks));
      }
      EXPECT_EQ(s.flow.uu(i, js - 1, ke), s.flow.uu(i, iyper == 0 ? je - 1 : js, ke - 1));
    }
    for (int j = js; j <= je; ++j) {
      EXPECT_EQ(s.flow.vv(is - 1, j, ks - 1), 0.5 * s.flow.vv(is, j, ks));
      EXPECT_EQ(s.flow.vv(ie, j, ks - 1), 0.5 * s.flow.vv(ie - 1, j, ks));
      EXPECT_EQ(s.flow.vv(is - 1, j, ke), s.flow.vv(is, j, ke - 1));
    }
  }
}

// ----------------------------------------------------------- edge tables

// Image of an edge ghost: (j, k) offsets named relative to the box.
enum Pos { JSm1, JS, JEm1, JE, KSm1, KS, KEm1, KE };
int at(const Store& s, Pos p) {
  switch (p) {
    case JSm1:
      return s.grid.js - 1;
    case JS:
      return s.grid.js;
    case JEm1:
      return s.grid.je - 1;
    case JE:
      return s.grid.je;
    case KSm1:
      return s.grid.ks - 1;
    case KS:
      return s.grid.ks;
    case KEm1:
      return s.grid.ke - 1;
    default:
      return s.grid.ke;
  }
}

struct EdgeRow {
  int iyper, izper;
  Pos src[4][2];  // images of (js-1,ks-1), (je,ks-1), (js-1,ke), (je,ke)
};
const EdgeRow kEdges[] = {
    {0, 0, {{JEm1, KEm1}, {JS, KEm1}, {JEm1, KS}, {JS, KS}}},
    {0, 1, {{JEm1, KS}, {JS, KS}, {JEm1, KEm1}, {JS, KEm1}}},
    {1, 0, {{JS, KEm1}, {JEm1, KEm1}, {JS, KS}, {JEm1, KS}}},
    {1, 1, {{JS, KS}, {JEm1, KS}, {JS, KEm1}, {JEm1, KEm1}}},
};
const Pos kCornerJ[4] = {JSm1, JE, JSm1, JE};
const Pos kCornerK[4] = {KSm1, KSm1, KE, KE};

TEST(Uvwbdy, EdgeLinesForAllSideKinds) {
  for (const EdgeRow& row : kEdges) {
    SCOPED_TRACE(testing::Message() << "iyper " << row.iyper << " izper " << row.izper);
    Store s = qvt::tiny_store(6, 7, 8, 1.0, row.iyper, row.izper);
    const qv::OutflowSwitches outflow{0, 0, 0};
    fill_velocities(s);
    quiet_uvwbdy(s, outflow);
    const int is = s.grid.is, ie = s.grid.ie, js = s.grid.js, je = s.grid.je, ks = s.grid.ks, ke = s.grid.ke;
    for (int i = is; i <= ie; ++i)
      for (int c = 0; c < 4; ++c)
        EXPECT_EQ(s.flow.uu(i, at(s, kCornerJ[c]), at(s, kCornerK[c])),
                  tag(1e6, i, at(s, row.src[c][0]), at(s, row.src[c][1])))
            << "i " << i << " corner " << c;
    const bool zp = row.izper == 0, yp = row.iyper == 0;
    for (int j = js; j <= je; ++j) {
      EXPECT_EQ(s.flow.vv(is - 1, j, ks - 1), s.flow.vv(is, j, zp ? ke - 1 : ks));
      EXPECT_EQ(s.flow.vv(ie, j, ks - 1), s.flow.vv(ie - 1, j, zp ? ke - 1 : ks));
      EXPECT_EQ(s.flow.vv(is - 1, j, ke), s.flow.vv(is, j, zp ? ks : ke - 1));
      EXPECT_EQ(s.flow.vv(ie, j, ke), s.flow.vv(ie - 1, j, zp ? ks : ke - 1));
    }
    for (int k = ks; k <= ke; ++k) {
      EXPECT_EQ(s.flow.ww(is - 1, js - 1, k), s.flow.ww(is, yp ? je - 1 : js, k));
      EXPECT_EQ(s.flow.ww(ie, js - 1, k), s.flow.ww(ie - 1, yp ? je - 1 : js, k));
      EXPECT_EQ(s.flow.ww(is - 1, je, k), s.flow.ww(is, yp ? js : je - 1, k));
      EXPECT_EQ(s.flow.ww(ie, je, k), s.flow.ww(ie - 1, yp ? js : je - 1, k));
    }
  }
}

// ------------------------------------------------------------- body surface

// Marks cells i0..i1, j0..j1, k0..k1 as body.
void block(Store& s, int i0, int i1, int j0, int j1, int k0, int k1) {
  for (int k = k0; k <= k1; ++k)
    for (int j = j0; j <= j1; ++j)
      for (int i = i0; i <= i1; ++i) s.flow.iflag(i, j, k) = 1;
}

TEST(Uvwbdy, BodyBlockFacesMirrorTheLastAdjacentFluidFace) {
  // A 2 x 2 x 2 block in cells 5..6 with fluid all round, ca1 = -1.
  Store s = qvt::tiny_store(10, 10, 10, 1.0, 1, 1);
  s.run.ca1 = -1;
  const qv::OutflowSwitches outflow{0, 0, 0};
  block(s, 5, 6, 5, 6, 5, 6);
  fill_velocities(s);
  const Store in = s;
  quiet_uvwbdy(s, outflow);
  for (int a = 5; a <= 6; ++a)
    for (int b = 5; b <= 6; ++b) {
      // Every face between a body cell and a fluid cell carries 0.
      EXPECT_EQ(s.flow.uu(5, a, b), 0.0);
      EXPECT_EQ(s.flow.uu(7, a, b), 0.0);
      EXPECT_EQ(s.flow.vv(a, 5, b), 0.0);
      EXPECT_EQ(s.flow.vv(a, 7, b), 0.0);
      EXPECT_EQ(s.flow.ww(a, b, 5), 0.0);
      EXPECT_EQ(s.flow.ww(a, b, 7), 0.0);
    }
  // Faces between two body cells.  The sweep runs k, j, i ascending with the
  // six tests in the order x, y, z, so each face keeps the mirror of the
  // last cell that reaches it: the first column is mirrored across z (vv,
  // uu) or y (ww) by the body cells themselves, while in the second column
  // a later fluid cell downstream or above gets the last word.
  EXPECT_EQ(s.flow.vv(5, 6, 5), -in.flow.vv(5, 6, 4));
  EXPECT_EQ(s.flow.vv(6, 6, 5), -in.flow.vv(7, 6, 5));
  EXPECT_EQ(s.flow.vv(5, 6, 6), -in.flow.vv(5, 6, 7));
  EXPECT_EQ(s.flow.vv(6, 6, 6), -in.flow.vv(6, 6, 7));
  EXPECT_EQ(s.flow.ww(5, 5, 6), -in.flow.ww(5, 4, 6));
  EXPECT_EQ(s.flow.ww(6, 5, 6), -in.flow.ww(7, 5, 6));
  EXPECT_EQ(s.flow.ww(5, 6, 6), -in.flow.ww(5, 7, 6));
  EXPECT_EQ(s.flow.ww(6, 6, 6), -in.flow.ww(6, 7, 6));
  EXPECT_EQ(s.flow.uu(6, 5, 5), -in.flow.uu(6, 5, 4));
  EXPECT_EQ(s.flow.uu(6, 6, 5), -in.flow.uu(6, 7, 5));
  EXPECT_EQ(s.flow.uu(6, 5, 6), -in.flow.uu(6, 5, 7));
  EXPECT_EQ(s.flow.uu(6, 6, 6), -in.flow.uu(6, 6, 7));
  // The fluid faces around the block are read, never written.
  EXPECT_EQ(s.flow.vv(4, 6, 5), in.flow.vv(4, 6, 5));
  EXPECT_EQ(s.flow.vv(7, 6, 5), in.flow.vv(7, 6, 5));
  EXPECT_EQ(s.flow.uu(6, 4, 5), in.flow.uu(6, 4, 5));
}

TEST(Uvwbdy, BodySpanningTheDepthMirrorsUpstreamInItsFirstColumn) {
  // Body cells 5..6 in x and y through all of z, the z ghost flags extended
  // as the flag reader does: no z test fires, and with a field that only
  // varies in x the tangential faces inside the first column hold minus the
  // face one column upstream; with ca1 = +1 they copy it.
  for (double ca1 : {-1.0, 1.0}) {
    Store s = qvt::tiny_store(10, 10, 5, 1.0, 1, 1);
    s.run.ca1 = ca1;
    const qv::OutflowSwitches outflow{0, 0, 0};
    block(s, 5, 6, 5, 6, s.grid.ks - 2, s.grid.ke + 1);
    for (int i = 1; i <= s.flow.vv.ni(); ++i)
      for (int j = 1; j <= s.flow.vv.nj(); ++j)
        for (int k = 1; k <= s.flow.vv.nk(); ++k) {
          s.flow.uu(i, j, k) = 1.0 + i;
          s.flow.vv(i, j, k) = 0.5 * i;
          s.flow.ww(i, j, k) = 0.25 * i;
        }
    quiet_uvwbdy(s, outflow);
    for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k) {
      EXPECT_EQ(s.flow.vv(5, 6, k), ca1 * 0.5 * 4);
      EXPECT_EQ(s.flow.vv(6, 6, k), ca1 * 0.5 * 7);  // mirrored from downstream
      EXPECT_EQ(s.flow.vv(5, 5, k), 0.0);
      EXPECT_EQ(s.flow.vv(5, 7, k), 0.0);
      EXPECT_EQ(s.flow.uu(5, 5, k), 0.0);
      EXPECT_EQ(s.flow.uu(7, 6, k), 0.0);
      EXPECT_EQ(s.flow.uu(6, 5, k), ca1 * 7.0);  // mirrored across y
    }
  }
}

TEST(Uvwbdy, IsolatedBodyCellEndsWithSixZeroFaces) {
  for (double ca1 : {-1.0, 1.0}) {
    Store s = qvt::tiny_store(9, 9, 9, 1.0, 1, 1);
    s.run.ca1 = ca1;
    const qv::OutflowSwitches outflow{0, 0, 0};
    s.flow.iflag(6, 6, 6) = 1;
    fill_velocities(s);
    const Store in = s;
    quiet_uvwbdy(s, outflow);
    EXPECT_EQ(s.flow.uu(6, 6, 6), 0.0);
    EXPECT_EQ(s.flow.uu(7, 6, 6), 0.0);
    EXPECT_EQ(s.flow.vv(6, 6, 6), 0.0);
    EXPECT_EQ(s.flow.vv(6, 7, 6), 0.0);
    EXPECT_EQ(s.flow.ww(6, 6, 6), 0.0);
    EXPECT_EQ(s.flow.ww(6, 6, 7), 0.0);
    // Nothing else nearby moved.
    int changed = 0;
    for (int i = 4; i <= 8; ++i)
      for (int j = 4; j <= 8; ++j)
        for (int k = 4; k <= 8; ++k) {
          const bool u6 = j == 6 && k == 6 && (i == 6 || i == 7);
          const bool v6 = i == 6 && k == 6 && (j == 6 || j == 7);
          const bool w6 = i == 6 && j == 6 && (k == 6 || k == 7);
          changed += !u6 && s.flow.uu(i, j, k) != in.flow.uu(i, j, k);
          changed += !v6 && s.flow.vv(i, j, k) != in.flow.vv(i, j, k);
          changed += !w6 && s.flow.ww(i, j, k) != in.flow.ww(i, j, k);
        }
    EXPECT_EQ(changed, 0);
  }
}

// ------------------------------------------------------------- flux report

// The body surface of scattered body cells, every case of neighbour next
// to neighbour (a write of one test read or overwritten by a later one),
// against the two rules swept over every interior cell, k outer and i
// inner: the faces of the interior cells, which the side steps after them
// do not touch (periodic sides), are the same bits.  The body lies inside
// the box, away from its sides, so a sweep cut short at the body's edges
// shows.
TEST(Uvwbdy, BodySurfaceSweepsMatchTheSweepsOverEveryCell) {
  for (const double ca1 : {-1.0, 1.0}) {
    Store s = qvt::tiny_store(16, 14, 12, 1.0, 0, 0);
    s.run.ca1 = ca1;
    qvt::fill_random(s, 31);
    std::srand(5);
    for (int i = s.grid.is + 3; i <= s.grid.ie - 5; ++i)
      for (int j = s.grid.js + 2; j <= s.grid.je - 4; ++j)
        for (int k = s.grid.ks + 3; k <= s.grid.ke - 3; ++k) s.flow.iflag(i, j, k) = std::rand() % 3 == 0;
    Store ref = s;
    for (auto rule : {qv::surface_tangential, qv::surface_normal})
      for (int k = ref.grid.ks; k <= ref.grid.ke - 1; ++k)
        for (int j = ref.grid.js; j <= ref.grid.je - 1; ++j)
          for (int i = ref.grid.is; i <= ref.grid.ie - 1; ++i) rule(ref, i, j, k);
    quiet_uvwbdy(s);
    const Field* a[] = {&s.flow.uu, &s.flow.vv, &s.flow.ww};
    const Field* r[] = {&ref.flow.uu, &ref.flow.vv, &ref.flow.ww};
    int differ = 0, zeros = 0;
    for (int c = 0; c < 3; ++c)
      for (int i = s.grid.is; i <= s.grid.ie - 1; ++i)
        for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
          for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k) {
            const double x = (*a[c])(i, j, k), y = (*r[c])(i, j, k);
            differ += std::memcmp(&x, &y, sizeof x) != 0;
            zeros += x == 0;
          }
    EXPECT_EQ(differ, 0) << ca1;
    EXPECT_GT(zeros, 200) << ca1;  // the body has a surface
  }
}

TEST(Uvwbdy, FluxReport) {
  // Uniform stream through walls: the inflow balances the outflow.
  {
    Store s = qvt::tiny_store(6, 5, 4, 0.5, 1, 1);
    const qv::OutflowSwitches outflow{1, 1, 1};
    for (int i = 1; i <= s.flow.uu.ni(); ++i)
      for (int j = 1; j <= s.flow.uu.nj(); ++j)
        for (int k = 1; k <= s.flow.uu.nk(); ++k) s.flow.uu(i, j, k) = 1.25;
    testing::internal::CaptureStdout();
    qv::uvwbdy(s, outflow);
    const std::string out = testing::internal::GetCapturedStdout();
    double q = 1, u = 1;
    flux_line(out, q, u);
    EXPECT_NEAR(q, 0.0, 1e-12);
    EXPECT_EQ(u, 0.0);
  }
  // Periodic sides and a net inflow: every outer face counts, with its own area.
  {
    // 5 x 4 x 3 cells of widths 0.5, 0.25, 2: a box of 2.5 x 1 x 6.
    Store s = qvt::tiny_store(6, 5, 4, 1.0, 0, 0);
    for (int i = s.grid.is; i <= s.grid.ie; ++i) s.grid.x(i) = 0.5 * (i - s.grid.is);
    for (int j = s.grid.js; j <= s.grid.je; ++j) s.grid.y(j) = 0.25 * (j - s.grid.js);
    for (int k = s.grid.ks; k <= s.grid.ke; ++k) s.grid.z(k) = 2.0 * (k - s.grid.ks);
    qvt::build_metrics(s);
    const qv::OutflowSwitches outflow{0, 0, 0};
    // Face areas: 6 in x, 15 in y, 2.5 in z.
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k) {
        s.flow.uu(s.grid.is, j, k) = 2.0;  // in 12
        s.flow.uu(s.grid.ie, j, k) = 1.0;  // out 6
      }
    for (int i = s.grid.is; i <= s.grid.ie - 1; ++i)
      for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k) {
        s.flow.vv(i, s.grid.js, k) = 0.75;  // in 11.25
        s.flow.vv(i, s.grid.je, k) = 0.5;   // out 7.5
      }
    for (int i = s.grid.is; i <= s.grid.ie - 1; ++i)
      for (int j = s.grid.js; j <= s.grid.je - 1; ++j) {
        s.flow.ww(i, j, s.grid.ks) = 0.25;   // in 0.625
        s.flow.ww(i, j, s.grid.ke) = 0.125;  // out 0.3125
      }
    testing::internal::CaptureStdout();
    qv::uvwbdy(s, outflow);
    const std::string out = testing::internal::GetCapturedStdout();
    double q = 0, u = 1;
    flux_line(out, q, u);
    EXPECT_NEAR(q, 12.0 - 6.0 + 11.25 - 7.5 + 0.625 - 0.3125, 1e-12);
    EXPECT_EQ(u, 0.0);
  }
}

// ------------------------------------------------------------------ prsbdy

TEST(Prsbdy, ReferenceCellIsExactlyZeroAndBodyCellsHoldMinusTheReference) {
  // je = 23 is odd: the reference row is 11; ke = 8 gives layer 4.
  Store s = qvt::tiny_store(6, 21, 6, 1.0, 1, 1);
  ASSERT_EQ(s.grid.je, 23);
  fill(s.flow.pp, 0.1);
  s.flow.pp(s.grid.is, 11, 4) = 3.7;
  s.flow.iflag(5, 12, 5) = 1;
  s.flow.iflag(s.grid.is, 14, 5) = 1;
  const Store in = s;
  qv::prsbdy(s);
  EXPECT_EQ(s.flow.pp(s.grid.is, 11, 4), 0.0);
  EXPECT_EQ(s.flow.pp(5, 12, 5), -3.7);
  // Body cells are cleared before the ghosts copy them.
  EXPECT_EQ(s.flow.pp(s.grid.is, 14, 5), -3.7);
  EXPECT_EQ(s.flow.pp(s.grid.is - 1, 14, 5), -3.7);
  EXPECT_EQ(s.flow.pp(6, 13, 6), in.flow.pp(6, 13, 6) - 3.7);
  // The far layers ie+1, je+1, ke+1 are shifted though never set ...
  EXPECT_EQ(s.flow.pp(s.grid.ie + 1, 5, 5), in.flow.pp(s.grid.ie + 1, 5, 5) - 3.7);
  EXPECT_EQ(s.flow.pp(5, s.grid.je + 1, 5), in.flow.pp(5, s.grid.je + 1, 5) - 3.7);
  EXPECT_EQ(s.flow.pp(5, 5, s.grid.ke + 1), in.flow.pp(5, 5, s.grid.ke + 1) - 3.7);
  // ... while the layers beyond the shifted block are left alone.
  EXPECT_EQ(s.flow.pp(s.grid.ie + 2, 5, 5), in.flow.pp(s.grid.ie + 2, 5, 5));
  EXPECT_EQ(s.flow.pp(5, s.grid.js - 2, 5), in.flow.pp(5, s.grid.js - 2, 5));
  EXPECT_EQ(s.flow.pp(5, 5, s.grid.ks - 2), in.flow.pp(5, 5, s.grid.ks - 2));
  // Zero gradient at the inflow and outflow faces.
  for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j) {
      EXPECT_EQ(s.flow.pp(s.grid.is - 1, j, k), s.flow.pp(s.grid.is, j, k));
      EXPECT_EQ(s.flow.pp(s.grid.ie, j, k), s.flow.pp(s.grid.ie - 1, j, k));
    }
}

TEST(Prsbdy, SidesEdgesAndCornersForAllSideKinds) {
  for (const EdgeRow& row : kEdges) {
    SCOPED_TRACE(testing::Message() << "iyper " << row.iyper << " izper " << row.izper);
    // izper = 2 is treated like 1 here.
    for (int izper : row.izper == 0 ? std::vector<int>{0} : std::vector<int>{1, 2}) {
      Store s = qvt::tiny_store(6, 7, 8, 1.0, row.iyper, izper);
      fill(s.flow.pp, 0.5);
      qv::prsbdy(s);
      const int is = s.grid.is, ie = s.grid.ie, js = s.grid.js, je = s.grid.je, ks = s.grid.ks, ke = s.grid.ke;
      const bool yp = row.iyper == 0, zp = izper == 0;
      // Differences are free of the reference shift; compare the tagged
      // entry values they stand for.
      auto P = [&](int i, int j, int k) { return s.flow.pp(i, j, k) - s.flow.pp(is, js, ks) + tag(0.5, is, js, ks); };
      for (int k = ks; k <= ke - 1; ++k)
        for (int i = is; i <= ie - 1; ++i) {
          EXPECT_EQ(P(i, js - 1, k), tag(0.5, i, yp ? je - 1 : js, k));
          EXPECT_EQ(P(i, je, k), tag(0.5, i, yp ? js : je - 1, k));
        }
      for (int j = js; j <= je - 1; ++j)
        for (int i = is; i <= ie - 1; ++i) {
          EXPECT_EQ(P(i, j, ks - 1), tag(0.5, i, j, zp ? ke - 1 : ks));
          EXPECT_EQ(P(i, j, ke), tag(0.5, i, j, zp ? ks : ke - 1));
        }
      for (int i = is; i <= ie - 1; ++i)
        for (int c = 0; c < 4; ++c)
          EXPECT_EQ(P(i, at(s, kCornerJ[c]), at(s, kCornerK[c])),
                    tag(0.5, i, at(s, row.src[c][0]), at(s, row.src[c][1])));
      for (int j = js; j <= je - 1; ++j) {
        EXPECT_EQ(P(is - 1, j, ks - 1), tag(0.5, is, j, zp ? ke - 1 : ks));
        EXPECT_EQ(P(ie, j, ks - 1), tag(0.5, ie - 1, j, zp ? ke - 1 : ks));
        EXPECT_EQ(P(is - 1, j, ke), tag(0.5, is, j, zp ? ks : ke - 1));
        EXPECT_EQ(P(ie, j, ke), tag(0.5, ie - 1, j, zp ? ks : ke - 1));
      }
      for (int k = ks; k <= ke - 1; ++k) {
        EXPECT_EQ(P(is - 1, js - 1, k), tag(0.5, is, yp ? je - 1 : js, k));
        EXPECT_EQ(P(ie, js - 1, k), tag(0.5, ie - 1, yp ? je - 1 : js, k));
        EXPECT_EQ(P(is - 1, je, k), tag(0.5, is, yp ? js : je - 1, k));
        EXPECT_EQ(P(ie, je, k), tag(0.5, ie - 1, yp ? js : je - 1, k));
      }
      // The eight corners copy the edge lines of the first and last columns.
      for (int c = 0; c < 4; ++c) {
        const int cj = at(s, kCornerJ[c]), ck = at(s, kCornerK[c]);
        EXPECT_EQ(s.flow.pp(is - 1, cj, ck), s.flow.pp(is, cj, ck));
        EXPECT_EQ(s.flow.pp(ie, cj, ck), s.flow.pp(ie - 1, cj, ck));
      }
    }
  }
}

}  // namespace
