// Body flag file: layout, count check, extension into the y and z ghosts.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <tuple>

#include "io/files.hpp"
#include "io/format.hpp"
#include "store/input.hpp"
#include "support/case.hpp"

namespace fs = std::filesystem;
using qv::fmt::I;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

using Cell = std::tuple<int, int, int>;

class FlagFileTest : public qvt::InTempDir {
 protected:
  // The flag file of s's fluid box, i fastest, ten to a line: 0 except `body`.
  static void write_flags(const qv::Store& s, const std::map<Cell, int>& body) {
    std::string t = I(s.grid.ie - 2, 5) + I(s.grid.je - 2, 5) + I(s.grid.ke - 2, 5) + "\r\n";
    int n = 0;
    for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
      for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
        for (int i = s.grid.is; i <= s.grid.ie - 1; ++i) {
          auto it = body.find({i, j, k});
          t += I(it == body.end() ? 0 : it->second, 5);
          if (++n % 10 == 0) t += "\r\n";
        }
    if (n % 10 != 0) t += "\r\n";
    qvt::write_file("flag.dat", t);
  }
  // rdflag; returns the console output, *err the failure (IoError text or "stop").
  static std::string read_flags(qv::Store& s, std::string* err) {
    return qvt::capture_failure([&] { qv::rdflag(s, "flag.dat      "); }, err);
  }
};

}  // namespace

TEST_F(FlagFileTest, TwelveFlagsOnTwoLinesFirstIndexFastest) {
  qv::Store s = qvt::tiny_store(4, 3, 3);  // cells i 3..5, j 3..4, k 3..4
  ASSERT_EQ(s.grid.ie, 6);
  qvt::write_file("flag.dat", "    4    3    3\r\n"
                              "    1    2    3    4    5    6    7    8    9   10   99\r\n"
                              "   11   12\r\n");
  std::string err;
  EXPECT_EQ(read_flags(s, &err), "");
  ASSERT_EQ(err, "");
  int n = 0;
  for (int k = 3; k <= 4; ++k)
    for (int j = 3; j <= 4; ++j)
      for (int i = 3; i <= 5; ++i) EXPECT_EQ(s.flow.iflag(i, j, k), ++n) << i << j << k;
  // the column behind the outflow face is not in the file and not extended
  for (int j = 1; j <= s.grid.je + 1; ++j)
    for (int k = 1; k <= s.grid.ke + 1; ++k) {
      EXPECT_EQ(s.flow.iflag(6, j, k), 0);
      EXPECT_EQ(s.flow.iflag(2, j, k), 0);
    }
}

TEST_F(FlagFileTest, BodyCellsOnTheSidesFillTwoGhostLayers) {
  qv::Store s = qvt::tiny_store(5, 5, 5);  // cells 3..6 in every direction
  const std::map<Cell, int> body = {
      {{3, 4, 3}, 2},   // first z layer, first x column, interior y
      {{5, 6, 5}, -1},  // last y row, interior z
      {{4, 3, 6}, 3},   // first y row and last z layer
      {{4, 4, 4}, 1},   // interior
  };
  write_flags(s, body);
  std::string err;
  read_flags(s, &err);
  ASSERT_EQ(err, "");
  std::map<Cell, int> want = body;
  for (Cell c : {Cell{3, 4, 2}, Cell{3, 4, 1}, Cell{5, 7, 5}, Cell{5, 8, 5}, Cell{4, 3, 7}, Cell{4, 3, 8},
                 Cell{4, 2, 6}, Cell{4, 1, 6}})
    want[c] = 1;
  for (int i = 1; i <= s.grid.ie + 2; ++i)
    for (int j = 1; j <= s.grid.je + 2; ++j)
      for (int k = 1; k <= s.grid.ke + 2; ++k) {
        auto it = want.find({i, j, k});
        EXPECT_EQ(s.flow.iflag(i, j, k), it == want.end() ? 0 : it->second) << i << "," << j << "," << k;
      }
}

TEST_F(FlagFileTest, BlankFieldsAreFluid) {
  qv::Store s = qvt::tiny_store(3, 3, 2);  // 2 x 2 x 1 cells
  qvt::write_file("flag.dat", "    3    3    2\n         1\n");
  std::string err;
  read_flags(s, &err);
  ASSERT_EQ(err, "");
  EXPECT_EQ(s.flow.iflag(3, 3, 3), 0);
  EXPECT_EQ(s.flow.iflag(4, 3, 3), 1);
  EXPECT_EQ(s.flow.iflag(3, 4, 3), 0);
  EXPECT_EQ(s.flow.iflag(4, 4, 3), 0);
  // a single z layer is both the first and the last
  EXPECT_EQ(s.flow.iflag(4, 3, 2), 1);
  EXPECT_EQ(s.flow.iflag(4, 3, 4), 1);
  EXPECT_EQ(s.flow.iflag(4, 2, 3), 1);
  EXPECT_EQ(s.flow.iflag(4, 5, 3), 0);
}

TEST_F(FlagFileTest, CountMismatchStops) {
  qv::Store s = qvt::tiny_store(4, 3, 3);
  struct Case {
    int nx, ny, nz, err;
  };
  for (const Case& c : {Case{5, 3, 3, 1}, Case{4, 2, 3, 2}, Case{4, 3, 4, 3}, Case{5, 4, 3, 2}, Case{3, 3, 2, 3}}) {
    qvt::write_file("flag.dat", I(c.nx, 5) + I(c.ny, 5) + I(c.nz, 5) + "\r\n" + std::string(60, ' ') + "\r\n");
    std::string err;
    const std::string out = read_flags(s, &err);
    EXPECT_EQ(err, "stop");
    EXPECT_EQ(out, " # of data are not same in rdflag.\n [1];x [2];y [3];z not same " + I(c.err, 12) + "\n");
  }
}

TEST_F(FlagFileTest, MissingShortAndMalformedFiles) {
  qv::Store s = qvt::tiny_store(4, 3, 3);
  std::string err;
  read_flags(s, &err);
  EXPECT_EQ(err, "file not found, unit 13, file flag.dat");
  qvt::write_file("flag.dat", "    4    3    3\n    1    2    3    4    5    6    7    8    9   10\n");
  read_flags(s, &err);
  EXPECT_EQ(err, "end-of-file during read, unit 13, file flag.dat");
  qvt::write_file("flag.dat", "    4    3    3\n    1    2    3    4  1.0\n");
  read_flags(s, &err);
  EXPECT_EQ(err, "input conversion error, unit 13, file flag.dat");
}
