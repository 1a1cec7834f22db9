// The command line of every bench, as of the tools: --help (or -h) prints the usage on
// stdout and exits 0; a wrong argument is named on the first line of stderr, the usage
// follows, and the exit code is 2.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>

inline bool BenchAsksHelp(const char* arg) { return !std::strcmp(arg, "--help") || !std::strcmp(arg, "-h"); }

inline int BenchHelp(const char* usage) {
  std::fputs(usage, stdout);
  return 0;
}

inline int BenchUsage(const char* bench, const std::string& why, const char* usage) {
  std::fprintf(stderr, "%s: %s\n%s", bench, why.c_str(), usage);
  return 2;
}
