#pragma once

// Runs a function with standard output sent to a temporary file and returns
// what it wrote.

#include <unistd.h>

#include <cstdio>
#include <string>

using namespace strixel;

template <class Function> std::string CaptureStdout(Function function) {
  std::fflush(stdout);
  const int saved = dup(fileno(stdout));
  std::FILE *file = std::tmpfile();
  if (saved < 0 || !file)
    return "<capture failed>";
  dup2(fileno(file), fileno(stdout));
  function();
  std::fflush(stdout);
  dup2(saved, fileno(stdout));
  close(saved);
  std::string output;
  std::rewind(file);
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    output.append(buffer, got);
  std::fclose(file);
  return output;
}
