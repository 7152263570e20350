#include <gtest/gtest.h>

#include "tests/support/device_rig.h"

namespace tarvik {
namespace {

class DiscoveryTest : public ::testing::Test, protected test::DeviceRig {};

TEST_F(DiscoveryTest, NothingPresentStillRegistersOnceAndMatchesNothing) {
  Plug(0x046D, 0xC077);
  EXPECT_FALSE(hid.SearchDevice());
  EXPECT_EQ(bus.RegistrationCount(), 1);
  EXPECT_TRUE(hid.IsNotifyRegistered());
  EXPECT_FALSE(hid.SearchDevice());
  PlugRow(3);
  EXPECT_TRUE(hid.SearchDevice());
  EXPECT_EQ(bus.RegistrationCount(), 1);
  EXPECT_TRUE(hid.IsDevicePresent());
  EXPECT_EQ(hid.DevicePath(), bus.PathOf(2));
}

TEST_F(DiscoveryTest, EachRowSetsItsReportModeAndTheBootFlag) {
  const int packet2 = PlugRow(2);
  EXPECT_TRUE(hid.SearchDevice());
  EXPECT_EQ(hid.CurrentReportMode(), 2);
  EXPECT_FALSE(hid.IsBootMode());
  EXPECT_TRUE(hid.IsDevicePresent());

  bus.Unplug(packet2, false);
  PlugRow(3);
  EXPECT_TRUE(hid.SearchDevice());
  EXPECT_EQ(hid.CurrentReportMode(), 3);
  EXPECT_TRUE(hid.IsBootMode());
}

TEST_F(DiscoveryTest, LowestRowWinsWhateverTheEnumerationOrder) {
  const int boot = PlugRow(3);
  const int packet1 = PlugRow(1);
  EXPECT_TRUE(hid.SearchDevice());
  EXPECT_EQ(hid.CurrentReportMode(), 1);
  EXPECT_FALSE(hid.IsBootMode());
  EXPECT_EQ(hid.DevicePath(), bus.PathOf(packet1));
  EXPECT_NE(hid.DevicePath(), bus.PathOf(boot));
}

TEST_F(DiscoveryTest, FailedSearchAfterSuccessKeepsPathAndBootFlag) {
  const int boot = PlugRow(3);
  ASSERT_TRUE(hid.SearchDevice());
  const std::string path = hid.DevicePath();
  bus.Unplug(boot, false);
  EXPECT_FALSE(hid.SearchDevice());
  EXPECT_FALSE(hid.IsDevicePresent());
  EXPECT_EQ(hid.CurrentReportMode(), 0);
  EXPECT_TRUE(hid.IsBootMode());
  EXPECT_EQ(hid.DevicePath(), path);
}

TEST_F(DiscoveryTest, FirstOpenableInterfaceWithTheIdsWinsAndUnreadableOnesAreSkipped) {
  const int locked = PlugRow(3);
  bus.SetOpenable(locked, false);
  SimDeviceSetup noAttributes;
  noAttributes.vendorId = 0x5A3C;
  noAttributes.productId = 0x7E23;
  noAttributes.attributesReadable = false;
  bus.Plug(noAttributes, false);
  const int second = PlugRow(3);
  PlugRow(3);
  EXPECT_TRUE(hid.SearchDevice());
  EXPECT_EQ(hid.DevicePath(), bus.PathOf(second));
}

TEST_F(DiscoveryTest, NoProbeHandleRemainsOpenAndThePathIsTraced) {
  Plug(0x1234, 0x0001);
  const int boot = PlugRow(3);
  EXPECT_TRUE(hid.SearchDevice());
  EXPECT_EQ(bus.OpenHandleCount(), 0);
  EXPECT_TRUE(hid.SearchDevice());
  const auto trace = system.TraceLines();
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_EQ(trace[0], "m_DevicePath:" + bus.PathOf(boot) + "\n");
}

TEST_F(DiscoveryTest, LongerPathThanTheFirstInterfaceIsStillFound) {
  Plug(0x1234, 0x0001, "short");
  const std::string longPath = "\\\\?\\hid#vid_5a3c&pid_7e21#" + std::string(600, 'x');
  Plug(0x5A3C, 0x7E21, longPath);
  EXPECT_TRUE(hid.SearchDevice());
  EXPECT_EQ(hid.DevicePath(), longPath);
}

TEST_F(DiscoveryTest, OtherVendorsProductIdsDoNotMatch) {
  Plug(0x5A3D, 0x7E23);
  Plug(0x5A3C, 0x7E24);
  EXPECT_FALSE(hid.SearchDevice());
  EXPECT_EQ(hid.DevicePath(), "");
}

}  // namespace
}  // namespace tarvik
