// Frames of the firmware packet protocol that the window sends outside an update.
#pragma once

namespace tarvik {

class CHid;

// Report mode 2 only: reopens the device and writes the mode-2 signal. True
// when the mode is 2 and both the reopen and the write succeeded.
bool ReopenAndSignal(CHid& hid);

}  // namespace tarvik
