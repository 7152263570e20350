// image: what an image holds and whether flash would take it.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "base/strformat.h"
#include "cli/cli_output.h"
#include "texts/interface_texts.h"
#include "texts/reason_texts.h"
#include "cli/commands.h"
#include "cli/flash_one.h"
#include "cli/native_platform.h"
#include "update/image_signature.h"
#include "update/firmware_version.h"

namespace tarvik {

namespace {
// The image listing shows this many records; the check still walks them all.
constexpr size_t kListedRecords = 1000;

class ImageCommand final : public CliCommand {
 public:
  int Run(const GlobalOptions& options) override;

 protected:
  CLI::App* Define(CLI::App& line) override {
    CLI::App* image = line.add_subcommand("image", Tr("Check an image file and list its records"));
    image->add_option("PATH", m_path, Tr("Firmware image (*.dat)"))->required()->type_name("FILE");
    return image;
  }
  std::vector<Unused> UnusedOptions() const override {
    return {{"--device", N_("image reads only the file")},     {"--simulate", N_("image reads only the file")},
            {"--sim", N_("image reads only the file")},        {"--transcript", N_("image reads only the file")},
            {"--replay", N_("image reads only the file")},
            {"--verbose", N_("image has no trace to show")}};
  }

 private:
  std::string m_path;
};

namespace {

// What the image's signature says, on a line of its own.
std::string SignatureLine(const SignatureCheck& check) {
  switch (check.status) {
    case SignatureStatus::kVerified:
      return StrFormat(Tr("Signature: signed by %s (key %s)"), check.keyName.c_str(), check.keyId.c_str());
    case SignatureStatus::kUnsigned:
      return Tr("Signature: none");
    case SignatureStatus::kMismatch:
      return StrFormat(Tr("Signature: does not match the image (key %s)"), check.keyId.c_str());
    case SignatureStatus::kUntrusted:
      return StrFormat(Tr("Signature: by key %s, which this computer does not trust"), check.keyId.c_str());
    case SignatureStatus::kDamaged:
      break;
  }
  return Tr("Signature: the signature file is damaged");
}

// A protocol's refusal without the image's name: the command shows it once, above.
Reason ProblemOnly(Reason reason) {
  if (IsImageContentCode(reason.code)) reason.path.clear();
  return reason;
}

}  // namespace

int ImageCommand::Run(const GlobalOptions& options) {
  // The keys flash would trust here, for controllers that are not simulated.
  const std::unique_ptr<IClock> clock = MakeNativeClock();
  const ImageCheck check = CheckImage(m_path, "", MachineTrust(*MakeNativeSystem(*clock, false)));
  const FirmwareImage& image = check.image;
  const ImageScan& scan = image.Scan();
  const std::vector<ImageRecord>& records = image.Records();
  const size_t listed = std::min(records.size(), kListedRecords);
  const bool opened = image.Readable();
  // What each protocol writes of an accepted image: the record numbers, or why it cannot.
  struct ProtocolUse {
    const char* key;
    const char* name;
    UpdateProtocol protocol;
  };
  static constexpr ProtocolUse kProtocols[] = {
      {"boot", N_("boot command protocol (report mode 3)"), UpdateProtocol::kBoot},
      {"packet", N_("firmware packet protocol (report modes 1 and 2)"), UpdateProtocol::kPacket},
  };
  // An image its signature refuses is no more taken than one no protocol reads.
  const bool accepted = image.Accepted() && check.reason.Empty();
  const ProtocolTake& packet = image.TakeBy(UpdateProtocol::kPacket);
  json document = {{"command", "image"}, {"result", accepted ? "accepted" : "rejected"}};
  if (options.json) {
    json list = json::array();
    for (size_t i = 0; i < listed; ++i) {
      const RecordHeader& h = records[i].header;
      list.push_back({{"index", i + 1},
                      {"offset", records[i].offset},
                      {"version", VersionJson(h.version)},
                      {"desAddress", h.desAddress},
                      {"desLen", h.desLen},
                      {"mcu", h.pid != 0 ? "main" : "at"}});
    }
    document["path"] = m_path;
    document["fileLength"] = scan.fileLength;
    if (!check.sha256.empty()) document["sha256"] = check.sha256;
    if (opened) document["signature"] = SignatureJson(check.signature);
    document["recordCount"] = scan.recordCount;
    document["records"] = list;
    document["payloadTotal"] = image.PayloadTotal();
    document["accepted"] = accepted;
    if (accepted) {
      json writes = json::object();
      for (const ProtocolUse& use : kProtocols) {
        const Reason problem = ProblemOnly(image.CheckFor(use.protocol));
        json entry = json::object();
        if (problem.Empty()) {
          json numbers = json::array();
          for (const size_t i : RecordsWrittenBy(use.protocol, records)) numbers.push_back(i + 1);
          entry["records"] = numbers;
          const ProtocolTake& take = image.TakeBy(use.protocol);
          if (take.trailingBytes != 0) {
            entry["trailingBytes"] = take.trailingBytes;
            entry["trailingSent"] = take.trailingSent;
          }
        } else {
          entry["refused"] = ReasonText(problem);
          entry["code"] = ReasonCodeName(problem.code);
        }
        writes[use.key] = entry;
      }
      document["writes"] = writes;
    }
  } else if (opened && !(options.quiet && accepted)) {
    // Bytes after record 1 that boot mode cannot read as records are not listed as records.
    const bool trailingOnly = packet.trailingBytes != 0 && !image.TakeBy(UpdateProtocol::kBoot).Taken();
    const size_t shown = trailingOnly ? 1 : listed;
    std::printf(Tr("Image: %s (%llu bytes)\n"), m_path.c_str(), static_cast<unsigned long long>(scan.fileLength));
    std::printf("SHA-256: %s\n", check.sha256.c_str());
    std::printf("%s\n", SignatureLine(check.signature).c_str());
    if (!check.signature.trustedComment.empty()) {
      std::printf(Tr("  trusted comment: %s\n"), check.signature.trustedComment.c_str());
    }
    for (size_t i = 0; i < shown; ++i) {
      const RecordHeader& h = records[i].header;
      std::printf(Tr("  record %zu: version %s, desAddress 0x%08x, desLen %u, %s\n"), i + 1,
                  FormatVersionShort(h.version).c_str(), h.desAddress, h.desLen,
                  h.pid != 0 ? Tr("main mcu") : "ATmcu");
    }
    if (!trailingOnly && scan.recordCount > listed) {
      const unsigned long long more = scan.recordCount - listed;
      std::printf(TrN("  ... and %llu more record\n", "  ... and %llu more records\n", static_cast<unsigned long>(more)), more);
    }
    if (packet.Taken() && packet.trailingBytes != 0) {
      const unsigned long long after = packet.trailingBytes;
      const unsigned long long sent = packet.trailingSent;
      const unsigned desLen = records.front().header.desLen;
      if (sent == 0) {
        std::printf(Tr("  %llu bytes after record 1: the packet protocol sends none of them; the controller keeps "
                       "desLen (%u bytes)\n"),
                    after, desLen);
      } else {
        std::printf(Tr("  %llu bytes after record 1: the packet protocol sends the first %llu of them in its last "
                       "data packet; the controller keeps desLen (%u bytes)\n"),
                    after, sent, desLen);
      }
    }
    std::printf(Tr("Payload total: %u bytes\n"), image.PayloadTotal());
    if (accepted) {
      for (const ProtocolUse& use : kProtocols) {
        const Reason problem = ProblemOnly(image.CheckFor(use.protocol));
        const std::vector<size_t> written = RecordsWrittenBy(use.protocol, records);
        std::string numbers;
        for (size_t n = 0; n < written.size(); ++n) numbers += (n == 0 ? "" : ", ") + std::to_string(written[n] + 1);
        std::string what;
        if (problem.Empty()) {
          what = StrFormat(TrN("writes record %s", "writes records %s", written.size()), numbers.c_str());
        } else if (trailingOnly && use.protocol == UpdateProtocol::kBoot) {
          what = StrFormat(Tr("refuses it: the %llu bytes after record 1 are not records that fill the file (%s)"),
                           static_cast<unsigned long long>(packet.trailingBytes), ReasonText(problem).c_str());
        } else {
          what = StrFormat(Tr("refuses it: %s"), ReasonText(problem).c_str());
        }
        std::printf("  %s: %s\n", Tr(use.name), what.c_str());
      }
    }
    std::printf("%s\n", accepted ? Tr("Accepted") : Tr("Rejected"));
  }
  if (accepted) return Conclude(options, document, kExitOk, "");
  return Conclude(options, document, kExitImage, check.reason);
}

}  // namespace

std::unique_ptr<CliCommand> MakeImageCommand() { return std::make_unique<ImageCommand>(); }

}  // namespace tarvik
