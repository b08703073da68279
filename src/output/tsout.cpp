#include "io/console.hpp"
#include "io/files.hpp"
#include "output/output.hpp"

namespace qv {

void initsout(Store&, double t0) {
  Mode mode = Mode::Unknown;
  if (t0 != 0) {
    say(fmt::Line() << " ts output append to exsisting file" << " or start from t=" << t0 << "?(0/1)");
    long long answer;
    try {
      answer = ask_int();
    } catch (const IoError&) {
      say(fmt::Line() << "no answer to the time-series question (0 append, 1 start anew)");
      throw RunStop("no time-series answer", 2);
    }
    if (answer != 0 && answer != 1) {
      say(fmt::Line() << "time-series answer must be 0 (append) or 1 (start anew), not" << answer);
      throw RunStop("bad time-series answer", 2);
    }
    mode = answer == 0 ? Mode::Append : Mode::Unknown;
  }
  TextWriter w(kSeriesFile, unit::series, mode);
  w.line((fmt::Line() << "#start at t=" << t0).str());
  w.line((fmt::Line() << "#nn       t         Vin        pfx        pfy        pft"
                      << "      xdis      ydis")
             .str());
  say(fmt::Line() << "time series will be output in " << kSeriesFile);
  w.close();
}

void tsout(int nn, double t, double uin, double pfx, double pfy, double pft, double xdis, double ydis) {
  TextWriter w(kSeriesFile, unit::series, Mode::Append);
  w.line(fmt::I(nn, 6) + fmt::F(t, 10, 4) + fmt::E(uin, 12, 4) + fmt::E(pfx, 12, 4) + fmt::E(pfy, 12, 4) +
         fmt::E(pft, 12, 4) + fmt::E(xdis, 12, 4) + fmt::E(ydis, 12, 4));
  w.close();
}

}  // namespace qv
