// The field store: extents, memory order, zeroing.
#include <gtest/gtest.h>

#include "store/store.hpp"

namespace {

qv::Store sized(int nx, int ny, int nz) {
  qv::Store s;
  s.ie = nx + 2;
  s.je = ny + 2;
  s.ke = nz + 2;
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
  EXPECT_EQ(big.uu.ni(), qv::kMaxI);
  EXPECT_EQ(big.pp.nj(), qv::kMaxJ);
  EXPECT_EQ(big.iflag.nk(), qv::kMaxK);

  const qv::Store s = sized(4, 5, 6);
  const qv::Field& f = s.uu;
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
      &s.su,  &s.sv,  &s.sw,  &s.suu, &s.svv, &s.sww, &s.suv, &s.svw,  &s.swu,  &s.sgs11, &s.sgs22, &s.sgs33, &s.spm,
      &s.spm2, &s.snut, &s.tauxy, &s.tauyz, &s.tauxz, &s.uu, &s.vv, &s.ww, &s.pp, &s.un, &s.vn, &s.wn, &s.pn,
      &s.fu0, &s.fv0, &s.fw0, &s.fu, &s.fv, &s.fw, &s.nut, &s.fxn0, &s.fyn0, &s.fxn, &s.fyn};
  for (qv::Field* f : fields) {
    (*f)(1, 1, 1) = 1;
    (*f)(f->ni(), f->nj(), f->nk()) = 1;
  }
  s.iflag(s.iflag.ni(), s.iflag.nj(), s.iflag.nk()) = 5;
  for (qv::Line* l : {&s.x, &s.dx, &s.dxc, &s.y, &s.dy, &s.dyc, &s.z, &s.dz, &s.dzc}) (*l)(l->size()) = 1;
  s.fhist.back() = 1;
  s.bhist.back() = 1;
  qv::initarr(s);
  for (qv::Field* f : fields) {
    EXPECT_EQ((*f)(1, 1, 1), 0.0);
    EXPECT_EQ((*f)(f->ni(), f->nj(), f->nk()), 0.0);
  }
  EXPECT_EQ(s.iflag(s.iflag.ni(), s.iflag.nj(), s.iflag.nk()), 0);
  for (qv::Line* l : {&s.x, &s.dx, &s.dxc, &s.y, &s.dy, &s.dyc, &s.z, &s.dz, &s.dzc}) EXPECT_EQ((*l)(l->size()), 0.0);
  EXPECT_EQ(s.fhist.back(), 0.0);
  EXPECT_EQ(s.bhist.back(), 0.0);
}

#ifdef QV_BOUNDS_CHECK
TEST(StoreDeathTest, IndicesOutsideTheStoreAbort) {
  qv::Store s = sized(4, 4, 3);
  EXPECT_DEATH(s.uu(s.uu.ni() + 1, 1, 1) = 1, "outside the store box");
  EXPECT_DEATH(s.iflag(1, 0, 1) = 1, "outside the store box");
}
#endif

// The body history keeps every sample: full at its starting room, it grows
// and keeps what it holds; at the most a record of vfile can hold it stops.
TEST(Store, BodyHistoryGrowsPastItsStartingRoom) {
  qv::Store s = sized(4, 4, 3);
  const std::size_t start = static_cast<std::size_t>(qv::kHistoryStart);
  ASSERT_EQ(s.fhist.size(), 3 * start);
  s.nsample = qv::kHistoryStart;
  s.fhist[3 * start - 1] = 7.5;
  s.bhist[9 * start - 1] = -2.5;
  ASSERT_TRUE(qv::history_room(s));
  EXPECT_GE(s.fhist.size(), 3 * (start + 1));
  EXPECT_EQ(s.bhist.size(), 3 * s.fhist.size());
  EXPECT_EQ(s.fhist[3 * start - 1], 7.5);
  EXPECT_EQ(s.bhist[9 * start - 1], -2.5);
  s.nsample = qv::kMaxSamples;
  EXPECT_FALSE(qv::history_room(s));
}
