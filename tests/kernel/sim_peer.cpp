#include "tests/kernel/sim_peer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "device/device_table.h"
#include "update/firmware_image.h"

namespace tarvik {

namespace {

using Bytes = std::vector<uint8_t>;

std::string Hex(const Bytes& bytes) {
  std::string out;
  char digits[3];
  for (uint8_t b : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", b);
    out += digits;
  }
  return out;
}

// What the controller should hold after writing IMAGE.
std::string CheckBoot(const SimBootController& model, const std::string& path) {
  const FirmwareImage image = FirmwareImage::Load(path);
  if (!image.Accepted()) return "the image is not valid";
  const std::vector<ImageRecord>& records = image.Records();
  const auto regions = model.WrittenRegions();
  for (const ImageRecord& record : records) {
    if (record.header.version == 0) break;
    const auto begin = image.Bytes().begin() + static_cast<std::ptrdiff_t>(record.PayloadOffset());
    const Bytes payload(begin, begin + record.header.desLen);
    const char* mcu = record.header.pid != 0 ? "main" : "at";
    bool found = false;
    for (const auto& region : regions) {
      found = found || (region.mcu == mcu && region.address == record.header.desAddress && region.bytes == payload);
    }
    if (!found) return std::string("record for ") + mcu + " not in flash";
  }
  if (model.Stamps().size() != records.size()) return "version stamps missing";
  if (model.ResetCount() != 1) return "no reset";
  return "";
}

std::string CheckPacket(const SimPacketController& model, const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return "cannot read the image";
  Bytes image;
  int c;
  while ((c = std::fgetc(f)) != EOF) image.push_back(static_cast<uint8_t>(c));
  std::fclose(f);
  if (image.size() < kRecordHeaderSize) return "image too short";
  const RecordHeader header = ParseRecordHeader(image.data());
  const Bytes received = model.ReceivedData();
  if (received.size() < header.desLen) return "received " + std::to_string(received.size()) + " bytes";
  if (!std::equal(received.begin(), received.begin() + header.desLen, image.begin() + kRecordHeaderSize)) {
    return "received data differs from the image: " + Hex(Bytes(received.begin(), received.begin() + 16));
  }
  if (model.CompletedTransfers() != 1) return "transfer not completed";
  return "";
}

}  // namespace

Bytes PeerReportDescriptor(int reportId) {
  const uint8_t count = reportId ? 63 : 64;
  Bytes d = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01};
  if (reportId) d.insert(d.end(), {0x85, static_cast<uint8_t>(reportId)});
  d.insert(d.end(), {0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, count, 0x09, 0x01, 0x81, 0x02,
                     0x95, count, 0x09, 0x01, 0x91, 0x02, 0xC0});
  return d;
}

bool MakeSimPeer(const char* program, const std::string& mode, const std::vector<std::string>& args,
                 SimPeer& peer) {
  if (mode != "boot" && mode != "packet1" && mode != "packet2") {
    std::fprintf(stderr, "%s: unknown mode %s (boot, packet1 or packet2)\n", program, mode.c_str());
    return false;
  }
  peer.mode = mode;
  peer.row = mode == "packet1" ? 1 : mode == "packet2" ? 2 : 3;
  SimBootConfig bootConfig;
  SimPacketConfig packetConfig;
  for (const std::string& setting : args) {
    const size_t eq = setting.find('=');
    std::string error;
    if (eq != std::string::npos && setting.compare(0, eq, "uid.step") == 0) {
      char* end = nullptr;
      const unsigned long step = std::strtoul(setting.c_str() + eq + 1, &end, 0);
      if (end == setting.c_str() + eq + 1 || *end != '\0' || step > 0xFFFF) {
        std::fprintf(stderr, "%s: bad setting %s (a number up to 0xFFFF)\n", program, setting.c_str());
        return false;
      }
      bootConfig.main.uid[2] += static_cast<uint32_t>(step);
      continue;
    }
    if (eq == std::string::npos ||
        !(ApplySimBootSetting(setting.substr(0, eq), setting.substr(eq + 1), bootConfig, error) ||
          ApplySimPacketSetting(setting.substr(0, eq), setting.substr(eq + 1), packetConfig, error))) {
      std::fprintf(stderr, "%s: bad setting %s %s\n", program, setting.c_str(), error.c_str());
      return false;
    }
  }
  if (peer.row == 3) {
    peer.boot = std::make_shared<SimBootController>(bootConfig);
    peer.model = peer.boot.get();
  } else {
    peer.packet = std::make_shared<SimPacketController>(peer.row, packetConfig);
    peer.model = peer.packet.get();
  }
  return true;
}

std::string CheckSimPeer(const SimPeer& peer, const std::string& image) {
  return peer.boot ? CheckBoot(*peer.boot, image) : CheckPacket(*peer.packet, image);
}

int ReportSimPeerCheck(const SimPeer& peer, const std::string& failure) {
  if (failure.empty()) {
    std::printf("PEER-CHECK OK %s\n", peer.mode.c_str());
  } else {
    std::printf("PEER-CHECK FAIL %s: %s\n", peer.mode.c_str(), failure.c_str());
  }
  std::fflush(stdout);
  return failure.empty() ? 0 : 1;
}

}  // namespace tarvik
