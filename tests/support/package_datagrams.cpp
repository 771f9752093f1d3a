#include "package_datagrams.h"

#include <algorithm>
#include <memory>
#include <random>

#include "client/crc32.h"
#include "client/package_part_encoder.h"

namespace {

class VectorSource : public PackageSource {
 public:
  explicit VectorSource(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  int Read(void* buffer, int size) override {
    const size_t n = std::min(size_t(size), bytes_.size() - at_);
    std::copy_n(bytes_.begin() + long(at_), n, static_cast<uint8_t*>(buffer));
    at_ += n;
    return int(n);
  }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t at_ = 0;
};

}  // namespace

std::vector<std::vector<uint8_t>> EncodePackageParts(const std::vector<uint8_t>& package, const FecParams& params,
                                                     const DatagramIdentity& who, uint32_t crash_id) {
  auto memory = std::make_unique<PackagePartMemory>();
  VectorSource source(package);
  PackagePartEncoder encoder;
  const PackagePartJob job{who, params, crash_id, uint32_t(package.size()),
                           Crc32Update(0, package.data(), package.size())};
  std::vector<std::vector<uint8_t>> datagrams;
  if (!encoder.Begin(memory.get(), job, &source)) return datagrams;
  uint8_t out[kMaxCrashDatagramSize];
  int length;
  while ((length = encoder.Next(out, sizeof out)) > 0) datagrams.emplace_back(out, out + length);
  if (length < 0) datagrams.clear();
  return datagrams;
}

std::vector<uint8_t> RandomPackage(size_t length, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> package(length);
  for (uint8_t& b : package) b = uint8_t(random());
  return package;
}
