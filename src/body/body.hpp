// Body response: fluid load and vibration.
#pragma once

#include "store/store.hpp"

namespace qv {

// Pressure force pfx, pfy and moment pft on the cells flagged 1.
void calfrm(Store& s);

// One Newmark-beta step of the body, the history samples and the frame
// terms fxn, fyn.  False when a sample was due and the history could not
// grow for it (the sample is dropped; the caller says so once).
bool calvib(Store& s);

}  // namespace qv
