// Round trips through a hidraw node: writes the packet protocol's version
// query COUNT times, each time waiting for the controller's answer, and
// prints the times from the write to the answer read, in microseconds:
//
//   hidraw_roundtrip NODE packet1|packet2 COUNT LABEL
//   ROUNDTRIP LABEL n=COUNT median=… p90=… p99=… max=…
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "device/report_framing.h"
#include "update/packet_layout.h"

int main(int argc, char** argv) {
  using namespace tarvik;
  if (argc != 5) {
    std::fprintf(stderr, "usage: hidraw_roundtrip NODE packet1|packet2 COUNT LABEL\n");
    return 2;
  }
  const ReportFraming framing =
      FramingForMode(std::string(argv[2]) == "packet1" ? ReportMode::kPacketNumbered : ReportMode::kPacket);
  const int count = std::atoi(argv[3]);
  const int fd = open(argv[1], O_RDWR | O_CLOEXEC);
  if (fd < 0 || count <= 0) {
    std::perror(argv[1]);
    return 1;
  }
  std::vector<uint8_t> query(framing.outputSize, 0);
  query[0] = framing.firstByte;
  const auto frame = packet::ShortFrameReport(packet::kTypeFirmware, packet::kCmdVersion);
  std::copy(frame.begin(), frame.end(), query.begin() + 1);

  std::vector<double> micros;
  for (int i = 0; i < count; ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (write(fd, query.data(), query.size()) != static_cast<ssize_t>(query.size())) {
      std::perror("write");
      return 1;
    }
    pollfd pfd{fd, POLLIN, 0};
    uint8_t answer[kReadBufferSize];
    if (poll(&pfd, 1, 1000) != 1 || read(fd, answer, sizeof answer) <= 0) {
      std::fprintf(stderr, "hidraw_roundtrip: no answer to query %d\n", i);
      return 1;
    }
    micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  close(fd);
  std::sort(micros.begin(), micros.end());
  const auto at = [&](double q) { return micros[static_cast<size_t>(q * static_cast<double>(micros.size() - 1))]; };
  std::printf("ROUNDTRIP %s n=%d median=%.0f p90=%.0f p99=%.0f max=%.0f\n", argv[4], count, at(0.5), at(0.9), at(0.99),
              micros.back());
  return 0;
}
