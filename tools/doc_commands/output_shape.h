// Whether a program's output holds the sample output a document shows, by
// shape: each shown line, in order, must match one whole output line word
// for word, where a word with a digit matches any word with a digit (times,
// counts, rates differ from run to run) and a word holding "..." matches any
// run of words, none included. Blank shown lines are passed over.
#pragma once

#include <string>
#include <vector>

namespace kvr::docs {

// The first shown line that the output does not hold, in order; "" when all are there.
std::string MissingLine(const std::vector<std::string>& shown, const std::string& output);

}  // namespace kvr::docs
