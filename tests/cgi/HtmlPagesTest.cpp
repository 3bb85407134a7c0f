#include "cgi/HtmlPages.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "cgi/CaptureStdout.h"
#include "cgi/ExpectedPages.h"

using namespace strixel;

namespace {

struct MessageRow {
  int Code;
  const char *Message;
};

const MessageRow MessageRows[] = {
    {0, "Ok."},
    {1, "Error: Invalid argument."},
    {2, "Error: Fail."},
    {3, "Error: Cant initialize PNG creator."},
    {4, "Error: Cant set up a barcode type (symbology)"},
    {5, "Error: Invalid barcode size."},
    {6, "Error: Invalid barcode text."},
    {7, "Error: Unknown error."},
    {10, "Error: Unknown error."},
    {11, "Error: Output file name cant be empty."},
    {12, "Error: Cant open output file."},
    {13, "Error: Cant close output file."},
    {14, "Error: Unknown exception."},
    {15, "Error: Unknown error."},
    {-1, "Error: Unknown error."},
    {INT_MIN, "Error: Unknown error."},
    {INT_MAX, "Error: Unknown error."},
};

TEST(ErrorMessageTest, EveryCodeHasItsMessage) {
  for (const MessageRow &row : MessageRows) {
    SCOPED_TRACE("code " + std::to_string(row.Code));
    EXPECT_STREQ(ErrorMessage(row.Code), row.Message);
  }
}

TEST(ErrorPageTest, PageCarriesTheMessageOfItsCode) {
  for (const MessageRow &row : MessageRows) {
    SCOPED_TRACE("code " + std::to_string(row.Code));
    EXPECT_EQ(CaptureStdout([&] { PrintErrorPage(row.Code); }),
              ExpectedErrorPage(row.Message));
  }
}

TEST(ErrorPageTest, InvalidSizePageBytes) {
  EXPECT_EQ(CaptureStdout([] { PrintErrorPage(5); }),
            "Content-type: text/html\n\n"
            "<html><head><title>Strixel application</title></head><body>\n"
            "<b><font color='#ff0000'>Error: Invalid barcode size.</font></b>\n"
            "</body></html>\n");
}

TEST(HelpPageTest, PageBytes) {
  EXPECT_EQ(CaptureStdout([] { PrintHelpPage(); }), ExpectedHelpPage);
}

} // namespace
