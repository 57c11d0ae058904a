#include "hex_text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace kvr {
namespace {

// Messages may hold paths and strings a device chose (USB descriptors): what
// acts on a terminal or reorders the text is escaped, other UTF-8 stays.
TEST(HexText, WithoutControlsEscapesWhatActsOnATerminal) {
  const std::pair<std::string, std::string> cases[] = {
      {"Порт ttyUSB0 😀", "Порт ttyUSB0 😀"},
      {"a\x1B[2Jb\x7F", "a\\x1B[2Jb\\x7F"},
      {"\xC2\x9B"
       "2J",
       "\\xC2\\x9B2J"},  // C1 CSI
      {"FT232\xE2\x80\xAE"
       "evil",
       "FT232\\xE2\\x80\\xAEevil"},         // right-to-left override
      {"\xFF\xFEx", "\\xFF\\xFEx"},         // no UTF-8 at all
      {"\xC0\xAF", "\\xC0\\xAF"},           // overlong "/"
      {"\xED\xA0\x80", "\\xED\\xA0\\x80"},  // a surrogate
      {"end \xD0", "end \\xD0"},            // a cut Cyrillic letter
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(WithoutControls(text), shown) << shown;
}

}  // namespace
}  // namespace kvr
