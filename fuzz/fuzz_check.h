// The fuzz targets' invariant check: a broken invariant is a finding.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}
