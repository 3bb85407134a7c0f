// The request's channel: with one installed, a request reads its variables
// and body from it and writes its response to it, and nothing to the
// process's own standard output; without one, the process's own are used.

#include "cgi/RequestChannel.h"
#include "cgi/ChannelScope.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <map>
#include <string>

#include "cgi/CaptureStdout.h"
#include "cgi/ExpectedPages.h"
#include "cgi/RequestIntake.h"
#include "support/CgiRunner.h"

using namespace strixel;

namespace {

class CMemoryChannel : public CRequestChannel {
public:
  CMemoryChannel(std::map<std::string, std::string> variables, std::string body,
                 bool refuseOutput = false)
      : Variables(std::move(variables)), Body(std::move(body)),
        RefuseOutput(refuseOutput) {}

  const char *GetVariable(const char *name) override {
    const auto found = Variables.find(name);
    return found == Variables.end() ? nullptr : found->second.c_str();
  }
  std::size_t ReadInput(char *buffer, std::size_t size) override {
    // A few bytes at a time, as a connection may deliver them.
    const std::size_t piece =
        std::min({size, Body.size() - Read, static_cast<std::size_t>(7)});
    Body.copy(buffer, piece, Read);
    Read += piece;
    return piece;
  }
  bool WriteOutput(const char *data, std::size_t size) override {
    if (RefuseOutput)
      return false;
    Output.append(data, size);
    return true;
  }

  std::string Output;

private:
  std::map<std::string, std::string> Variables;
  std::string Body;
  std::size_t Read = 0;
  bool RefuseOutput;
};

enum class Answer { Nothing, HelpPage, Image, ErrorPage6 };

TEST(RequestChannel, ARequestUsesOnlyTheInstalledChannel) {
  const std::string helpBody = "help=1";
  const struct {
    const char *Name;
    std::map<std::string, std::string> Variables;
    std::string Body;
    bool RefuseOutput;
    int Code;
    Answer Output;
  } rows[] = {
      {"GET help",
       {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "help=1"}},
       "",
       false,
       0,
       Answer::HelpPage},
      {"POST help in pieces",
       {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "6"}},
       helpBody,
       false,
       0,
       Answer::HelpPage},
      {"POST body shorter than announced",
       {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "60"}},
       helpBody,
       false,
       1,
       Answer::Nothing},
      {"GET image",
       {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "data=42"}},
       "",
       false,
       0,
       Answer::Image},
      {"no method",
       {{"QUERY_STRING", "help=1"}},
       "",
       false,
       1,
       Answer::Nothing},
      {"invalid text with debug",
       {{"REQUEST_METHOD", "GET"},
        {"QUERY_STRING", "btype=11&data=abc&debug=1"}},
       "",
       false,
       6,
       Answer::ErrorPage6},
      {"invalid text without debug",
       {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "btype=11&data=abc"}},
       "",
       false,
       6,
       Answer::Nothing},
      {"output refused",
       {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "data=42"}},
       "",
       true,
       2,
       Answer::Nothing},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.Name);
    CMemoryChannel channel(row.Variables, row.Body, row.RefuseOutput);
    int code = -1;
    // The response's write blocks the limits' signals for the rest of a
    // request; this process goes on with other tests.
    sigset_t mask;
    sigprocmask(SIG_SETMASK, nullptr, &mask);
    const std::string processOutput = CaptureStdout([&] {
      const CChannelScope scope(channel);
      DebugMode = false;
      code = RunRequest();
    });
    sigprocmask(SIG_SETMASK, &mask, nullptr);
    EXPECT_EQ(InstalledChannel(), nullptr);
    EXPECT_EQ(processOutput, "");
    EXPECT_EQ(code, row.Code);
    switch (row.Output) {
    case Answer::Nothing:
      EXPECT_EQ(channel.Output, "");
      break;
    case Answer::HelpPage:
      EXPECT_EQ(channel.Output, ExpectedHelpPage);
      break;
    case Answer::Image:
      EXPECT_TRUE(IsPngResponse(channel.Output));
      break;
    case Answer::ErrorPage6:
      EXPECT_EQ(channel.Output,
                ExpectedErrorPage("Error: Invalid barcode text."));
      break;
    }
  }
  DebugMode = false;
}

TEST(RequestChannel, ScopesNestAndRestore) {
  CMemoryChannel outer({{"NAME", "outer"}}, "");
  CMemoryChannel inner({{"NAME", "inner"}}, "");
  EXPECT_EQ(InstalledChannel(), nullptr);
  {
    const CChannelScope first(outer);
    EXPECT_STREQ(RequestVariable("NAME"), "outer");
    {
      const CChannelScope second(inner);
      EXPECT_STREQ(RequestVariable("NAME"), "inner");
    }
    EXPECT_STREQ(RequestVariable("NAME"), "outer");
    EXPECT_EQ(RequestVariable("PATH"), nullptr);
  }
  EXPECT_EQ(InstalledChannel(), nullptr);
  // Without a channel the process's own environment answers.
  setenv("STRIXEL_CHANNEL_TEST", "own", 1);
  EXPECT_STREQ(RequestVariable("STRIXEL_CHANNEL_TEST"), "own");
  unsetenv("STRIXEL_CHANNEL_TEST");
}

} // namespace
