#include <gtest/gtest.h>

#include "texts/reason_texts.h"
#include "app/window_texts.h"
#include "tests/support/fake_system.h"
#include "tests/support/image_builder.h"
#include "update/firmware_image.h"
#include "update/firmware_version.h"

namespace tarvik {
namespace {

// A reason in English, without the image's name that a problem with its bytes carries.
std::string Said(tarvik::Reason reason) {
  if (tarvik::IsImageContentCode(reason.code)) reason.path.clear();
  return tarvik::EnglishReasonText(reason);
}

using test::Bytes;
using test::Payload;
using test::Record;

class ImageScanTest : public ::testing::Test {
 protected:
  test::TempDir dir;
  std::vector<ImageRecord> records;
  ImageScan Scan(const Bytes& bytes) {
    const std::string path = test::WriteFile(dir.Path() / "fw.dat", bytes);
    const FirmwareImage image = FirmwareImage::Load(path);
    EXPECT_TRUE(image.Readable());
    EXPECT_EQ(image.Bytes(), bytes);
    records = image.Records();
    return image.Scan();
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
    EXPECT_EQ(Said(scan.reason), c.reason);
  }
}

TEST_F(ImageScanTest, HugeLengthsDoNotWrapIntoAFit) {
  // 28 + 0xFFFFFFE4 wraps to 0 in 32 bits: the next header would start at 0 again.
  const Bytes image = test::Concat({Record(1, 0, Payload(10)), Record(1, 0, Bytes{}, 1, 0xFFFFFFE4u)});
  EXPECT_EQ(Scan(image).payloadTotal, 0u);
}

TEST_F(ImageScanTest, MissingFileIsRejected) {
  const std::string missing = (dir.Path() / "none.dat").string();
  EXPECT_FALSE(FirmwareImage::Load(missing).Readable());
  EXPECT_EQ(Said(FirmwareImage::Load(missing).Scan().reason), "cannot open " + missing + ": No such file or directory");
  EXPECT_EQ(Said(FirmwareImage::Load(dir.Path().string()).Scan().reason),
            "cannot open " + dir.Path().string() + ": it is a directory");
}

TEST_F(ImageScanTest, ImagesTooLargeForAControllerAreNotRead) {
  const std::string path = (dir.Path() / "huge.dat").string();
  std::filesystem::resize_file(test::WriteFile(path, Bytes{}), kMaxImageBytes + 1);
  const FirmwareImage image = FirmwareImage::Load(path);
  EXPECT_FALSE(image.Readable());
  EXPECT_TRUE(image.Bytes().empty());
  EXPECT_EQ(Said(image.Scan().reason), path + " holds 67108865 bytes, more than the 64 MiB an image can have");
}

// Records that tile the file but would not be written as their headers say.
TEST_F(ImageScanTest, RecordsTheUpdateWouldNotWriteAsCheckedAreRejected) {
  const Bytes terminator(28, 0);
  struct Case {
    Bytes image;
    const char* reason;
  } cases[] = {
      {test::Concat({Record(131, 0x1000, Payload(100)), Record(0, 0x2000, Payload(50)), Record(131, 0x3000, Payload(60))}),
       "record 2 has version 0, which ends the chain, but carries 50 bytes that would never be written"},
      {test::Concat({Record(131, 0x1000, Payload(100)), terminator, Record(131, 0x3000, Payload(60))}),
       "record 3 follows the version-0 header of record 2, which ends the chain: it would never be written"},
      {Record(131, 0x80000000u, Payload(10)),
       "record 1 (main mcu, 10 bytes at 0x80000000) reaches 0x80000000 and up, where addresses select the ATmcu"},
      {Record(131, 0x7FFFFFF0u, Payload(100)),
       "record 1 (main mcu, 100 bytes at 0x7FFFFFF0) reaches 0x80000000 and up, where addresses select the ATmcu"},
      {Record(131, 0xFFFFFFF0u, Payload(100), 0),
       "record 1 (ATmcu, 100 bytes at 0xFFFFFFF0) runs past the end of the address space"},
      {test::Concat({Record(131, 0x1000, Payload(100)), Record(131, 0x1050, Payload(50))}),
       "records 1 and 2 overlap on the main mcu from 0x00001050"},
      // The ATmcu bit is the address's: 0x2000 and 0x80002000 are one place on the ATmcu.
      {test::Concat({Record(131, 0x80002000u, Payload(40), 0), Record(131, 0x2010, Payload(40), 0)}),
       "records 1 and 2 overlap on the ATmcu from 0x80002010"},
  };
  for (const Case& c : cases) {
    const ImageScan scan = Scan(c.image);
    EXPECT_FALSE(scan.Accepted()) << c.reason;
    EXPECT_EQ(Said(scan.reason), c.reason);
  }
  // Alike, but written where their headers say: accepted.
  const Bytes sound[] = {
      test::Concat({Record(131, 0x1000, Payload(100)), terminator}),
      Record(131, 0x7FFFFF9Cu, Payload(100)),
      test::Concat({Record(131, 0x1000, Payload(100)), Record(131, 0x1000, Payload(100), 0)}),
      test::Concat({Record(131, 0x1000, Payload(100)), Record(131, 0x1064, Payload(50))}),
  };
  for (const Bytes& image : sound) EXPECT_TRUE(Scan(image).Accepted()) << Said(Scan(image).reason);
}

TEST(ImageProtocolTest, EachProtocolWritesItsRecordsOrSaysWhyNot) {
  const Bytes terminator(28, 0);
  const FirmwareImage two = FirmwareImage::FromBytes(
      test::Concat({Record(131, 0x1000, Payload(100)), Record(112, 0x2000, Payload(50), 0), terminator}), "two.dat");
  ASSERT_TRUE(two.Accepted());
  EXPECT_EQ(RecordsWrittenBy(UpdateProtocol::kBoot, two.Records()), (std::vector<size_t>{0, 1}));
  EXPECT_EQ(Said(two.CheckFor(UpdateProtocol::kBoot)), "");
  EXPECT_EQ(Said(two.CheckFor(UpdateProtocol::kPacket)),
            "a controller in report mode 1 or 2 takes only the first record, and record 2 (ATmcu, 50 bytes) would "
            "be dropped");
  uint32_t version = 0;
  ASSERT_TRUE(two.VersionFor(UpdateProtocol::kBoot, ImageMcu::kAtMcu, version));
  EXPECT_EQ(version, 112u);

  const FirmwareImage one =
      FirmwareImage::FromBytes(test::Concat({Record(131, 0x1000, Payload(100)), terminator}), "one.dat");
  EXPECT_EQ(Said(one.CheckFor(UpdateProtocol::kPacket)), "");
  EXPECT_EQ(RecordsWrittenBy(UpdateProtocol::kPacket, one.Records()), (std::vector<size_t>{0}));
  EXPECT_FALSE(one.VersionFor(UpdateProtocol::kBoot, ImageMcu::kAtMcu, version));
}

// The packet protocol takes record 1 and whatever follows it that is not a
// chain of records with payload; boot mode takes only records that tile the file.
TEST(ImageProtocolTest, PacketProtocolTakesTrailingBytesThatBootModeRefuses) {
  const Bytes terminator(28, 0);
  const Bytes record100 = Record(124, 0x08004000, Payload(100));
  struct Case {
    Bytes image;
    const char* packetRefusal;  // empty: taken
    uint64_t trailingBytes;
    uint64_t trailingSent;
    const char* bootRefusal;    // empty: taken
  } cases[] = {
      // 60 bytes behind the payload: the fourth data packet carries 28 of them.
      {test::Concat({record100, Bytes(60, 0xEE)}), "", 60, 28, "record 2 runs past the end of the file"},
      // desLen 20 in 92 bytes: two packets, 44 bytes beyond desLen.
      {test::Concat({Record(124, 0x08004000, Payload(20)), Bytes(44, 0x11)}), "", 44, 44,
       "record 2 runs past the end of the file"},
      // desLen 64: the second packet ends at desLen and none of the 10 goes out.
      {test::Concat({Record(124, 0x08004000, Payload(64)), Bytes(10, 0)}), "", 10, 0,
       "10 bytes at offset 92 do not form a record header"},
      // A second record and ten bytes do not form a chain: trailing bytes.
      {test::Concat({record100, Record(124, 0x2000, Payload(50), 0), Bytes(10, 0)}), "", 88, 28,
       "10 bytes at offset 206 do not form a record header"},
      // An empty record behind record 1 is trailing bytes too; boot mode takes it.
      {test::Concat({record100, Record(124, 0x9000, Bytes{})}), "", 28, 28, ""},
      {test::Concat({record100, terminator}), "", 0, 0, ""},
      {record100, "", 0, 0, ""},
      {test::Concat({record100, Record(124, 0x2000, Payload(50), 0)}),
       "a controller in report mode 1 or 2 takes only the first record, and record 2 (ATmcu, 50 bytes) would be "
       "dropped",
       0, 0, ""},
      // Further records with payload that the whole file's check refuses: its reason.
      {test::Concat({record100, terminator, Record(124, 0x3000, Payload(60))}),
       "record 3 follows the version-0 header of record 2, which ends the chain: it would never be written", 0, 0,
       "record 3 follows the version-0 header of record 2, which ends the chain: it would never be written"},
      {test::Concat({Record(124, 0x08004000, Payload(100), 1, 200), Bytes(60, 0)}),
       "record 1 runs past the end of the file", 0, 0, "record 1 runs past the end of the file"},
      {test::Concat({Record(124, 0x08004000, Bytes{}), Bytes(40, 0xEE)}),
       "a controller in report mode 1 or 2 takes only the first record, which carries no payload", 0, 0,
       "record 2 runs past the end of the file"},
      {test::Concat({Record(0, 0x08004000, Payload(100)), Bytes(60, 0)}),
       "record 1 has version 0, which ends the chain, but carries 100 bytes that would never be written", 0, 0,
       "4 bytes at offset 184 do not form a record header"},
      {test::Concat({Record(124, 0x7FFFFFF0u, Payload(100)), Bytes(60, 0)}),
       "record 1 (main mcu, 100 bytes at 0x7FFFFFF0) reaches 0x80000000 and up, where addresses select the ATmcu",
       0, 0, "4 bytes at offset 184 do not form a record header"},
      {Bytes{}, "the file is empty", 0, 0, "the file is empty"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.image.size());
    const FirmwareImage image = FirmwareImage::FromBytes(c.image, "fw.dat");
    const ProtocolTake& packet = image.TakeBy(UpdateProtocol::kPacket);
    EXPECT_EQ(Said(packet.refusal), c.packetRefusal);
    EXPECT_EQ(packet.trailingBytes, c.trailingBytes);
    EXPECT_EQ(packet.trailingSent, c.trailingSent);
    EXPECT_EQ(Said(image.CheckFor(UpdateProtocol::kPacket)), c.packetRefusal);
    EXPECT_EQ(Said(image.CheckFor(UpdateProtocol::kBoot)), c.bootRefusal);
    EXPECT_EQ(image.Accepted(), packet.Taken() || std::string(c.bootRefusal).empty());
  }
  // The checked snapshot of a trailing image writes record 1 and its version on a packet controller only.
  const FirmwareImage trailing = FirmwareImage::FromBytes(test::Concat({record100, Bytes(60, 0xEE)}), "fw.dat");
  EXPECT_EQ(trailing.PayloadTotal(), 100u);
  uint32_t version = 0;
  EXPECT_FALSE(trailing.VersionFor(UpdateProtocol::kBoot, ImageMcu::kMain, version));
  ASSERT_TRUE(trailing.VersionFor(UpdateProtocol::kPacket, ImageMcu::kMain, version));
  EXPECT_EQ(version, 124u);
  EXPECT_FALSE(FirmwareImage().Accepted());
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
