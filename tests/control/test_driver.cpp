// The run driver through real program runs on tiny cases: step count, end
// test, change file, time-series and snapshot schedules, refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "io/format.hpp"
#include "support/case.hpp"

namespace fs = std::filesystem;
using qv::fmt::I;

namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> v;
  std::size_t p = 0;
  while (p < text.size()) {
    std::size_t e = text.find('\n', p);
    if (e == std::string::npos) e = text.size();
    std::string l = text.substr(p, e - p);
    if (!l.empty() && l.back() == '\r') l.pop_back();
    v.push_back(l);
    p = e + 1;
  }
  return v;
}

std::vector<std::string> starting_with(const std::string& text, const std::string& head) {
  std::vector<std::string> v;
  for (const auto& l : lines_of(text))
    if (l.rfind(head, 0) == 0) v.push_back(l);
  return v;
}

bool has_line(const std::string& text, const std::string& line) {
  for (const auto& l : lines_of(text))
    if (l == line) return true;
  return false;
}

class RunTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const auto& d : dirs_) fs::remove_all(d);
  }
  // Writes the case into a fresh directory and returns it.
  std::string make(const qvt::CaseSetup& c) {
    dirs_.push_back(qvt::temp_dir("run"));
    qvt::write_case(dirs_.back(), c);
    return dirs_.back();
  }
  int run(const std::string& dir, const std::string& console = "1.0\n") {
    return qvt::run_program(dir, console, &out_);
  }
  // Replaces line n (1-based) of a text file in dir.
  static void set_line(const std::string& path, std::size_t n, const std::string& text) {
    auto v = lines_of(qvt::read_file(path));
    v.at(n - 1) = text;
    std::string s;
    for (const auto& l : v) s += l + "\r\n";
    qvt::write_file(path, s);
  }
  std::vector<std::string> steps() const { return starting_with(out_, " nn = "); }
  std::string out_;
  std::vector<std::string> dirs_;
};

}  // namespace

TEST_F(RunTest, StartUpBannerAndReports) {
  qvt::CaseSetup c;
  c.nt = 1;
  const std::string d = make(c);
  ASSERT_EQ(run(d, "  1.0  \n"), 0) << qvt::read_file(d + "/console.err");
  const auto l = lines_of(out_);
  ASSERT_GT(l.size(), 12u);
  EXPECT_EQ(l[0], " 8/16/13 ***** vfile format changed to formatted");
  EXPECT_EQ(l[3], "                set inflow vel to Vin");
  EXPECT_EQ(l[7], "                 set vv(,je,)=vv(,js,)=0 otherwise");
  EXPECT_EQ(l[10], "         prsbdy: subtract pp(is,je/2,ke/2) from all pp");
  EXPECT_EQ(l[11], " enter inflow velocity, Vin");
  EXPECT_EQ(l[12].rfind(" ifc,kout,nfl = ", 0), 0u);
  EXPECT_EQ(starting_with(out_, " dt=").size(), 1u);
  EXPECT_TRUE(has_line(out_, " T =" + qv::fmt::general(0.0))) << out_;
  EXPECT_EQ(starting_with(out_, " delm =").size(), 1u);
}

TEST_F(RunTest, AtLeastOneStepIsTaken) {
  for (int nt : {1, 0, -3}) {
    qvt::CaseSetup c;
    c.nt = nt;
    const std::string d = make(c);
    ASSERT_EQ(run(d), 0) << nt << qvt::read_file(d + "/console.err");
    EXPECT_EQ(steps(), std::vector<std::string>{" nn = " + I(1, 12)}) << nt;
    EXPECT_EQ(starting_with(out_, " itm2c nn2 nn ="),
              std::vector<std::string>{" itm2c nn2 nn =" + I(1, 12) + I(0, 12) + I(1, 12)});
    EXPECT_TRUE(fs::exists(d + "/final.dat"));
    EXPECT_TRUE(fs::exists(d + "/stat.dat"));
    EXPECT_TRUE(fs::exists(d + "/vib.dat"));
    EXPECT_TRUE(fs::exists(d + "/body.dat"));
  }
}

TEST_F(RunTest, TwentyFiveStepsWriteTwoTimeSeriesLines) {
  qvt::CaseSetup c;
  c.nt = 25;
  const std::string d = make(c);
  ASSERT_EQ(run(d), 0) << qvt::read_file(d + "/console.err");
  const auto st = steps();
  ASSERT_EQ(st.size(), 25u);
  EXPECT_EQ(st.back(), " nn = " + I(25, 12));
  const auto counts = starting_with(out_, " itm2c nn2 nn =");
  ASSERT_EQ(counts.size(), 25u);
  EXPECT_EQ(counts[24], " itm2c nn2 nn =" + I(25, 12) + I(12, 12) + I(25, 12));
  EXPECT_EQ(counts[9], " itm2c nn2 nn =" + I(10, 12) + I(5, 12) + I(10, 12));

  const std::string ts = qvt::read_file(d + "/DAT/quivel_vib8.ts");
  const auto tl = lines_of(ts);
  ASSERT_EQ(tl.size(), 4u) << ts;
  EXPECT_EQ(tl[0].rfind(" #start at t=", 0), 0u);
  EXPECT_EQ(tl[2].substr(0, 16), "    10    0.1000");
  EXPECT_EQ(tl[3].substr(0, 16), "    20    0.2000");
  EXPECT_EQ(tl[3].size(), 88u);
  EXPECT_NE(ts.find("\r\n"), std::string::npos);

  const auto co = lines_of(qvt::read_file(d + "/change.out"));
  ASSERT_EQ(co.size(), 12u);
  EXPECT_EQ(co[0], "        25");
  EXPECT_EQ(co[1], "        25   0.2500000");
}

TEST_F(RunTest, ChangeFileSetsTheRunLength) {
  qvt::CaseSetup c;
  c.nt = 50;
  std::string d = make(c);
  qvt::write_file(d + "/change.inf", "         3\r\n");
  ASSERT_EQ(run(d), 0);
  EXPECT_EQ(steps().size(), 3u);
  EXPECT_EQ(lines_of(qvt::read_file(d + "/change.out"))[0], "         3");

  // at or below the current step: the run ends after this step
  d = make(c);
  qvt::write_file(d + "/change.inf", "         0 9\r\n");
  ASSERT_EQ(run(d), 0);
  EXPECT_EQ(steps().size(), 1u);

  // lengthening
  c.nt = 2;
  d = make(c);
  qvt::write_file(d + "/change.inf", "4\n");
  ASSERT_EQ(run(d), 0);
  EXPECT_EQ(steps().size(), 4u);
  EXPECT_EQ(starting_with(out_, " nt      =").at(0), " nt      =" + I(2, 12));
}

TEST_F(RunTest, SnapshotsAtIntervalMultiplesUpToTheNameCount) {
  qvt::CaseSetup c;
  c.nt = 7;
  c.ifc = 2;
  c.nfl = 2;
  std::string d = make(c);
  ASSERT_EQ(run(d), 0) << qvt::read_file(d + "/console.err");
  EXPECT_TRUE(fs::exists(d + "/DAT/snap001"));
  EXPECT_TRUE(fs::exists(d + "/DAT/snap002"));
  EXPECT_FALSE(fs::exists(d + "/DAT/snap003"));
  EXPECT_NE(qvt::read_file(d + "/DAT/snap001"), qvt::read_file(d + "/DAT/snap002"));
  EXPECT_EQ(fs::file_size(d + "/DAT/snap001"), fs::file_size(d + "/final.dat"));
  EXPECT_FALSE(fs::exists(d + "/final.dat.part"));

  // instants fall on multiples of ifc only; names beyond nt stay unused
  c.ifc = 3;
  c.nfl = 5;
  d = make(c);
  ASSERT_EQ(run(d), 0);
  EXPECT_TRUE(fs::exists(d + "/DAT/snap001"));
  EXPECT_TRUE(fs::exists(d + "/DAT/snap002"));
  EXPECT_FALSE(fs::exists(d + "/DAT/snap003"));

  // no interval: no snapshot, but still the final field file
  for (int ifc : {0, -2}) {
    c.ifc = ifc;
    c.nfl = 2;
    d = make(c);
    ASSERT_EQ(run(d), 0);
    EXPECT_FALSE(fs::exists(d + "/DAT/snap001")) << ifc;
    EXPECT_TRUE(fs::exists(d + "/final.dat")) << ifc;
  }
}

TEST_F(RunTest, ExistingSnapshotFileIsRefused) {
  qvt::CaseSetup c;
  c.nt = 4;
  c.ifc = 2;
  c.nfl = 2;
  const std::string d = make(c);
  qvt::write_file(d + "/DAT/snap002", "keep");
  EXPECT_NE(run(d), 0);
  EXPECT_EQ(qvt::read_file(d + "/console.err"), "cannot overwrite existing file, unit 21, file DAT/snap002\n");
  EXPECT_EQ(qvt::read_file(d + "/DAT/snap002"), "keep");
}

TEST_F(RunTest, RestartContinuesTheTimeAndRestartsTheStepCount) {
  qvt::CaseSetup c;
  c.nt = 10;
  std::string d = make(c);
  ASSERT_EQ(run(d), 0);
  fs::copy_file(d + "/body.dat", d + "/body0.dat");
  fs::remove(d + "/stat.dat");
  c.input = "final.dat";
  c.nt = 10;
  set_line(d + "/quivel_vib8.inf", 1,
           "  axis.dat        flag.dat        final.dat       final.dat       stat.dat      ");
  ASSERT_EQ(run(d, "1.0\n0\n"), 0) << qvt::read_file(d + "/console.err");
  double t = 0;  // the stored time, as the first run accumulated it
  for (int n = 0; n < 10; ++n) t = t + 0.01;
  EXPECT_TRUE(has_line(out_, " T =" + qv::fmt::general(t))) << out_;
  EXPECT_EQ(starting_with(out_, " #####").size(), 0u);  // no start-up correction
  const auto tl = lines_of(qvt::read_file(d + "/DAT/quivel_vib8.ts"));
  ASSERT_EQ(tl.size(), 6u);
  EXPECT_EQ(tl[2].substr(0, 16), "    10    0.1000");
  EXPECT_EQ(tl[5].substr(0, 16), "    10    0.2000");
}

TEST_F(RunTest, GridCountMismatchStops) {
  qvt::CaseSetup c;
  std::string d = make(c);
  set_line(d + "/axis.dat", 1, I(17, 5) + I(12, 5) + I(4, 5));
  EXPECT_NE(run(d), 0);
  EXPECT_TRUE(has_line(out_, " # of data are not same.")) << out_;
  EXPECT_TRUE(has_line(out_, " [1];x [2];y [3];z not same " + I(3, 12))) << out_;
  EXPECT_NE(qvt::read_file(d + "/console.err")
                .find("axis.dat line 1: the counts 17 12 4 differ from nx, ny, nz = 17 13 3 of quivel_vib8.inf"),
            std::string::npos);
  EXPECT_TRUE(starting_with(out_, " dt=").empty());
  EXPECT_FALSE(fs::exists(d + "/final.dat"));

  d = make(c);
  set_line(d + "/flag.dat", 1, I(16, 5) + I(13, 5) + I(3, 5));
  EXPECT_NE(run(d), 0);
  EXPECT_TRUE(has_line(out_, " # of data are not same in rdflag.")) << out_;
  EXPECT_TRUE(has_line(out_, " [1];x [2];y [3];z not same " + I(1, 12))) << out_;
  EXPECT_NE(qvt::read_file(d + "/console.err")
                .find("flag.dat line 1: the counts 16 13 3 differ from nx, ny, nz = 17 13 3 of quivel_vib8.inf"),
            std::string::npos);
  EXPECT_EQ(starting_with(out_, " delm =").size(), 1u);
}

TEST_F(RunTest, GridBeyondTheStoreIsRefused) {
  qvt::CaseSetup c;
  const std::string d = make(c);
  set_line(d + "/quivel_vib8.inf", 2, I(214, 5) + I(13, 5) + I(3, 5));
  EXPECT_NE(run(d), 0);
  EXPECT_FALSE(starting_with(out_, " grid counts nx,ny,nz =").empty()) << out_;
  EXPECT_NE(qvt::read_file(d + "/console.err")
                .find("quivel_vib8.inf line 2, nx, ny, nz = 214 13 3: the grid is beyond the store (at most 213 161 "
                      "61)"),
            std::string::npos)
      << qvt::read_file(d + "/console.err");
  EXPECT_TRUE(starting_with(out_, " delm =").empty());
}

TEST_F(RunTest, ConsoleAndInputFailuresStopWithTheirMessage) {
  qvt::CaseSetup c;
  std::string d = make(c);
  EXPECT_EQ(run(d, "abc\n"), 2);
  EXPECT_EQ(qvt::read_file(d + "/console.err"), "input conversion error, unit 5, file stdin\n");
  EXPECT_EQ(run(d, ""), 2);
  EXPECT_EQ(qvt::read_file(d + "/console.err"), "end-of-file during read, unit 5, file stdin\n");

  fs::remove(d + "/flag.dat");
  EXPECT_EQ(run(d), 2);
  EXPECT_EQ(qvt::read_file(d + "/console.err"), "file not found, unit 13, file flag.dat\n");

  d = make(c);
  fs::remove_all(d + "/DAT");
  EXPECT_EQ(run(d), 2);
  EXPECT_EQ(qvt::read_file(d + "/console.err").rfind("file not found, unit 20, file DAT/", 0), 0u);
}

// `--version` prints the git description the program was built from and
// nothing else; it reads and writes no file.  Without it a run is as always.
TEST(Version, PrintsTheGitDescriptionOfTheBuild) {
  const std::string dir = qvt::temp_dir("version");
  const std::string cmd = "cd '" + dir + "' && '" QV_PROGRAM "' --version > out.txt 2> err.txt";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const std::string out = qvt::read_file(dir + "/out.txt");
  // "quivel_vib8 <description>": a commit of this repository (the tree may
  // have moved on since the build, so the commit need not be the head)
  ASSERT_EQ(out.rfind("quivel_vib8 ", 0), 0u) << out;
  std::string desc = out.substr(12, out.find('\n') - 12);
  if (desc.size() > 6 && desc.compare(desc.size() - 6, 6, "-dirty") == 0) desc.resize(desc.size() - 6);
  const std::size_t g = desc.rfind("-g");
  const std::string commit = g == std::string::npos ? desc : desc.substr(g + 2);
  ASSERT_GE(commit.size(), 7u) << out;
  ASSERT_EQ(commit.find_first_not_of("0123456789abcdef"), std::string::npos) << out;
  const std::string known = "git -C '" QV_SOURCE_DIR "' cat-file -e '" + commit + "^{commit}' 2> '" + dir + "/want.txt'";
  EXPECT_EQ(std::system(known.c_str()), 0) << out;
  EXPECT_EQ(out.back(), '\n');
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
  EXPECT_EQ(qvt::read_file(dir + "/err.txt"), "");
  int files = 0;
  for (const auto& e : fs::directory_iterator(dir)) files += e.is_regular_file();
  EXPECT_EQ(files, 3);  // out, err, want and nothing of the program's
}
