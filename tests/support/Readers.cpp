#include "support/Readers.h"

#include <cstdlib>
#include <cstring>

#include <unistd.h>

std::string MissingReaders(const std::vector<CReader> &readers) {
  std::string missing;
  for (const CReader &reader : readers) {
    if (access(reader.Path, X_OK) == 0)
      continue;
    if (!missing.empty())
      missing += ", ";
    missing += std::string(reader.Path) + " (" + reader.Package + ")";
  }
  return missing;
}

bool ReadersRequired() {
  const char *value = std::getenv("STRIXEL_REQUIRE_READERS");
  return value && std::strcmp(value, "1") == 0;
}
