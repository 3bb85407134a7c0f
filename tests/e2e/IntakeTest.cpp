// The request intake seen from outside: the CGI environment and standard
// input of one process, its output and its exit code.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "cgi/ExpectedPages.h"
#include "support/CgiRunner.h"

namespace {

using Environment = std::map<std::string, std::string>;

enum class Answer {
  Nothing,  // no output at all
  HelpPage, // exactly the help page
  Image,    // an image response, not the help page
};

struct RequestRow {
  const char *Name;
  Environment Env;
  std::string Body;
  int ExitCode;
  Answer Output;
};

// A request text of exactly length characters that starts with prefix.
std::string Padded(const std::string &prefix, std::size_t length) {
  const std::string pad = "&pad=";
  std::string text = prefix + pad;
  text.append(length - text.size(), 'x');
  return text;
}

Environment Get(const std::string &query) {
  return {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}};
}

Environment Post(const std::string &contentLength) {
  return {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", contentLength}};
}

Environment PostOf(const std::string &body) {
  return Post(std::to_string(body.size()));
}

const std::string ZeroThenHelp("x=1\0&help=1", 11);
const std::string HelpThenZero("help=1\0&w=", 10);

const std::vector<RequestRow> &RequestRows() {
  static const std::vector<RequestRow> rows = {
      // Methods
      {"method unset", {{"QUERY_STRING", "help=1"}}, "", 1, Answer::Nothing},
      {"method HEAD",
       {{"REQUEST_METHOD", "HEAD"}, {"QUERY_STRING", "help=1"}},
       "",
       1,
       Answer::Nothing},
      {"method empty",
       {{"REQUEST_METHOD", ""}, {"QUERY_STRING", "help=1"}},
       "",
       1,
       Answer::Nothing},
      {"method GETX",
       {{"REQUEST_METHOD", "GETX"}, {"QUERY_STRING", "help=1"}},
       "",
       1,
       Answer::Nothing},
      {"method GE",
       {{"REQUEST_METHOD", "GE"}, {"QUERY_STRING", "help=1"}},
       "",
       1,
       Answer::Nothing},
      {"method Get",
       {{"REQUEST_METHOD", "Get"}, {"QUERY_STRING", "help=1"}},
       "",
       0,
       Answer::HelpPage},
      {"method GET", Get("help=1"), "", 0, Answer::HelpPage},
      {"method get",
       {{"REQUEST_METHOD", "get"}, {"QUERY_STRING", "help=1"}},
       "",
       0,
       Answer::HelpPage},
      {"method POST", Post("6"), "help=1", 0, Answer::HelpPage},
      {"method PoSt",
       {{"REQUEST_METHOD", "PoSt"}, {"CONTENT_LENGTH", "6"}},
       "help=1",
       0,
       Answer::HelpPage},
      // GET reads the query string only, POST the body only
      {"GET without QUERY_STRING",
       {{"REQUEST_METHOD", "GET"}},
       "",
       1,
       Answer::Nothing},
      {"GET without QUERY_STRING ignores a body",
       {{"REQUEST_METHOD", "GET"}, {"CONTENT_LENGTH", "6"}},
       "help=1",
       1,
       Answer::Nothing},
      {"GET with an empty query draws the defaults", Get(""), "", 0,
       Answer::Image},
      {"POST ignores QUERY_STRING",
       {{"REQUEST_METHOD", "POST"}, {"QUERY_STRING", "help=1"}},
       "",
       1,
       Answer::Nothing},
      // CONTENT_LENGTH
      {"POST without CONTENT_LENGTH",
       {{"REQUEST_METHOD", "POST"}},
       "help=1",
       1,
       Answer::Nothing},
      {"CONTENT_LENGTH 0", Post("0"), "help=1", 1, Answer::Nothing},
      {"CONTENT_LENGTH empty", Post(""), "help=1", 1, Answer::Nothing},
      {"CONTENT_LENGTH abc", Post("abc"), "help=1", 1, Answer::Nothing},
      {"CONTENT_LENGTH -6", Post("-6"), "help=1", 1, Answer::Nothing},
      {"CONTENT_LENGTH with white space", Post(" 6"), "help=1", 0,
       Answer::HelpPage},
      {"CONTENT_LENGTH with a sign", Post("+6"), "help=1", 0, Answer::HelpPage},
      {"CONTENT_LENGTH with trailing letters", Post("6abc"), "help=1", 0,
       Answer::HelpPage},
      {"body longer than announced", Post("6"), "help=1&more", 0,
       Answer::HelpPage},
      {"body shorter than announced", Post("10"), "help=1", 1, Answer::Nothing},
      {"empty body", Post("6"), "", 1, Answer::Nothing},
      {"CONTENT_LENGTH of the largest int, short body", Post("2147483647"),
       "help=1", 1, Answer::Nothing},
      {"CONTENT_LENGTH beyond the int range, short body", Post("99999999999"),
       "help=1", 1, Answer::Nothing},
      // A zero byte ends the request text; the bytes after it still count
      // for a short read, not for the length limit.
      {"zero byte after help", PostOf(HelpThenZero), HelpThenZero, 0,
       Answer::HelpPage},
      {"zero byte before help", PostOf(ZeroThenHelp), ZeroThenHelp, 0,
       Answer::Image},
      {"zero byte then 5000 bytes",
       PostOf(HelpThenZero + std::string(5000, 'x')),
       HelpThenZero + std::string(5000, 'x'), 0, Answer::HelpPage},
      {"zero byte, then a short read",
       Post(std::to_string(HelpThenZero.size() + 5)), HelpThenZero, 1,
       Answer::Nothing},
      {"3600 characters, a zero byte and 5000 more",
       PostOf(Padded("help=1", 3600) + '\0' + std::string(5000, 'x')),
       Padded("help=1", 3600) + '\0' + std::string(5000, 'x'), 0,
       Answer::HelpPage},
      {"5000 characters before a zero byte",
       PostOf(Padded("help=1", 5000) + '\0'), Padded("help=1", 5000) + '\0', 6,
       Answer::Nothing},
      // The length limit
      {"GET of 3600 characters", Get(Padded("help=1", 3600)), "", 0,
       Answer::HelpPage},
      {"GET of 3601 characters", Get(Padded("help=1", 3601)), "", 6,
       Answer::Nothing},
      {"GET of 3601 characters with debug",
       Get(Padded("debug=1&btype=99", 3601)), "", 6, Answer::Nothing},
      {"POST of 3600 characters", PostOf(Padded("help=1", 3600)),
       Padded("help=1", 3600), 0, Answer::HelpPage},
      {"POST of 3601 characters with debug",
       PostOf(Padded("debug=1&help=1", 3601)), Padded("debug=1&help=1", 3601),
       6, Answer::Nothing},
      {"POST of 100000 characters", PostOf(Padded("help=1", 100000)),
       Padded("help=1", 100000), 6, Answer::Nothing},
      {"POST of 3601 characters, short read", Post("5000"),
       Padded("help=1", 3601), 1, Answer::Nothing},
      // help wins over every other parameter
      {"help with a bad btype", Get("help=1&btype=99"), "", 0,
       Answer::HelpPage},
      {"help after other parameters", Get("btype=99&data=%ff&help=1"), "", 0,
       Answer::HelpPage},
      {"help with debug and failing settings",
       Get("debug=1&btype=17&w=0&h=1&angle=45&w2n=nan&help=0"), "", 0,
       Answer::HelpPage},
      {"help with an empty value", Get("help=&debug=1"), "", 0,
       Answer::HelpPage},
      {"help without a value is no parameter", Get("help"), "", 0,
       Answer::Image},
      {"HELP is another name", Get("HELP=1"), "", 0, Answer::Image},
  };
  return rows;
}

std::string Describe(const std::string &output) {
  if (output.empty())
    return "no output";
  return "output starting \"" + output.substr(0, 60) + "\"";
}

TEST(IntakeTest, RequestsAnsweredWithoutDrawing) {
  for (const RequestRow &row : RequestRows()) {
    SCOPED_TRACE(row.Name);
    const CgiResult result = RunCgi(row.Env, row.Body);
    EXPECT_EQ(result.ExitCode, row.ExitCode) << Describe(result.Output);
    switch (row.Output) {
    case Answer::Nothing:
      EXPECT_EQ(result.Output, "");
      break;
    case Answer::HelpPage:
      EXPECT_EQ(result.Output, ExpectedHelpPage);
      break;
    case Answer::Image:
      EXPECT_TRUE(IsPngResponse(result.Output)) << Describe(result.Output);
      break;
    }
  }
}

// Runs the program with its address space limited to 256 MiB, far below
// the largest length a request may announce.
CgiResult RunWithSmallMemory(const Environment &env, const std::string &body) {
  std::vector<std::string> envStrings;
  for (const auto &entry : env)
    envStrings.push_back(entry.first + "=" + entry.second);
  return RunCgiInAddressSpace(262144, envStrings, body);
}

TEST(IntakeTest, AnnouncedLengthDoesNotDecideTheMemoryUsed) {
  if (AddressSanitizerBuild())
    GTEST_SKIP() << "the address sanitizer needs more address space";
  const struct {
    const char *Name;
    std::string Body;
    int ExitCode;
    std::string Output;
  } rows[] = {
      {"short body", "help=1", 1, ""},
      {"short body past the length limit", Padded("help=1", 5000), 1, ""},
      {"short body with a zero byte", HelpThenZero + std::string(5000, 'x'), 1,
       ""},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.Name);
    const CgiResult result = RunWithSmallMemory(Post("2147483647"), row.Body);
    EXPECT_EQ(result.ExitCode, row.ExitCode) << Describe(result.Output);
    EXPECT_EQ(result.Output, row.Output);
  }
  // A full body of a million bytes is read in bounded memory as well.
  const std::string big = HelpThenZero + std::string(1000000, 'x');
  const CgiResult result = RunWithSmallMemory(PostOf(big), big);
  EXPECT_EQ(result.ExitCode, 0);
  EXPECT_EQ(result.Output, ExpectedHelpPage);
}

} // namespace
