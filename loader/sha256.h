// SHA-256 (FIPS 180-4), for the load record's note of which image went in.
// Own code because the Windows build has no crypto library to link.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kvr {

class Sha256 {
 public:
  Sha256();
  void Add(const void* data, size_t n);
  // Bytes added so far.
  uint64_t Bytes() const { return bytes_; }
  // The digest of everything added; the object is spent afterwards.
  std::array<uint8_t, 32> Finish();
  // The digest as 64 lower-case hexadecimal digits.
  std::string FinishHex();

 private:
  void Block(const uint8_t* p);
  std::array<uint32_t, 8> h_;
  uint8_t buf_[64];
  size_t used_ = 0;
  uint64_t bytes_ = 0;
};

}  // namespace kvr
