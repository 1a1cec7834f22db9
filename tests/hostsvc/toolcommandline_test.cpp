// Every tool and bench that takes options answers its command line the same way:
// --help prints the usage on stdout and exits 0, before anything is loaded; a
// bad option is named on the first line of stderr and the exit code is 2.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "casename.h"
#include "jpegcheck.h"

namespace {

struct Tool {
  const char* name;
  // A bench built on the driver's or the engine's code links the platform
  // library, whose process attach and detach lines come before main and after it;
  // a tool loads the library by name once it has read its command line, so
  // nothing precedes its answer.
  bool bench = false;
};

const Tool kTools[] = {
    // tools/
    {"camcapture"},
    {"camdemo"},
    {"nv21jpeg"},
    {"tunclient"},
    {"tunserve"},
    {"boardframe"},
    {"mifwriter"},
    // bench/
    {"boardrender", true},
    {"camopen", true},
    {"driverframe", true},
    {"enginestart", true},
    {"jpegbench", true},
    {"propertyset", true},
    {"stilljpeg", true},
    {"tunbench", true},
    {"vfebench", true},
    {"vfemodelbench", true},
    {"vfeservicebench", true},
    {"yv12convert", true},
};

struct Ran {
  int status;
  std::string out, err;
};

// What a program says on stderr but for the platform library's process attach and
// detach lines.
std::string WithoutProcessLines(const std::string& text) {
  std::string kept;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string line = text.substr(at, end - at);
    if (line.rfind("Plindor DLL_PROCESS_", 0) != 0) kept += line;
    at = end;
  }
  return kept;
}

// The program with the debug lines switched on, as a user runs it: a driver's
// line before the answer would show.
Ran RunProgram(const Tool& tool, const std::string& args) {
  const char* name = tool.name;
  const std::string errPath = hostsvc::test::TempPath(".err");
  Ran ran;
  ran.status = hostsvc::test::Run(std::string("env -u CAMERA_DEBUG_QUIET '") + TOOL_DIR + "/" + name + "' " + args +
                                      " 2>'" + errPath + "' </dev/null",
                                  &ran.out);
  std::vector<uint8_t> err;
  hostsvc::test::ReadFile(errPath, err);
  std::remove(errPath.c_str());
  ran.err = std::string(err.begin(), err.end());
  if (tool.bench) ran.err = WithoutProcessLines(ran.err);
  return ran;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

class ToolCommandLine : public ::testing::TestWithParam<Tool> {};

TEST_P(ToolCommandLine, HelpIsTheUsageOnStdoutAndNothingElse) {
  const Ran ran = RunProgram(GetParam(), "--help");
  EXPECT_EQ(0, ran.status) << ran.err;
  EXPECT_EQ(std::string("usage: ") + GetParam().name, ran.out.substr(0, ran.out.find(' ', 7))) << ran.out;
  EXPECT_EQ("", ran.err);
}

TEST_P(ToolCommandLine, ABadOptionIsNamedOnTheFirstLineAndExitsTwo) {
  const Ran ran = RunProgram(GetParam(), "--no-such-option");
  EXPECT_EQ(2, ran.status) << ran.err;
  EXPECT_EQ(std::string(GetParam().name) + ": unknown option --no-such-option", FirstLine(ran.err)) << ran.err;
  EXPECT_EQ("", ran.out);
}

INSTANTIATE_TEST_SUITE_P(Programs, ToolCommandLine, ::testing::ValuesIn(kTools), camera::test::CaseName<Tool>);

}  // namespace
