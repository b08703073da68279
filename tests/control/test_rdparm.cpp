// Parameter file and file-name list, store limits, the run-time change file.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "control/run.hpp"
#include "io/files.hpp"
#include "io/format.hpp"
#include "store/input.hpp"
#include "support/case.hpp"

namespace fs = std::filesystem;
using qv::fmt::F;
using qv::fmt::general;
using qv::fmt::I;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> v;
  std::size_t p = 0;
  while (p < text.size()) {
    std::size_t e = std::min(text.find('\n', p), text.size());
    v.push_back(text.substr(p, e - p));
    if (!v.back().empty() && v.back().back() == '\r') v.back().pop_back();
    p = e + 1;
  }
  return v;
}

void write_lines(const std::string& file, const std::vector<std::string>& v) {
  std::string s;
  for (const auto& l : v) s += l + "\r\n";
  qvt::write_file(file, s);
}

// Replaces line n (1-based) of a text file.
void set_line(const std::string& file, std::size_t n, const std::string& text) {
  auto v = lines_of(qvt::read_file(file));
  v.at(n - 1) = text;
  write_lines(file, v);
}

class ParamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qvt::CaseSetup c;
    c.amas = 2;
    c.aitm = 0.5;
    c.xkst = 8;
    c.ykst = 18;
    c.tkst = 2;
    c.xh0 = 0.1;
    c.yh0 = 0.05;
    c.th0 = 0.2;
    c.ca2 = 1;
    c.nt = 25;
    c.ifc = 10;
    c.nfl = 2;
    qvt::write_case(dir_, c);
    cd_ = std::make_unique<qvt::ScopedDir>(dir_);
  }
  void TearDown() override {
    cd_.reset();
    fs::remove_all(dir_);
  }
  // rdparm with its console output in out_; returns the IoError message, if any.
  std::string read_params() {
    CaptureStdout();
    std::string msg;
    try {
      qv::rdparm(s_, f_);
    } catch (const qv::IoError& e) {
      msg = e.what();
    } catch (const qv::RunStop& e) {
      msg = "stop";
    }
    out_ = GetCapturedStdout();
    return msg;
  }
  std::string dir_ = qvt::temp_dir("rdparm");
  std::unique_ptr<qvt::ScopedDir> cd_;
  qv::Store s_;
  qv::RunFiles f_;
  std::string out_;
};

}  // namespace

TEST_F(ParamTest, ReadsDerivesAndEchoes) {
  ASSERT_EQ(read_params(), "");
  EXPECT_EQ(f_.axisfile, "axis.dat      ");
  EXPECT_EQ(f_.inputfile, "fffff         ");
  EXPECT_EQ(f_.statfile, "stat.dat      ");
  EXPECT_EQ(f_.vfile, "vib.dat       ");
  EXPECT_EQ(f_.fname[2], "DAT/snap002   ");
  EXPECT_EQ(s_.grid.ie, 19);
  EXPECT_EQ(s_.grid.je, 15);
  EXPECT_EQ(s_.grid.ke, 5);
  EXPECT_EQ(s_.run.izper, 0);
  EXPECT_EQ(s_.run.dt, 0.01);
  EXPECT_EQ(s_.run.omg, 1.5);
  EXPECT_EQ(s_.body.kst.t, 2.0);
  EXPECT_EQ(s_.body.nsmp, 1);
  // damping: mass * 2 * omega * ratio
  EXPECT_EQ(s_.body.dmp.x, 2.0 * 2 * 2.0 * 0.1);
  EXPECT_EQ(s_.body.dmp.y, 2.0 * 2 * 3.0 * 0.05);
  EXPECT_EQ(s_.body.dmp.t, 0.5 * 2 * 2.0 * 0.2);
  // tangential factors stored as 2v - 1, echoed before and after
  EXPECT_EQ(s_.run.ca1, -1.0);
  EXPECT_EQ(s_.run.ca2, 1.0);
  const auto l = lines_of(out_);
  ASSERT_EQ(l.size(), 20u) << out_;
  EXPECT_EQ(l[0], " ifc,kout,nfl = " + I(10, 12) + I(0, 12) + I(2, 12));
  EXPECT_EQ(l[1], " axis        file = axis.dat      ");
  EXPECT_EQ(l[6], " # of x,y,z  = " + I(17, 12) + I(13, 12) + I(3, 12));
  EXPECT_EQ(l[10], " Periodic in Z [yes=0,no=1,2]" + I(0, 12));
  EXPECT_EQ(l[13], " nt      =" + I(25, 12));
  EXPECT_EQ(l[14], " ca1 ca2 =" + general(0.0) + general(1.0));
  EXPECT_EQ(l[18], " 1/beta,ndof   =" + general(4.0) + I(0, 12));
  EXPECT_EQ(l[19], " ca1 ca2 =" + general(-1.0) + general(1.0));
}

TEST_F(ParamTest, FixedColumnRules) {
  set_line("quivel_vib8.inf", 1, "  axis.dat");  // short line: blank-padded names
  set_line("quivel_vib8.inf", 3, "    1");
  set_line("quivel_vib8.inf", 4, "       100");  // F10.0
  set_line("quivel_vib8.inf", 5, "     10000");  // implied decimals: 0.1
  set_line("quivel_vib8.inf", 6, "        1");   // E13.5: 1e-5
  set_line("quivel_vib8.inf", 8, F(0.5, 10, 5) + F(0.25, 10, 5));
  set_line("quivel_vib8.inf", 14, "     25000    2");
  set_line("quivel_vib8.inf", 15, "");
  ASSERT_EQ(read_params(), "");
  EXPECT_EQ(f_.axisfile, "axis.dat      ");
  EXPECT_EQ(f_.flagfile, std::string(14, ' '));
  EXPECT_EQ(s_.run.izper, 0);
  EXPECT_EQ(s_.run.Re, 100.0);
  EXPECT_DOUBLE_EQ(s_.run.Cs, 0.1);
  EXPECT_DOUBLE_EQ(s_.run.dt, 1e-5);
  EXPECT_EQ(s_.run.ca1, 0.0);
  EXPECT_EQ(s_.run.ca2, 1 - (1 - 0.25) * 2);
  EXPECT_DOUBLE_EQ(s_.body.beta, 0.25);
  EXPECT_EQ(s_.body.ndof, 2);
  EXPECT_EQ(s_.body.tfrc, 0.0);
}

TEST_F(ParamTest, FileNameList) {
  write_lines("quivel_vib8.fil", {I(100, 5) + I(7, 5) + I(0, 5)});  // no names: one line is enough
  ASSERT_EQ(read_params(), "");
  EXPECT_NE(out_.find(" ifc,kout,nfl = " + I(100, 12) + I(7, 12) + I(0, 12)), std::string::npos);  // echoed
  EXPECT_EQ(f_.nfl, 0);
  std::vector<std::string> v = {I(1, 5) + I(0, 5) + I(100, 5)};
  for (int n = 1; n <= 101; ++n) v.push_back("snap" + std::to_string(n));
  write_lines("quivel_vib8.fil", v);
  ASSERT_EQ(read_params(), "");
  EXPECT_EQ(f_.fname[100], "snap100       ");
  v[0] = I(1, 5) + I(0, 5) + I(101, 5);
  write_lines("quivel_vib8.fil", v);
  EXPECT_EQ(read_params(), "stop");
  EXPECT_NE(out_.find("101"), std::string::npos) << out_;
}

TEST_F(ParamTest, MissingShortAndMalformedFiles) {
  write_lines("quivel_vib8.fil", {I(1, 5) + I(0, 5) + I(3, 5), "a", "b"});
  EXPECT_EQ(read_params(), "end-of-file during read, unit 11, file quivel_vib8.fil");
  auto inf = lines_of(qvt::read_file("quivel_vib8.inf"));
  inf.pop_back();
  write_lines("quivel_vib8.inf", inf);
  EXPECT_EQ(read_params(), "end-of-file during read, unit 10, file quivel_vib8.inf");
  inf.push_back("    1");
  inf[1] = "   17   1x    3";
  write_lines("quivel_vib8.inf", inf);
  EXPECT_EQ(read_params(), "input conversion error, unit 10, file quivel_vib8.inf");
  fs::remove("quivel_vib8.inf");
  EXPECT_EQ(read_params(), "file not found, unit 10, file quivel_vib8.inf");
}

TEST(FreshStart, OnlyTheFirstFiveCharactersCount) {
  EXPECT_TRUE(qv::fresh_start("fffff         "));
  EXPECT_TRUE(qv::fresh_start("fffffrest.dat "));
  EXPECT_FALSE(qv::fresh_start("ffff          "));
  EXPECT_FALSE(qv::fresh_start("final.dat     "));
}

TEST(StoreLimits, GridAndHistoryCapacity) {
  // the console lines of a refusal, or "accepted"
  auto refusal = [](int nx, int ny, int nz, int nt = 10, int nsmp = 1, int change_nt = 10) {
    qv::Store s = qvt::sized_store(nx, ny, nz);
    s.run.nt = nt;
    s.body.nsmp = nsmp;
    CaptureStdout();
    try {
      qv::check_limits(s, qv::RunFiles{});
      qv::check_history(s, change_nt);
    } catch (const qv::RunStop& e) {
      EXPECT_NE(e.status(), 0);
      return GetCapturedStdout() + e.what();
    }
    GetCapturedStdout();
    return std::string("accepted");
  };
  EXPECT_EQ(refusal(213, 161, 61), "accepted");
  EXPECT_NE(refusal(214, 161, 61).find("grid counts nx,ny,nz =" + I(214, 12) + I(161, 12) + I(61, 12)),
            std::string::npos);
  EXPECT_NE(refusal(213, 162, 61), "accepted");
  EXPECT_NE(refusal(213, 161, 62), "accepted");
  EXPECT_NE(refusal(1, 10, 3).find("nx, ny, nz = 1 10 3: each needs at least 2 grid lines"), std::string::npos);
  EXPECT_NE(refusal(10, 10, 1), "accepted");
  EXPECT_EQ(refusal(2, 2, 2), "accepted");
  // the history keeps every sample, up to what its record can hold
  EXPECT_EQ(refusal(10, 10, 3, 99999, 1, 99999), "accepted");
  EXPECT_EQ(refusal(10, 10, 3, 10, 10, 894784850), "accepted");
  EXPECT_NE(refusal(10, 10, 3, 10, 10, 894784860).find("change.inf, nt = 894784860 with nsmp = 10"),
            std::string::npos);
  EXPECT_EQ(refusal(10, 10, 3, 10, 0, 2000000000), "accepted");
}

// -------------------------------------------------------------- change file

namespace {

class ChangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cd_ = std::make_unique<qvt::ScopedDir>(dir_);
    s_.run.nt = 99;
    s_.run.nn = 150;
    s_.run.t = 1.5;
    s_.run.iter = 7;
    s_.run.dt = 0.01;
    s_.run.esp = 0.001;
  }
  void TearDown() override {
    cd_.reset();
    fs::remove_all(dir_);
  }
  std::string change(const std::string& inf) {
    qvt::write_file("change.inf", inf);
    return change_missing();
  }
  std::string change_missing() {
    try {
      qv::rdchange(s_, 0.02);
    } catch (const qv::IoError& e) {
      return e.what();
    }
    return "";
  }
  std::string dir_ = qvt::temp_dir("change");
  std::unique_ptr<qvt::ScopedDir> cd_;
  qv::Store s_;
};

}  // namespace

TEST_F(ChangeTest, ReadsNtAndRewritesTheStatusFile) {
  qvt::write_file("change.out", std::string(5000, 'x'));
  ASSERT_EQ(change("      2000\r\nanything else\r\n"), "");
  EXPECT_EQ(s_.run.nt, 2000);
  EXPECT_EQ(qvt::read_file("change.out"),
            "      2000\r\n"
            "       150   1.5000000\r\n"
            "         7\r\n"
            "   0.0100000   0.0200000   0.0010000\r\n"
            "   \r\n   \r\n   \r\n"
            "  c---------------------------- information\r\n"
            "  nt           ;cycle number  \r\n"
            "  nn,t         ;present number , present time\r\n"
            "  iter         ;iteration number  \r\n"
            "  dt,dtmin,esp ;dt , possible dt ,esp \r\n");
}

TEST_F(ChangeTest, OnlyColumnsOneToTenAreRead) {
  ASSERT_EQ(change("         5 7\n"), "");
  EXPECT_EQ(s_.run.nt, 5);
  ASSERT_EQ(change("  1 2\n"), "");
  EXPECT_EQ(s_.run.nt, 12);
  ASSERT_EQ(change("\r\n"), "");
  EXPECT_EQ(s_.run.nt, 0);
}

TEST_F(ChangeTest, UnreadableChangeFiles) {
  EXPECT_EQ(change(""), "end-of-file during read, unit 18, file change.inf");
  EXPECT_EQ(change("      20x0\n"), "input conversion error, unit 18, file change.inf");
  EXPECT_EQ(s_.run.nt, 99);
  fs::remove("change.inf");  // a missing file is reported, not created
  EXPECT_EQ(change_missing(), "file not found, unit 18, file change.inf");
  EXPECT_FALSE(fs::exists("change.inf"));
}
