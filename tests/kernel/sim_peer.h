// What the kernel test's device-side programs share: a simulated controller
// made from the command line, the report descriptor it shows the host, and
// the check of what it holds once the host is done.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/sim_boot_controller.h"
#include "sim/sim_packet_controller.h"

namespace tarvik {

// A vendor-defined device with 64-byte reports; with `reportId`, numbered
// reports of 63 bytes after the ID.
std::vector<uint8_t> PeerReportDescriptor(int reportId);

struct SimPeer {
  std::string mode;  // boot, packet1 or packet2
  int row = 3;       // the device table's row, 1-based
  std::shared_ptr<SimBootController> boot;
  std::shared_ptr<SimPacketController> packet;
  ISimDeviceModel* model = nullptr;
};

// Makes the controller of `mode` with the settings `args` (KEY=VALUE, see
// --sim, and uid.step=N: the main microcontroller's UID ends N higher than the
// model's, so that several boot-mode controllers on one bus tell themselves
// apart). False, having said why on stderr, for a bad mode or setting.
bool MakeSimPeer(const char* program, const std::string& mode, const std::vector<std::string>& args,
                 SimPeer& peer);

// Empty when the controller holds IMAGE as the host should have left it;
// otherwise why not.
std::string CheckSimPeer(const SimPeer& peer, const std::string& image);

// Prints "PEER-CHECK OK <mode>" or "PEER-CHECK FAIL <mode>: <failure>"; the
// program's exit status.
int ReportSimPeerCheck(const SimPeer& peer, const std::string& failure);

}  // namespace tarvik
