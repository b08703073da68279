// Damaged and meaningless inputs through the real program: each is refused
// before the first step, with a message that names the file and the reason,
// and nothing of the run is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "io/format.hpp"
#include "support/case.hpp"
#include "support/running.hpp"

namespace fs = std::filesystem;
using qv::fmt::A;
using qv::fmt::I;

namespace {

struct Case {
  const char* what;
  std::function<void(qvt::CaseSetup&)> setup;  // may edit the case before it is written
  std::function<void(const std::string&)> edit;  // edits the written case
  const char* message;                         // expected in standard error
};

void set_name(const std::string& dir, int line, int col, const std::string& name) {
  qvt::set_columns(dir + "/quivel_vib8.inf", line, col, A(name, 14));
}
// Columns of the names on line 1 (axis, flag, input, final, statistics) and
// line 10 (nfile0, nfile, vfile).
constexpr int kFinal = 51, kStat = 67, kNfile = 19, kVfile = 35;

void expect_refused(const Case& k) {
  SCOPED_TRACE(k.what);
  const std::string dir = qvt::temp_dir("malformed");
  qvt::CaseSetup c;
  c.ifc = 2, c.nfl = 2;
  if (k.setup) k.setup(c);
  qvt::write_case(dir, c);
  if (k.edit) k.edit(dir);
  std::string out;
  EXPECT_EQ(qvt::run_program(dir, "1.0\n", &out), 2);
  EXPECT_EQ(qvt::count(out, "itm2c nn2 nn ="), 0);
  const std::string err = qvt::read_file(dir + "/console.err");
  EXPECT_NE(err.find(k.message), std::string::npos) << err;
  for (const char* f : {"final.dat", "stat.dat", "body.dat", "vib.dat", "DAT/snap001"})
    EXPECT_FALSE(fs::exists(dir + "/" + f)) << f;
}

}  // namespace

// Output paths that could only fail at the end of the run, and outputs that
// would destroy another output or an input.
TEST(MalformedInput, OutputPathsAndClashes) {
  const Case cases[] = {
      {"final file in a missing directory", nullptr,
       [](const std::string& d) { set_name(d, 1, kFinal, "XX/final.dat"); }, "file not found, unit 22, file XX/final.dat"},
      {"final file names a directory", nullptr, [](const std::string& d) { set_name(d, 1, kFinal, "DAT"); },
       "open failure, unit 22, file DAT"},
      {"blank statistics name", nullptr, [](const std::string& d) { set_name(d, 1, kStat, ""); },
       "no file name given for the statistics file"},
      {"vfile in a missing directory", nullptr, [](const std::string& d) { set_name(d, 10, kVfile, "XX/vib.dat"); },
       "file not found, unit 24, file XX/vib.dat"},
      {"snapshot in a missing directory", nullptr,
       [](const std::string& d) { qvt::write_file(d + "/quivel_vib8.fil", "    2    0    2\r\nDAT/snap001\r\nXX/snap\r\n"); },
       "file not found, unit 21, file XX/snap"},
      {"nfile is the final file", nullptr, [](const std::string& d) { set_name(d, 10, kNfile, "final.dat"); },
       "the final field file and the body-state file (nfile) are the same file: final.dat"},
      {"final file is the grid file", nullptr, [](const std::string& d) { set_name(d, 1, kFinal, "axis.dat"); },
       "the final field file would overwrite the grid file: axis.dat"},
      {"vfile is nfile (spelled differently)", nullptr, [](const std::string& d) { set_name(d, 10, kVfile, "./body.dat"); },
       "the vibration history file (vfile) and the body-state file (nfile) are the same file"},
      {"statistics file is the final file", nullptr, [](const std::string& d) { set_name(d, 1, kStat, "final.dat"); },
       "the final field file and the statistics file are the same file"},
      {"snapshot name is the statistics file", nullptr,
       [](const std::string& d) { qvt::write_file(d + "/quivel_vib8.fil", "    2    0    2\r\nstat.dat\r\nDAT/snap2\r\n"); },
       "the statistics file and snapshot 1 of quivel_vib8.fil are the same file"},
      {"snapshot name listed twice", nullptr,
       [](const std::string& d) {
         qvt::write_file(d + "/quivel_vib8.fil", "    2    0    3\r\nDAT/a\r\nDAT/b\r\nDAT/a\r\n");
       },
       "snapshot 1 of quivel_vib8.fil and snapshot 3 of quivel_vib8.fil are the same file"},
      {"snapshot over the iteration report", nullptr,
       [](const std::string& d) { qvt::write_file(d + "/quivel_vib8.fil", "    2    0    1\r\niter.dat\r\n"); },
       "the iteration report and snapshot 1 of quivel_vib8.fil are the same file"},
  };
  for (const Case& k : cases) expect_refused(k);
}

// Parameters that make a run meaningless are refused with their line and
// field; so are values of the tolerance and change files.
TEST(MalformedInput, MeaninglessParameters) {
  const Case cases[] = {
      {"negative dt", [](qvt::CaseSetup& c) { c.dt = -0.01; }, nullptr,
       "quivel_vib8.inf line 6, dt = -0.01: must be positive"},
      {"zero Re", [](qvt::CaseSetup& c) { c.Re = 0; }, nullptr, "quivel_vib8.inf line 4, Re = 0: must be positive"},
      {"zero esp", [](qvt::CaseSetup& c) { c.esp = 0; }, nullptr, "quivel_vib8.inf line 7, esp = 0"},
      {"omg 0 applies no correction", [](qvt::CaseSetup& c) { c.omg = 0; }, nullptr,
       "quivel_vib8.inf line 7, omg = 0: must lie between 0 and 2"},
      {"omg 2", [](qvt::CaseSetup& c) { c.omg = 2; }, nullptr, "line 7, omg = 2"},
      {"ndof 9", [](qvt::CaseSetup& c) { c.ndof = 9; }, nullptr, "quivel_vib8.inf line 14, ndof = 9"},
      {"iyper 7", [](qvt::CaseSetup& c) { c.iyper = 7; }, nullptr, "quivel_vib8.inf line 3, iyper = 7"},
      {"izper 3", [](qvt::CaseSetup& c) { c.izper = 3; }, nullptr, "quivel_vib8.inf line 3, izper = 3"},
      {"no mass for a body free in y", [](qvt::CaseSetup& c) { c.ndof = 1, c.amas = 0; }, nullptr,
       "quivel_vib8.inf line 11, amas = 0"},
      {"no inertia for a turning body", [](qvt::CaseSetup& c) { c.ndof = 3, c.aitm = -1; }, nullptr,
       "quivel_vib8.inf line 11, aitm = -1"},
      {"no beta for a moving body", [](qvt::CaseSetup& c) { c.ndof = 2, c.beta = 0; }, nullptr,
       "quivel_vib8.inf line 14, beta = 0"},
      {"ic3 = 1", [](qvt::CaseSetup& c) { c.ic3 = 1; }, nullptr, "ic3 = 1 must be at least 2, unit 16, file esp2.inf"},
      {"blank ramp fields", nullptr, [](const std::string& d) { qvt::write_file(d + "/esp2.inf", "\r\n"); },
       "ic3 = 0 must be at least 2, unit 16, file esp2.inf"},
      {"sesp = 0", [](qvt::CaseSetup& c) { c.sesp = 0; }, nullptr, "sesp = 0 must be positive, unit 16, file esp2.inf"},
      {"change.inf beyond 32 bits", nullptr,
       [](const std::string& d) { qvt::write_file(d + "/change.inf", "3000000000\r\n"); },
       "nt = 3000000000 out of range, unit 18, file change.inf"},
      {"grid lines that do not increase", nullptr,
       [](const std::string& d) { qvt::set_columns(d + "/axis.dat", 2, 11, qv::fmt::F(-2.0, 10, 5)); },
       "axis.dat: x grid lines 1 and 2 do not increase (-2, -2)"},
  };
  for (const Case& k : cases) expect_refused(k);
}

// A body that does not move needs no mass: ndof = 0 with amas = 0 runs.
TEST(MalformedInput, FixedBodyNeedsNoMass) {
  const std::string dir = qvt::temp_dir("fixed");
  qvt::CaseSetup c;
  c.nt = 2, c.amas = 0, c.aitm = 0, c.beta = 0;
  qvt::write_case(dir, c);
  EXPECT_EQ(qvt::run_program(dir, "1.0\n"), 0) << qvt::read_file(dir + "/console.err");
}

// Restart files of another grid are refused before they are read; a pair
// of this grid is read (the final file and nfile rewritten in place).
TEST(MalformedInput, RestartFilesOfAnotherGrid) {
  const std::string small = qvt::temp_dir("restart-small"), large = qvt::temp_dir("restart-large");
  qvt::CaseSetup c;
  c.nt = 2;
  qvt::write_case(small, c);
  ASSERT_EQ(qvt::run_program(small, "1.0\n"), 0);
  c.nx = 19;
  qvt::write_case(large, c);
  ASSERT_EQ(qvt::run_program(large, "1.0\n"), 0);
  fs::copy_file(large + "/final.dat", small + "/big.dat");
  fs::copy_file(large + "/body.dat", small + "/bigbody.dat");
  fs::remove(small + "/stat.dat");

  set_name(small, 1, 35, "big.dat");
  set_name(small, 10, 3, "body.dat");
  std::string out;
  EXPECT_EQ(qvt::run_program(small, "1.0\n1\n", &out), 2);
  EXPECT_NE(qvt::read_file(small + "/console.err").find("the input field file big.dat holds a grid of 19 x 13 x 3 grid lines; this run has 17 x 13 x 3"),
            std::string::npos)
      << qvt::read_file(small + "/console.err");

  set_name(small, 1, 35, "final.dat");
  set_name(small, 10, 3, "bigbody.dat");
  EXPECT_EQ(qvt::run_program(small, "1.0\n1\n", &out), 2);
  EXPECT_NE(qvt::read_file(small + "/console.err").find("the body-state input file bigbody.dat is not of this run's grid"),
            std::string::npos)
      << qvt::read_file(small + "/console.err");
  EXPECT_EQ(qvt::count(out, "itm2c nn2 nn ="), 0);

  set_name(small, 10, 3, "body.dat");
  EXPECT_EQ(qvt::run_program(small, "1.0\n1\n", &out), 0) << qvt::read_file(small + "/console.err");
}
