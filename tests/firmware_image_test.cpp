#include <gtest/gtest.h>

#include "tests/support/fake_system.h"
#include "tests/support/image_builder.h"
#include "update/firmware_image.h"
#include "update/version_text.h"

namespace tarvik {
namespace {

using test::Bytes;
using test::Payload;
using test::Record;

class ImageScanTest : public ::testing::Test {
 protected:
  test::TempDir dir;
  CImageFile file;
  std::vector<ImageRecord> records;
  ImageScan Scan(const Bytes& bytes) {
    const std::string path = test::WriteFile(dir.Path() / "fw.dat", bytes);
    records.clear();
    ImageScan scan = ScanImageFile(file, path, records);
    EXPECT_FALSE(file.IsOpen());
    return scan;
  }
};

TEST_F(ImageScanTest, RecordsThatTileTheFileAreAcceptedWithTheirPayloadTotal) {
  EXPECT_EQ(Scan(Record(123, 0x1000, Payload(100))).payloadTotal, 100u);
  const ImageScan two = Scan(test::Concat({Record(123, 0, Payload(100)), Record(1, 0, Payload(50), 0)}));
  EXPECT_EQ(two.payloadTotal, 150u);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(two.recordCount, 2u);
  EXPECT_EQ(records[1].offset, 128u);
  EXPECT_EQ(records[1].header.pid, 0);
  EXPECT_EQ(two.fileLength, 206u);
  // A zero header behind the payload forms an empty record and is accepted.
  EXPECT_EQ(Scan(test::Concat({Record(123, 0, Payload(100)), Bytes(28, 0)})).payloadTotal, 100u);
}

TEST_F(ImageScanTest, StructurallyBadImagesAreRejectedWithAReason) {
  const Bytes two = test::Concat({Record(123, 0, Payload(100)), Record(1, 0, Payload(50))});
  struct Case {
    Bytes image;
    const char* reason;
  } cases[] = {
      {Bytes{}, "the file is empty"},
      {test::Concat({two, Bytes(10, 0)}), "10 bytes at offset 206 do not form a record header"},
      {Record(1, 0, Payload(100), 1, 101), "record 1 runs past the end of the file"},
      {Record(1, 0, Bytes{}), "the image carries no payload"},
      {Bytes(20, 0xFF), "20 bytes at offset 0 do not form a record header"},
  };
  for (const Case& c : cases) {
    const ImageScan scan = Scan(c.image);
    EXPECT_EQ(scan.payloadTotal, 0u) << c.reason;
    EXPECT_EQ(scan.reason, c.reason);
  }
}

TEST_F(ImageScanTest, HugeLengthsDoNotWrapIntoAFit) {
  // 28 + 0xFFFFFFE4 wraps to 0 in 32 bits: the next header would start at 0 again.
  const Bytes image = test::Concat({Record(1, 0, Payload(10)), Record(1, 0, Bytes{}, 1, 0xFFFFFFE4u)});
  EXPECT_EQ(Scan(image).payloadTotal, 0u);
}

TEST_F(ImageScanTest, MissingFileIsRejected) {
  const std::string missing = (dir.Path() / "none.dat").string();
  EXPECT_EQ(ScanImageFile(file, missing).reason, "cannot open " + missing + ": No such file or directory");
  EXPECT_EQ(ScanImageFile(file, dir.Path().string()).reason,
            "cannot open " + dir.Path().string() + ": it is a directory");
}

TEST(VersionTextTest, ConfirmationShowsBetasOnlyWhereTheyAreNonZero) {
  const uint32_t beta2 = (2u << 16) | 123;
  EXPECT_EQ(FormatVersionConfirmation("Fw", beta2, "and current is", 100),
            "Fw 1.23 beta2 and current is 1.00\n");
  EXPECT_EQ(FormatVersionConfirmation("Fw", beta2, "and current is", (3u << 16) | 120),
            "Fw 1.23 beta2 and current is 1.20 beta3\n");
  EXPECT_EQ(FormatVersionConfirmation("Fw", 123, "and current is", (3u << 16) | 120),
            "Fw 1.23 and current is 1.20 beta3\n");
  EXPECT_EQ(FormatVersionConfirmation("Fw", 123, "and current is", 123), "Fw 1.23 and current is 1.23\n");
  // The device version not yet known.
  EXPECT_EQ(FormatVersionConfirmation("Fw", 123, "and current is", 0x5A5A5A5A),
            "Fw 1.23 and current is 231.30 beta23130\n");
}

TEST(VersionTextTest, BootTitleForms) {
  const std::string title = "Tarvik Update v2.00";
  EXPECT_EQ(FormatBootVersionTitle(title, (2u << 16) | 123, 5), "Tarvik Update v2.00 (Fw v1.23 beta2 r5)");
  EXPECT_EQ(FormatBootVersionTitle(title, 123, 5), "Tarvik Update v2.00 (Fw v1.23 r5)");
  EXPECT_EQ(FormatBootVersionTitle(title, (256u << 16) | 100, 7), "Tarvik Update v2.00 (Fw v1.00 beta256 r7)");
  EXPECT_EQ(FormatBootVersionTitle(title, 0xFFFFFFFFu, 0xFFFF), "Tarvik Update v2.00 (Fw v0.00 r0)");
  EXPECT_EQ(FormatBootVersionTitle(title, (1u << 16) | 100, 0), "Tarvik Update v2.00 (Fw v1.00 beta1 r0)");
}

TEST(VersionTextTest, ShortForm) {
  EXPECT_EQ(FormatVersionShort(123), "1.23");
  EXPECT_EQ(FormatVersionShort((2u << 16) | 123), "1.23 beta2");
}

}  // namespace
}  // namespace tarvik
