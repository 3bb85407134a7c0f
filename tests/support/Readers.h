#pragma once

// The programs the end-to-end tests read images back with. A test that
// needs one which is not installed is skipped, and says which and from
// what Debian package; scripts/test installs them all and sets
// STRIXEL_REQUIRE_READERS=1, so that there a missing one fails the test.

#include <string>
#include <vector>

#include <gtest/gtest.h>

struct CReader {
  const char *Path;
  const char *Package; // the Debian package that installs it
};

inline const CReader Zbarimg{"/usr/bin/zbarimg", "zbar-tools"};
inline const CReader ZxingReader{"/usr/bin/ZXingReader", "zxing-cpp-tools"};
inline const CReader RsvgConvert{"/usr/bin/rsvg-convert", "librsvg2-bin"};
inline const CReader Xmllint{"/usr/bin/xmllint", "libxml2-utils"};
inline const CReader Pngcheck{"/usr/bin/pngcheck", "pngcheck"};

// The readers of the list that are not installed, as "PATH (PACKAGE)"
// separated by commas; empty when all are.
std::string MissingReaders(const std::vector<CReader> &readers);
// Whether a missing reader fails the test instead of skipping it.
bool ReadersRequired();

// At the top of a test: skips it (or fails it, see above) unless every
// reader named is installed.
#define STRIXEL_REQUIRE_READERS(...)                                           \
  do {                                                                         \
    const std::string missing_ = MissingReaders({__VA_ARGS__});                \
    if (!missing_.empty()) {                                                   \
      if (ReadersRequired())                                                   \
        FAIL() << "not installed: " << missing_;                               \
      GTEST_SKIP() << "not installed: " << missing_;                           \
    }                                                                          \
  } while (false)
