// Damaged and meaningless inputs through the real program: each is refused
// before the first step, with a message that names the file and the reason,
// and nothing of the run is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <cmath>
#include <cstring>
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
      // the last pair of each axis (x: 17 lines, 5 a line; y: 13; z: 3)
      {"last x pair equal", nullptr,
       [](const std::string& d) { qvt::set_columns(d + "/axis.dat", 5, 11, qv::fmt::F(1.75, 10, 5)); },
       "axis.dat: x grid lines 16 and 17 do not increase (1.75, 1.75)"},
      {"last y pair falling", nullptr,
       [](const std::string& d) { qvt::set_columns(d + "/axis.dat", 8, 21, qv::fmt::F(1.0, 10, 5)); },
       "axis.dat: y grid lines 12 and 13 do not increase (1.25, 1)"},
      {"last z pair equal", nullptr,
       [](const std::string& d) { qvt::set_columns(d + "/axis.dat", 9, 21, qv::fmt::F(0.0, 10, 5)); },
       "axis.dat: z grid lines 2 and 3 do not increase (0, 0)"},
      {"grid line not finite", nullptr,
       [](const std::string& d) { qvt::set_columns(d + "/axis.dat", 5, 11, A("1.0E999", 10)); },
       "axis.dat: x grid line 17 = inf is not finite"},
      {"infinite Cs", nullptr,
       [](const std::string& d) { qvt::set_columns(d + "/quivel_vib8.inf", 5, 1, A("1.0E999", 10)); },
       "quivel_vib8.inf line 5, Cs = inf: must be finite"},
      {"infinite stiffness of a body free in y", [](qvt::CaseSetup& c) { c.ndof = 1; }, 
       [](const std::string& d) { qvt::set_columns(d + "/quivel_vib8.inf", 12, 14, A("1.0E999", 13)); },
       "quivel_vib8.inf line 12, ykst = inf: must be finite"},
      {"infinite damping of a turning body", [](qvt::CaseSetup& c) { c.ndof = 3; },
       [](const std::string& d) { qvt::set_columns(d + "/quivel_vib8.inf", 13, 21, A("1.0E999", 10)); },
       "quivel_vib8.inf line 13, th0 = inf: must be finite"},
      {"no cell along x", [](qvt::CaseSetup& c) { c.nx = 1, c.body_i0 = 1, c.body_i1 = 0; }, nullptr,
       "quivel_vib8.inf line 2, nx, ny, nz = 1 13 3: each needs at least 2 grid lines"},
      {"grid beyond the store", nullptr, [](const std::string& d) { qvt::set_columns(d + "/quivel_vib8.inf", 2, 1, I(300, 5)); },
       "quivel_vib8.inf line 2, nx, ny, nz = 300 13 3: the grid is beyond the store (at most 213 161 61)"},
      {"flag counts differ", nullptr, [](const std::string& d) { qvt::set_columns(d + "/flag.dat", 1, 6, I(12, 5)); },
       "flag.dat line 1: the counts 17 12 3 differ from nx, ny, nz = 17 13 3 of quivel_vib8.inf"},
      {"all body", [](qvt::CaseSetup& c) { c.body_i0 = 0, c.body_i1 = 15, c.body_j0 = 0, c.body_j1 = 11; }, nullptr,
       "flag.dat: every cell is a body cell; the flow has no fluid cell"},
      {"too many snapshot names", nullptr,
       [](const std::string& d) { qvt::write_file(d + "/quivel_vib8.fil", "    2    0  101\r\n"); },
       "quivel_vib8.fil line 1, nfl = 101: at most 100 snapshot names"},
      {"body history beyond its record", [](qvt::CaseSetup& c) { c.nt = 99999; },
       [](const std::string& d) { qvt::write_file(d + "/change.inf", "2000000000\r\n"); },
       "change.inf, nt = 2000000000 with nsmp = 1: the body history would be too long (2000000000 samples, at "
       "most 89478485)"},
      {"change.inf missing", nullptr, [](const std::string& d) { fs::remove(d + "/change.inf"); },
       "file not found, unit 18, file change.inf"},
      {"esp2.inf missing", nullptr, [](const std::string& d) { fs::remove(d + "/esp2.inf"); },
       "file not found, unit 16, file esp2.inf"},
      {"endless change.inf", nullptr, [](const std::string& d) {
         fs::remove(d + "/change.inf");
         fs::create_symlink("/dev/zero", d + "/change.inf");
       },
       "line longer than 65536 characters, unit 18, file change.inf"},
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

// Values the program gives a meaning although they look like slips run as
// defined, each with a warning on standard error: an ndof outside 0..6
// moves nothing (the restored state is set to zero), any nonzero iyper or
// izper is non-periodic, and so on.
TEST(MalformedInput, OddButMeaningfulValuesRunWithAWarning) {
  struct Odd {
    const char* what;
    std::function<void(qvt::CaseSetup&)> setup;
    const char* warning;
  };
  const Odd cases[] = {
      {"ndof 9", [](qvt::CaseSetup& c) { c.ndof = 9, c.amas = 0; },
       "quivel_vib8.inf line 14, ndof = 9: not one of 0 to 6: the body moves in no direction"},
      {"iyper 7", [](qvt::CaseSetup& c) { c.iyper = 7; }, "quivel_vib8.inf line 3, iyper = 7: taken as 1"},
      {"izper 3", [](qvt::CaseSetup& c) { c.izper = 3; }, "quivel_vib8.inf line 3, izper = 3: taken as 1"},
      {"esp 5", [](qvt::CaseSetup& c) { c.esp = 5; }, "quivel_vib8.inf line 7, esp = 5: a tolerance of 1 or more"},
      {"nsmp < 0", [](qvt::CaseSetup& c) { c.nsmp = -1; }, "quivel_vib8.inf line 16, nsmp = -1: negative"},
      {"nt 0", [](qvt::CaseSetup& c) { c.nt = 0; }, "change.inf: nt = 0: the run takes one step"},
      {"ca1 above 1", [](qvt::CaseSetup& c) { c.ca1 = 1.5; }, "quivel_vib8.inf line 8, ca1 = 1.5: outside 0"},
  };
  for (const Odd& k : cases) {
    SCOPED_TRACE(k.what);
    const std::string dir = qvt::temp_dir("odd");
    qvt::CaseSetup c;
    c.nt = 2;
    k.setup(c);
    qvt::write_case(dir, c);
    std::string out;
    ASSERT_EQ(qvt::run_program(dir, "1.0\n", &out), 0) << qvt::read_file(dir + "/console.err");
    EXPECT_NE(qvt::read_file(dir + "/console.err").find(k.warning), std::string::npos)
        << qvt::read_file(dir + "/console.err");
  }
  // ndof 9 from a moving body's state: nothing moves and the state written
  // back is zero
  const std::string dir = qvt::temp_dir("ndof9");
  qvt::CaseSetup c;
  c.nt = 3, c.ndof = 1, c.yamp = 0.05, c.tfrc = 100;
  qvt::write_case(dir, c);
  ASSERT_EQ(qvt::run_program(dir, "1.0\n"), 0);
  fs::rename(dir + "/body.dat", dir + "/body0.dat");
  fs::remove(dir + "/stat.dat");
  c.ndof = 9, c.input = "final.dat";
  qvt::write_case(dir, c);
  ASSERT_EQ(qvt::run_program(dir, "1.0\n1\n"), 0) << qvt::read_file(dir + "/console.err");
  const auto body = qvt::records(dir + "/body.dat");
  ASSERT_EQ(body.r.size(), 6u);
  for (std::size_t rec = 1; rec <= 3; ++rec)
    for (std::size_t n = 0; n < 3; ++n) EXPECT_EQ(body.real(rec, n), 0.0) << rec << " " << n;
}

// Inputs are never removed: an input that is named like the temporary of an
// output, or a name with a NUL byte that the system would cut at the NUL,
// is refused before anything is touched.
TEST(MalformedInput, NoInputIsEverRemoved) {
  {
    const std::string dir = qvt::temp_dir("partinput");
    qvt::CaseSetup c;
    qvt::write_case(dir, c);
    fs::rename(dir + "/axis.dat", dir + "/g.dat.part");
    set_name(dir, 1, 3, "g.dat.part");
    set_name(dir, 1, kFinal, "g.dat");
    EXPECT_EQ(qvt::run_program(dir, "1.0\n"), 2);
    EXPECT_NE(qvt::read_file(dir + "/console.err").find("the temporary of the final field file would overwrite the grid file: g.dat.part"),
              std::string::npos)
        << qvt::read_file(dir + "/console.err");
    EXPECT_TRUE(fs::exists(dir + "/g.dat.part"));
  }
  {
    const std::string dir = qvt::temp_dir("nulname");
    qvt::CaseSetup c;
    qvt::write_case(dir, c);
    set_name(dir, 1, kFinal, std::string("axis.dat\0final", 14));
    EXPECT_EQ(qvt::run_program(dir, "1.0\n"), 2);
    EXPECT_NE(qvt::read_file(dir + "/console.err").find("quivel_vib8.inf line 1, columns 51-64: the name holds the control character 0"),
              std::string::npos)
        << qvt::read_file(dir + "/console.err");
    EXPECT_TRUE(fs::exists(dir + "/axis.dat"));
  }
}

// A name longer than its 14 columns is refused with its line and columns,
// not cut and run on into the next name; so is a Vin that is not finite.
TEST(MalformedInput, NamesThatSpillAndAnInfiniteVin) {
  const Case cases[] = {
      {"final name spills into the statistics name", nullptr,
       [](const std::string& d) { qvt::set_columns(d + "/quivel_vib8.inf", 1, kFinal, "DAT/final_run1.dat"); },
       "quivel_vib8.inf line 1, columns 51-64: the name runs on into column 65 (\"DAT/final_run1.d\")"},
      {"last name of line 10 runs on", nullptr,
       [](const std::string& d) { qvt::set_columns(d + "/quivel_vib8.inf", 10, kVfile, "DAT/vibration.dat"); },
       "quivel_vib8.inf line 10, columns 35-48: the name runs on into column 49"},
      {"snapshot name runs on", nullptr,
       [](const std::string& d) { qvt::write_file(d + "/quivel_vib8.fil", "    2    0    1\r\nDAT/snapshot_001\r\n"); },
       "quivel_vib8.fil line 2, columns 1-14: the name runs on into column 15"},
  };
  for (const Case& k : cases) expect_refused(k);
  const std::string dir = qvt::temp_dir("vininf");
  qvt::CaseSetup c;
  qvt::write_case(dir, c);
  EXPECT_EQ(qvt::run_program(dir, "1e999\n"), 2);
  EXPECT_NE(qvt::read_file(dir + "/console.err").find("the inflow velocity Vin = inf typed at the console must be finite"),
            std::string::npos)
      << qvt::read_file(dir + "/console.err");
}

namespace {

// The records of a record file, and a record file made of them.
std::vector<std::string> split_records(const std::string& bytes) {
  std::vector<std::string> out;
  for (std::size_t p = 0; p + 4 <= bytes.size();) {
    std::int32_t L;
    std::memcpy(&L, bytes.data() + p, 4);
    out.push_back(bytes.substr(p + 4, static_cast<std::size_t>(L)));
    p += 8 + static_cast<std::size_t>(L);
  }
  return out;
}
std::string join_records(const std::vector<std::string>& recs) {
  std::string s;
  for (const std::string& r : recs) {
    const std::int32_t L = static_cast<std::int32_t>(r.size());
    s.append(reinterpret_cast<const char*>(&L), 4).append(r).append(reinterpret_cast<const char*>(&L), 4);
  }
  return s;
}

}  // namespace

// A restart input is read only when every record it is read for has the
// length this run's grid gives it and its values are finite: a field file
// that differs only in ny, a statistics file, a longer record with
// consistent framing and a stored time t = NaN are all refused; so are a
// body-state file with a longer record or a velocity NaN.
TEST(MalformedInput, RestartInputsCheckedRecordByRecord) {
  const std::string dir = qvt::temp_dir("restart-records"), other = qvt::temp_dir("restart-ny");
  qvt::CaseSetup c;
  c.nt = 2;
  qvt::write_case(dir, c);
  ASSERT_EQ(qvt::run_program(dir, "1.0\n"), 0);
  c.ny = 15;
  qvt::write_case(other, c);
  ASSERT_EQ(qvt::run_program(other, "1.0\n"), 0);
  fs::copy_file(other + "/final.dat", dir + "/ny.dat");
  fs::copy_file(dir + "/stat.dat", dir + "/statfield.dat");
  fs::remove(dir + "/stat.dat");
  auto fin = split_records(qvt::read_file(dir + "/final.dat"));
  auto longer = fin;
  longer[2] += std::string(8, '\0');
  qvt::write_file(dir + "/longer.dat", join_records(longer));
  auto nan_t = fin;
  const double nan = std::nan("");
  std::memcpy(nan_t[1].data() + 24, &nan, 8);
  qvt::write_file(dir + "/nan.dat", join_records(nan_t));
  // the body state likewise: a longer displacement record, a velocity NaN
  const auto body = split_records(qvt::read_file(dir + "/body.dat"));
  auto body_longer = body;
  body_longer[2] += std::string(8, '\0');
  qvt::write_file(dir + "/bodylong.dat", join_records(body_longer));
  auto body_nan = body;
  std::memcpy(body_nan[3].data() + 8, &nan, 8);
  qvt::write_file(dir + "/bodynan.dat", join_records(body_nan));

  const struct {
    const char *file, *body;
    const char* message;
  } cases[] = {
      {"ny.dat", "body.dat", "the input field file ny.dat holds a grid of 17 x 15 x 3 grid lines; this run has 17 x 13 x 3"},
      {"statfield.dat", "body.dat",
       "the input field file statfield.dat: record 3 holds 5304 bytes where this run's grid needs 3456"},
      {"longer.dat", "body.dat",
       "the input field file longer.dat: record 3 holds 3464 bytes where this run's grid needs 3456"},
      {"nan.dat", "body.dat", "the input field file nan.dat: record 2 holds a value that is not finite (nan, item 4)"},
      {"final.dat", "bodylong.dat",
       "the body-state input file bodylong.dat: record 3 holds 32 bytes where this run's grid needs 24"},
      {"final.dat", "bodynan.dat",
       "the body-state input file bodynan.dat: record 4 holds a value that is not finite (nan, item 2)"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.body);
    SCOPED_TRACE(k.file);
    set_name(dir, 1, 35, k.file);
    set_name(dir, 10, 3, k.body);
    std::string out;
    EXPECT_EQ(qvt::run_program(dir, "1.0\n1\n", &out), 2);
    EXPECT_EQ(qvt::count(out, "itm2c nn2 nn ="), 0);
    EXPECT_NE(qvt::read_file(dir + "/console.err").find(k.message), std::string::npos)
        << qvt::read_file(dir + "/console.err");
  }
}
