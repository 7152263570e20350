#include "web/simulated_holdings.h"

#include <emscripten/emscripten.h>

#include <mutex>

#include "base/bytes.h"
#include "base/strformat.h"

namespace tarvik {

namespace {

std::mutex g_lock;
std::vector<SimPopulation> g_controllers;

std::string Hex(const std::vector<uint8_t>& bytes) { return ToHex(bytes.data(), bytes.size()); }

std::string DescribeBoot(const SimBootController& boot) {
  std::string regions;
  for (const SimBootController::FlashRegion& region : boot.WrittenRegions()) {
    if (!regions.empty()) regions += ',';
    regions += StrFormat(R"({"mcu":"%s","address":%u,"bytes":"%s"})", region.mcu.c_str(), region.address,
                         Hex(region.bytes).c_str());
  }
  std::string stamps;
  for (const SimBootController::VersionStamp& stamp : boot.Stamps()) {
    if (!stamps.empty()) stamps += ',';
    stamps += StrFormat(R"({"mcu":"%s","version":%u})", stamp.mcu.c_str(), stamp.version);
  }
  return StrFormat(R"({"protocol":"boot","regions":[%s],"stamps":[%s],"resets":%d})", regions.c_str(),
                   stamps.c_str(), boot.ResetCount());
}

std::string DescribePacket(const SimPacketController& packet) {
  return StrFormat(R"({"protocol":"packet","reportMode":%d,"firmware":"%s","transfers":%d})", packet.ReportMode(),
                   Hex(packet.Firmware()).c_str(), packet.CompletedTransfers());
}

}  // namespace

void SetSimulatedControllers(std::vector<SimPopulation> controllers) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_controllers = std::move(controllers);
}

std::string DescribeSimulatedControllers() {
  std::lock_guard<std::mutex> lock(g_lock);
  std::string out = "[";
  for (const SimPopulation& controller : g_controllers) {
    if (out.size() > 1) out += ',';
    out += controller.boot ? DescribeBoot(*controller.boot) : DescribePacket(*controller.packet);
  }
  return out + "]";
}

}  // namespace tarvik

// For the page's thread; the text stays valid until the next call.
extern "C" EMSCRIPTEN_KEEPALIVE const char* tarvik_web_simulated_controllers() {
  static std::string text;
  text = tarvik::DescribeSimulatedControllers();
  return text.c_str();
}
