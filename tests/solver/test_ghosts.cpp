// Body-surface ghost velocities: the face rule, the reflection groups B..G
// and the own-direction rule A, one target at a time.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "solver/solver.hpp"
#include "support/case.hpp"

namespace {

using qv::Field;
using qv::Store;

using Off = std::array<int, 3>;

Field& comp(Store& s, int c) { return c == 0 ? s.flow.uu : (c == 1 ? s.flow.vv : s.flow.ww); }
const Field& comp(const Store& s, int c) { return c == 0 ? s.flow.uu : (c == 1 ? s.flow.vv : s.flow.ww); }

void fill(Field& f, double base) {
  for (int i = 1; i <= f.ni(); ++i)
    for (int j = 1; j <= f.nj(); ++j)
      for (int k = 1; k <= f.nk(); ++k) f(i, j, k) = base + i * 10000.0 + j * 100.0 + k;
}

// A store with every velocity entry distinct; the point swept is P.
constexpr int P = 7;
Store tagged(double ca1) {
  Store s = qvt::tiny_store(10, 10, 10);
  s.run.ca1 = ca1;
  fill(s.flow.uu, 1e6);
  fill(s.flow.vv, 2e6);
  fill(s.flow.ww, 3e6);
  return s;
}

// Velocity entries that differ between a and b.
int changes(const Store& a, const Store& b) {
  int n = 0;
  for (const auto m : {&qv::Flow::uu, &qv::Flow::vv, &qv::Flow::ww}) {
    const Field& fa = a.flow.*m;
    const Field& fb = b.flow.*m;
    for (int i = 1; i <= fa.ni(); ++i)
      for (int j = 1; j <= fa.nj(); ++j)
        for (int k = 1; k <= fa.nk(); ++k) n += fa(i, j, k) != fb(i, j, k);
  }
  return n;
}

// The cell on the low side of a velocity point of component c.
Off low_cell(int c, Off p) {
  p[c] -= 1;
  return p;
}

void mark(Store& s, Off c) { s.flow.iflag(c[0], c[1], c[2]) = 1; }

struct Group {
  const char* name;
  int c;           // component: 0 uu, 1 vv, 2 ww
  int depth;       // ghosts 1 or 2 points away
  Off targets[4];  // offsets from the point, in the order applied
  bool halfway;    // value from the point halfway instead of the point itself
};

const Group kGroups[] = {
    {"B", 0, 1, {{0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}}, false},
    {"C", 0, 2, {{0, 2, 0}, {0, -2, 0}, {0, 0, 2}, {0, 0, -2}}, true},
    {"D", 1, 1, {{1, 0, 0}, {-1, 0, 0}, {0, 0, 1}, {0, 0, -1}}, false},
    {"E", 1, 2, {{2, 0, 0}, {-2, 0, 0}, {0, 0, 2}, {0, 0, -2}}, true},
    {"F", 2, 1, {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}}, false},
    {"G", 2, 2, {{2, 0, 0}, {-2, 0, 0}, {0, 2, 0}, {0, -2, 0}}, true},
};

Off plus(Off o, int scale = 1) { return {P + scale * o[0], P + scale * o[1], P + scale * o[2]}; }
Off half(Off o) { return {o[0] / 2, o[1] / 2, o[2] / 2}; }

TEST(Reflection, EachTargetInsideTheBodyMirrorsItsSource) {
  for (const Group& g : kGroups)
    for (const Off& o : g.targets)
      for (double ca1 : {-1.0, 1.0}) {
        SCOPED_TRACE(testing::Message() << g.name << " target " << o[0] << "," << o[1] << "," << o[2]
                                        << " ca1 " << ca1);
        Store s = tagged(ca1);
        const Off t = plus(o);
        mark(s, t);
        mark(s, low_cell(g.c, t));
        const Store in = s;
        qv::reflect(s, g.c, g.depth, P, P, P);
        const Off src = g.halfway ? plus(half(o)) : plus({0, 0, 0});
        Field& f = comp(s, g.c);
        EXPECT_EQ(f(t[0], t[1], t[2]), ca1 * comp(in, g.c)(src[0], src[1], src[2]));
        EXPECT_EQ(changes(s, in), 1);
      }
}

TEST(Reflection, SurfaceFacesAndBodyPointsAreLeftAlone) {
  for (const Group& g : kGroups)
    for (const Off& o : g.targets) {
      SCOPED_TRACE(testing::Message() << g.name << " target " << o[0] << "," << o[1] << "," << o[2]);
      const Off t = plus(o);
      // Only one body cell beside the target: a face on the body surface.
      for (const Off& cell : {t, low_cell(g.c, t)}) {
        Store s = tagged(-1);
        mark(s, cell);
        const Store in = s;
        qv::reflect(s, g.c, g.depth, P, P, P);
        EXPECT_EQ(changes(s, in), 0);
      }
      // The point's own cell is a body cell: the group does nothing.
      Store s = tagged(-1);
      mark(s, t);
      mark(s, low_cell(g.c, t));
      mark(s, {P, P, P});
      const Store in = s;
      qv::reflect(s, g.c, g.depth, P, P, P);
      EXPECT_EQ(changes(s, in), 0);
    }
}

TEST(Reflection, SecondGhostReadsTheFirstGhostOfTwoBodyRows) {
  // Rows j+1 and j+2 beside the fluid row j are body in columns i-1 and i.
  for (double ca1 : {-1.0, 1.0}) {
    Store s = tagged(ca1);
    for (int j : {P + 1, P + 2})
      for (int i : {P - 1, P}) s.flow.iflag(i, j, P) = 1;
    const double u = s.flow.uu(P, P, P);
    qv::reflect(s, 0, 1, P, P, P);
    qv::reflect(s, 0, 2, P, P, P);
    EXPECT_EQ(s.flow.uu(P, P + 1, P), ca1 * u);
    EXPECT_EQ(s.flow.uu(P, P + 2, P), u);
  }
  // With only row j+2 inside, the second ghost takes whatever row j+1 holds.
  Store s = tagged(-1);
  s.flow.iflag(P - 1, P + 2, P) = s.flow.iflag(P, P + 2, P) = 1;
  const double mid = s.flow.uu(P, P + 1, P);
  qv::reflect(s, 0, 2, P, P, P);
  EXPECT_EQ(s.flow.uu(P, P + 2, P), -mid);
}

TEST(Reflection, RuleAMirrorsThePointTwoFacesAway) {
  for (int dir = 0; dir < 3; ++dir)
    for (double ca1 : {-1.0, 1.0}) {
      SCOPED_TRACE(testing::Message() << "direction " << dir << " ca1 " << ca1);
      auto cell = [&](int n) {
        Off c = {P, P, P};
        c[dir] += n;
        return c;
      };
      auto value = [&](const Store& s, int n) {
        const Off c = cell(n);
        return comp(s, dir)(c[0], c[1], c[2]);
      };
      // Body cell ahead: the face between is the surface, the ghost beyond it
      // mirrors the point.  No guard: the point's own cell may be body too.
      for (bool own : {false, true}) {
        Store s = tagged(ca1);
        mark(s, cell(1));
        if (own) mark(s, cell(0));
        const Store in = s;
        qv::reflect_A(s, dir, P, P, P);
        EXPECT_EQ(value(s, 2), ca1 * value(in, 0));
        EXPECT_EQ(changes(s, in), 1);
      }
      // Body cell two behind: the ghost there mirrors the point.
      {
        Store s = tagged(ca1);
        mark(s, cell(-2));
        const Store in = s;
        qv::reflect_A(s, dir, P, P, P);
        EXPECT_EQ(value(s, -2), ca1 * value(in, 0));
        EXPECT_EQ(changes(s, in), 1);
      }
      // The tests look at cells +1 and -2 only.
      for (int n : {2, -1}) {
        Store s = tagged(ca1);
        mark(s, cell(n));
        const Store in = s;
        qv::reflect_A(s, dir, P, P, P);
        EXPECT_EQ(changes(s, in), 0) << "body cell at " << n;
      }
    }
}

TEST(FaceRule, ZeroesTheSixFacesOfTheCell) {
  Store s = tagged(-1);
  const Store in = s;
  qv::face_rule(s, P, P, P);
  EXPECT_EQ(s.flow.uu(P, P, P), 0.0);
  EXPECT_EQ(s.flow.uu(P + 1, P, P), 0.0);
  EXPECT_EQ(s.flow.vv(P, P, P), 0.0);
  EXPECT_EQ(s.flow.vv(P, P + 1, P), 0.0);
  EXPECT_EQ(s.flow.ww(P, P, P), 0.0);
  EXPECT_EQ(s.flow.ww(P, P, P + 1), 0.0);
  EXPECT_EQ(changes(s, in), 6);
}

}  // namespace
