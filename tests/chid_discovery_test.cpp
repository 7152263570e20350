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
  EXPECT_EQ(hid.Mode(), ReportMode::kPacket);
  EXPECT_FALSE(hid.IsBootMode());
  EXPECT_TRUE(hid.IsDevicePresent());

  bus.Unplug(packet2, false);
  PlugRow(3);
  EXPECT_TRUE(hid.SearchDevice());
  EXPECT_EQ(hid.Mode(), ReportMode::kBootCommand);
  EXPECT_TRUE(hid.IsBootMode());
}

TEST_F(DiscoveryTest, LowestRowWinsWhateverTheEnumerationOrder) {
  const int boot = PlugRow(3);
  const int packet1 = PlugRow(1);
  EXPECT_TRUE(hid.SearchDevice());
  EXPECT_EQ(hid.Mode(), ReportMode::kPacketNumbered);
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
  EXPECT_EQ(hid.Mode(), ReportMode::kNone);
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

// How often one search opens each device: others' devices only when the bus
// cannot tell their IDs otherwise, and then once, not once per table row.
struct OpensCase {
  const char* name;
  bool idsListed;
  int controllerRow;  // 0: none
  int otherOpens;
  int controllerOpens;
};

class DiscoveryOpensTest : public ::testing::TestWithParam<OpensCase>, protected test::DeviceRig {};

TEST_P(DiscoveryOpensTest, OneEnumerationOpensOnlyWhatMayBeAController) {
  const OpensCase& c = GetParam();
  SimDeviceSetup mouse;
  mouse.vendorId = 0x046D;
  mouse.productId = 0xC077;
  mouse.idsListed = c.idsListed;
  const int other = bus.Plug(mouse, false);
  int controller = 0;
  if (c.controllerRow != 0) {
    SimDeviceSetup setup = ControllerSetup(c.controllerRow);
    setup.idsListed = c.idsListed;
    controller = bus.Plug(setup, false);
  }
  EXPECT_EQ(hid.SearchDevice(), controller != 0);
  if (controller != 0) {
    EXPECT_EQ(hid.DevicePath(), bus.PathOf(controller));
  }
  EXPECT_EQ(static_cast<int>(hid.Mode()), c.controllerRow);
  EXPECT_EQ(bus.OpenCount(other), c.otherOpens);
  EXPECT_EQ(bus.OpenCount(controller), c.controllerOpens);
  EXPECT_EQ(bus.OpenHandleCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Buses, DiscoveryOpensTest,
    ::testing::Values(OpensCase{"IdsListedNoController", true, 0, 0, 0},
                      OpensCase{"IdsListedBootController", true, 3, 0, 1},
                      OpensCase{"IdsReadByOpeningNoController", false, 0, 1, 0},
                      OpensCase{"IdsReadByOpeningBootController", false, 3, 1, 2}),
    [](const ::testing::TestParamInfo<OpensCase>& opens) { return std::string(opens.param.name); });

TEST_F(DiscoveryTest, OtherVendorsProductIdsDoNotMatch) {
  Plug(0x5A3D, 0x7E23);
  Plug(0x5A3C, 0x7E24);
  EXPECT_FALSE(hid.SearchDevice());
  EXPECT_EQ(hid.DevicePath(), "");
}

}  // namespace
}  // namespace tarvik
