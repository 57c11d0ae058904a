#include "sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace kvr {
namespace {

// The published test vectors, fed in pieces that straddle the 64-byte blocks
// and the 56-byte padding boundary.
TEST(Sha256Digest, KnownVectorsInAnyPieces) {
  const struct {
    std::string text;
    const char* digest;
  } vectors[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& v : vectors) {
    for (const size_t piece : {size_t{1}, size_t{7}, size_t{64}, size_t{1000}}) {
      Sha256 sha;
      for (size_t at = 0; at < v.text.size(); at += piece)
        sha.Add(v.text.data() + at, std::min(piece, v.text.size() - at));
      EXPECT_EQ(sha.FinishHex(), v.digest) << v.text.size() << " bytes in pieces of " << piece;
    }
  }
}

}  // namespace
}  // namespace kvr
