// Body response: fluid load, vibration, time series.
#pragma once

#include "store/store.hpp"

namespace qv {

// Pressure force pfx, pfy and moment pft on the cells flagged 1.
void calfrm(Store& s);

// One Newmark-beta step of the body, the history samples and the frame
// terms fxn, fyn.
void calvib(Store& s);

// Time-series file: started anew at t = 0; otherwise the console decides
// between appending (0) and starting anew (1).  Writes the header pair.
void initsout(Store& s, double t0);

// One time-series line.
void tsout(int nn, double t, double uin, double pfx, double pfy, double pft, double xdis, double ydis);

inline constexpr const char* kSeriesFile = "DAT/quivel_vib8.ts";

}  // namespace qv
