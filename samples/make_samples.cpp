// Writes the sample firmware images the demo offers: a valid image for each
// protocol, one with a record for each microcontroller, and a broken one.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void PutLe(Bytes& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A 28-byte record header and `length` payload bytes of a recognisable pattern.
Bytes Record(uint32_t version, uint32_t address, uint32_t length, uint16_t pid, uint8_t seed) {
  Bytes record;
  PutLe(record, version, 4);
  PutLe(record, address, 4);
  PutLe(record, length, 4);
  PutLe(record, pid, 2);
  record.resize(28, 0);
  for (uint32_t i = 0; i < length; ++i) record.push_back(static_cast<uint8_t>(seed + i * 13));
  return record;
}

bool Write(const std::string& path, const Bytes& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_samples DIRECTORY\n");
    return 2;
  }
  const std::string dir = argv[1];
  Bytes twoMcus = Record(131, 0x08004000, 6000, 1, 1);
  const Bytes at = Record(112, 0x00002000, 1500, 0, 2);
  twoMcus.insert(twoMcus.end(), at.begin(), at.end());
  Bytes broken = Record(131, 0x08004000, 6000, 1, 3);
  broken.resize(broken.size() - 100);  // the payload ends before its header says

  const bool ok = Write(dir + "/boot-main-v1.31.dat", Record(131, 0x08004000, 6000, 1, 4)) &&
                  Write(dir + "/boot-two-mcus-v1.31.dat", twoMcus) &&
                  Write(dir + "/packet-v1.40.dat", Record(140, 0x08004000, 4000, 1, 5)) &&
                  Write(dir + "/broken.dat", broken);
  if (!ok) std::fprintf(stderr, "make_samples: cannot write the samples into %s\n", dir.c_str());
  return ok ? 0 : 1;
}
