// The field store: extents, memory order, zeroing.
#include <gtest/gtest.h>

#include "store/store.hpp"

namespace {

qv::Store sized(int nx, int ny, int nz) {
  qv::Store s;
  s.grid.ie = nx + 2;
  s.grid.je = ny + 2;
  s.grid.ke = nz + 2;
  s.allocate();
  return s;
}

}  // namespace

TEST(Store, ExtentsAndMemoryOrder) {
  EXPECT_TRUE(qv::fits_store(213, 161, 61));
  EXPECT_FALSE(qv::fits_store(214, 161, 61));
  EXPECT_FALSE(qv::fits_store(213, 162, 61));
  EXPECT_FALSE(qv::fits_store(213, 161, 62));
  const qv::Store big = sized(213, 161, 61);
  EXPECT_EQ(big.flow.uu.ni(), qv::kMaxI);
  EXPECT_EQ(big.flow.pp.nj(), qv::kMaxJ);
  EXPECT_EQ(big.flow.iflag.nk(), qv::kMaxK);

  const qv::Store s = sized(4, 5, 6);
  const qv::Field& f = s.flow.uu;
  EXPECT_EQ(f.ni(), 8);
  EXPECT_EQ(f.index(2, 3, 5) - f.index(2, 3, 4), 1u);
  EXPECT_EQ(f.index(2, 4, 4) - f.index(2, 3, 4), static_cast<std::size_t>(f.nk()));
  EXPECT_EQ(f.index(3, 3, 4) - f.index(2, 3, 4), static_cast<std::size_t>(f.nj()) * f.nk());
  EXPECT_EQ(f.index(f.ni(), f.nj(), f.nk()), static_cast<std::size_t>(f.ni()) * f.nj() * f.nk() - 1);
  EXPECT_EQ(f.value_or_zero(0, 1, 1), 0.0);
  EXPECT_EQ(f.value_or_zero(3, 300, 3), 0.0);
}

TEST(Store, InitarrZeroesTheWholeExtent) {
  qv::Store s = sized(5, 4, 3);
  const std::vector<qv::Field*> fields = {
      &s.stats.su,   &s.stats.sv,    &s.stats.sw,    &s.stats.suu,   &s.stats.svv,   &s.stats.sww, &s.stats.suv,
      &s.stats.svw,  &s.stats.swu,   &s.stats.sgs11, &s.stats.sgs22, &s.stats.sgs33, &s.stats.spm, &s.stats.spm2,
      &s.stats.snut, &s.stats.tauxy, &s.stats.tauyz, &s.stats.tauxz, &s.flow.uu,     &s.flow.vv,   &s.flow.ww,
      &s.flow.pp,    &s.work.un,     &s.work.vn,     &s.work.wn,     &s.work.pn,     &s.flow.fu0,  &s.flow.fv0,
      &s.flow.fw0,   &s.flow.fu,     &s.flow.fv,     &s.flow.fw,     &s.flow.nut,    &s.flow.fxn0, &s.flow.fyn0,
      &s.flow.fxn,   &s.flow.fyn};
  for (qv::Field* f : fields) {
    (*f)(1, 1, 1) = 1;
    (*f)(f->ni(), f->nj(), f->nk()) = 1;
  }
  s.flow.iflag(s.flow.iflag.ni(), s.flow.iflag.nj(), s.flow.iflag.nk()) = 5;
  for (qv::Line* l :
       {&s.grid.x, &s.grid.dx, &s.grid.dxc, &s.grid.y, &s.grid.dy, &s.grid.dyc, &s.grid.z, &s.grid.dz, &s.grid.dzc})
    (*l)(l->size()) = 1;
  s.body.fhist.back() = 1;
  s.body.bhist.back() = 1;
  qv::initarr(s);
  for (qv::Field* f : fields) {
    EXPECT_EQ((*f)(1, 1, 1), 0.0);
    EXPECT_EQ((*f)(f->ni(), f->nj(), f->nk()), 0.0);
  }
  EXPECT_EQ(s.flow.iflag(s.flow.iflag.ni(), s.flow.iflag.nj(), s.flow.iflag.nk()), 0);
  for (qv::Line* l :
       {&s.grid.x, &s.grid.dx, &s.grid.dxc, &s.grid.y, &s.grid.dy, &s.grid.dyc, &s.grid.z, &s.grid.dz, &s.grid.dzc})
    EXPECT_EQ((*l)(l->size()), 0.0);
  EXPECT_EQ(s.body.fhist.back(), 0.0);
  EXPECT_EQ(s.body.bhist.back(), 0.0);
}

#ifdef QV_BOUNDS_CHECK
TEST(StoreDeathTest, IndicesOutsideTheStoreAbort) {
  qv::Store s = sized(4, 4, 3);
  EXPECT_DEATH(s.flow.uu(s.flow.uu.ni() + 1, 1, 1) = 1, "outside the store box");
  EXPECT_DEATH(s.flow.iflag(1, 0, 1) = 1, "outside the store box");
}
#endif

// The body history keeps every sample: full at its starting room, it grows
// and keeps what it holds; at the most a record of vfile can hold it stops.
TEST(Store, BodyHistoryGrowsPastItsStartingRoom) {
  qv::Store s = sized(4, 4, 3);
  const std::size_t start = static_cast<std::size_t>(qv::kHistoryStart);
  ASSERT_EQ(s.body.fhist.size(), 3 * start);
  s.body.nsample = qv::kHistoryStart;
  s.body.fhist[3 * start - 1] = 7.5;
  s.body.bhist[9 * start - 1] = -2.5;
  ASSERT_TRUE(qv::history_room(s.body));
  EXPECT_GE(s.body.fhist.size(), 3 * (start + 1));
  EXPECT_EQ(s.body.bhist.size(), 3 * s.body.fhist.size());
  EXPECT_EQ(s.body.fhist[3 * start - 1], 7.5);
  EXPECT_EQ(s.body.bhist[9 * start - 1], -2.5);
  s.body.nsample = qv::kMaxSamples;
  EXPECT_FALSE(qv::history_room(s.body));
}
