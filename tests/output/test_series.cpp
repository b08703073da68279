// The time-series file: line layout, fresh start, and the console answer of
// a continued run (through the real program).
#include <gtest/gtest.h>

#include <filesystem>

#include "output/output.hpp"
#include "io/files.hpp"
#include "io/format.hpp"
#include "support/case.hpp"

namespace fs = std::filesystem;

namespace {

const char* const kHeader2 = " #nn       t         Vin        pfx        pfy        pft      xdis      ydis\r\n";

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::size_t p = 0;
  while (p < text.size()) {
    const std::size_t e = text.find("\r\n", p);
    if (e == std::string::npos) {
      out.push_back(text.substr(p) + "<no CRLF>");
      break;
    }
    out.push_back(text.substr(p, e - p));
    p = e + 2;
  }
  return out;
}

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

}  // namespace

TEST(TimeSeries, FreshStartReplacesFileAndLinesAppend) {
  const std::string dir = qvt::temp_dir("series");
  qvt::ScopedDir cd(dir);
  fs::create_directory("DAT");
  qvt::write_file(qv::kSeriesFile, "old line 1\r\nold line 2\r\nold line 3\r\n");
  qv::Store s;
  testing::internal::CaptureStdout();
  qv::initsout(s, 0.0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("?(0/1)"), std::string::npos) << "a fresh start asks nothing";
  qv::tsout(10, 0.1, 0.8614, -0.08506, 0.006264, 0.003047, 0.02455, -0.00008668);
  qv::tsout(20, 123.45678, -1.0, 1e-12, -2.5e5, 0.0, -0.5, 12345.6);
  const auto l = lines_of(qvt::read_file(qv::kSeriesFile));
  ASSERT_EQ(l.size(), 4u);
  EXPECT_EQ(l[0].rfind(" #start at t=", 0), 0u);
  EXPECT_EQ(std::stod(l[0].substr(13)), 0.0);
  EXPECT_EQ(l[1] + "\r\n", kHeader2);
  // I6, F10.4, six E12.4: signs inside their fields, columns never merge
  EXPECT_EQ(l[2], "    10    0.1000  0.8614E+00 -0.8506E-01  0.6264E-02  0.3047E-02  0.2455E-01 -0.8668E-04");
  EXPECT_EQ(l[3], "    20  123.4568 -0.1000E+01  0.1000E-11 -0.2500E+06  0.0000E+00 -0.5000E+00  0.1235E+05");
}

TEST(TimeSeries, LineNeedsExistingFile) {
  const std::string dir = qvt::temp_dir("series-missing");
  qvt::ScopedDir cd(dir);
  fs::create_directory("DAT");
  try {
    qv::tsout(10, 0.1, 1, 0, 0, 0, 0, 0);
    FAIL() << "no error";
  } catch (const qv::IoError& e) {
    EXPECT_STREQ(e.what(), "file not found, unit 20, file DAT/quivel_vib8.ts");
  }
}

// A first run of 10 steps, then continued runs from its final field and
// body-state files, each answering the question differently.
class ContinuedSeries : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    base_ = qvt::temp_dir("series-base");
    qvt::CaseSetup c;
    c.nt = 10;
    qvt::write_case(base_, c);
    ASSERT_EQ(qvt::run_program(base_, "1.0\n"), 0);
    first_ = qvt::read_file(base_ + "/" + qv::kSeriesFile);
    // continue from final.dat and body.dat
    std::string inf = qvt::read_file(base_ + "/quivel_vib8.inf");
    inf.replace(34, 14, qv::fmt::A("final.dat", 14));
    const std::size_t l10 = [&] {
      std::size_t p = 0;
      for (int n = 0; n < 9; ++n) p = inf.find("\r\n", p) + 2;
      return p;
    }();
    inf.replace(l10 + 2, 14, qv::fmt::A("body.dat", 14));
    qvt::write_file(base_ + "/quivel_vib8.inf", inf);
    fs::remove(base_ + "/stat.dat");
  }
  // A copy of the prepared case, run with the given console input.
  static int run(const std::string& console, std::string* dir_out, std::string* out) {
    const std::string dir = qvt::temp_dir("series-cont");
    fs::copy(base_, dir, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    *dir_out = dir;
    return qvt::run_program(dir, console, out);
  }
  static std::string base_, first_;
};
std::string ContinuedSeries::base_, ContinuedSeries::first_;

TEST_F(ContinuedSeries, AnswerZeroAppendsSecondHeaderPair) {
  std::string dir, out;
  ASSERT_EQ(run("1.0\n0\n", &dir, &out), 0);
  EXPECT_NE(out.find(" ts output append to exsisting file or start from t="), std::string::npos);
  const std::string ts = qvt::read_file(dir + "/" + qv::kSeriesFile);
  ASSERT_EQ(ts.rfind(first_, 0), 0u) << "the first run's lines stay in front";
  const auto l = lines_of(ts);
  ASSERT_EQ(l.size(), 6u);
  EXPECT_EQ(l[3].rfind(" #start at t=", 0), 0u);
  EXPECT_NEAR(std::stod(l[3].substr(13)), 0.1, 1e-12);
  EXPECT_EQ(l[4] + "\r\n", kHeader2);
  EXPECT_EQ(l[2].substr(0, 16), "    10    0.1000");
  EXPECT_EQ(l[5].substr(0, 16), "    10    0.2000");
}

TEST_F(ContinuedSeries, AnswerOneStartsAnew) {
  std::string dir, out;
  ASSERT_EQ(run("1.0 1\n", &dir, &out), 0);
  const auto l = lines_of(qvt::read_file(dir + "/" + qv::kSeriesFile));
  ASSERT_EQ(l.size(), 3u);
  EXPECT_NEAR(std::stod(l[0].substr(13)), 0.1, 1e-12);
  EXPECT_EQ(l[2].substr(0, 16), "    10    0.2000");
}

TEST_F(ContinuedSeries, OtherOrMissingAnswerStopsBeforeFirstStep) {
  for (const char* console : {"1.0\n2\n", "1.0\n-1\n", "1.0\nyes\n", "1.0\n"}) {
    SCOPED_TRACE(console);
    std::string dir, out;
    EXPECT_NE(run(console, &dir, &out), 0);
    EXPECT_EQ(count(out, "itm2c nn2 nn ="), 0);
    EXPECT_EQ(qvt::read_file(dir + "/" + qv::kSeriesFile), first_);
    EXPECT_FALSE(fs::exists(dir + "/stat.dat"));
  }
}
