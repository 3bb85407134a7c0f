#include "cgi/HtmlPages.h"

#include <cstdio>
#include <string>

namespace strixel {

namespace {

const char HtmlHeader[] = "Content-type: text/html\n\n";
const char ProductVersion[] = "1.3";

// One row of the parameter table of the help page: the request name, what
// it does, the settings property it feeds and its default, as HTML.
struct HelpRow {
  const char *Name;
  const char *Description;
  const char *Property;
  const char *Default;
};

// The help page documents the parameters in the order a user reads them;
// the ranges stated here are documentation, not the checks of the intake.
static constexpr HelpRow HelpRows[] = {
    {"w", "DataMatrix picture width.", "", ""},
    {"h", "DataMatrix picture height.", "", ""},
    {"xdim", "Barcode X-Dimension.",
     "This parameter makes sense only if the <i>w</i> parameter (for 0 degree "
     "orientation) are not used.",
     "2"},
    {"data", "Sets the data that is to be encoded in the Barcode.", "BarText",
     "1234567"},
    {"btype", "Barcode Type.<br />Possible values: 0...21", "BarType", "7"},
    {"angle",
     "Orientation of the bar code.<br />Possible values: 0, 90, 180, 270",
     "Orientation", "0"},
    {"quiet", "Show quiet zones.<br />Possible values: 0(hide) or 1(show)",
     "ShowQuietZone", "1"},
    {"balign", "Barcode alignment.<br />Possible values: 0...2", "BarAlign",
     "2"},
    {"talign", "Text alignment.<br />Possible values: 0...5", "TextAlign", "0"},
    {"bcolor",
     "Background color.<br />Possible values: 000000...ffffff<br />The color "
     "must be presented as RGB, i.e. you should specify the value ff0000 for "
     "the red color",
     "BackColor", "ffffff (white)"},
    {"fcolor", "Foreground color.<br />Possible values: 000000...ffffff",
     "ForeColor", "000000 (black)"},
    {"tcolor", "Foreground color.<br />Possible values: 000000...ffffff",
     "TextColor", "000000 (black)"},
    {"guard",
     "Show guard lines for EAN(UPC) bar codes.<br />Possible values: 0(hide) "
     "or 1(show)",
     "ShowGuard", "1"},
    {"text",
     "Show barcode human readable text.<br />Possible values: 0(hide) or "
     "1(show)",
     "ShowText", "1"},
    {"tdown",
     "Place the text above or below.<br />Possible values: 0(above) or "
     "1(below)",
     "TextBottomTop", "1"},
    {"stst",
     "Show start/stop digits (if barcode have it).<br />Possible values: "
     "0(hide) or 1(show)",
     "ShowStSt", "0"},
    {"schk",
     "Show check digit (if barcode have it).<br />Possible values: 0(hide) or "
     "1(show)",
     "ShowCheck", "1"},
    {"cchk",
     "calculate an optional check digit or not.<br />Possible values: 0(no) "
     "or 1(yes)",
     "CalcCheck", "1"},
    {"ntxt",
     "Convert nonprinting chars to text.<br />Possible values: 0(no) or "
     "1(yes)",
     "NonPrintingToTxt", "1"},
    {"c128", "Code-128 charset.<br />Possible values: 0...3", "Code128CharSet",
     "0"},
    {"fh", "Font height.", "", "14"},
    {"bred", "Barcode width reduction.<br />Possible values: -99...99",
     "BarWidthReduction", "0"},
    {"w2n", "Wide to narrow ratio.<br />Possible values: 2...4",
     "Wide2NarrowRatio", "2.5"},
    {"help", "Displays information about our Strixel generator. See below.", "",
     ""},
    {"debug", "Displays information about the error. See below.", "", ""},
};
static_assert(sizeof HelpRows / sizeof HelpRows[0] == 25,
              "one help row for every documented parameter");

void AppendCell(std::string &line, const char *content) {
  line += "<td>";
  line += content;
  line += "</td>";
}

// The parameter documentation is one line of HTML without line breaks.
std::string ParameterDocumentation() {
  std::string line =
      "For more information please click Strixel Application.<br><br>Our "
      "Strixel generators understand both GET and POST requests.<br><br>"
      "<table width=640 cellSpacing=1 cellPadding=4 border=0>"
      "<tr bgcolor='#DFDFE5'><td><b>Parameter Name</b></td>"
      "<td><b>Description</b></td>"
      "<td><b>Corresponding property of Tessaline</b></td>"
      "<td><b>Default value</b></td></tr>";
  for (const HelpRow &row : HelpRows) {
    line += "<tr bgcolor='#F3F3F5'>";
    AppendCell(line, row.Name);
    AppendCell(line, row.Description);
    AppendCell(line, row.Property);
    AppendCell(line, row.Default);
    line += "</tr>";
  }
  line += "</table>";
  return line;
}

} // namespace

const char *ErrorMessage(int code) {
  switch (code) {
  case 0:
    return "Ok.";
  case 1:
    return "Error: Invalid argument.";
  case 2:
    return "Error: Fail.";
  case 3:
    return "Error: Cant initialize PNG creator.";
  case 4:
    return "Error: Cant set up a barcode type (symbology)";
  case 5:
    return "Error: Invalid barcode size.";
  case 6:
    return "Error: Invalid barcode text.";
  case 11:
    return "Error: Output file name cant be empty.";
  case 12:
    return "Error: Cant open output file.";
  case 13:
    return "Error: Cant close output file.";
  case 14:
    return "Error: Unknown exception.";
  default:
    return "Error: Unknown error.";
  }
}

void PrintErrorPage(int code) {
  std::fputs(HtmlHeader, stdout);
  std::fputs("<html><head><title>Strixel application</title></head><body>\n",
             stdout);
  std::printf("<b><font color='#ff0000'>%s</font></b>\n", ErrorMessage(code));
  std::fputs("</body></html>\n", stdout);
}

void PrintHelpPage() {
  const std::string documentation = ParameterDocumentation();
  std::fputs(HtmlHeader, stdout);
  std::fputs("<html><head><title>Strixel application</title><STYLE "
             "type='text/css'>td {font-size:11px; font-family:Verdana,Arial; "
             "color:000000; font-weight:300; font-style:normal; "
             "text-decoration:none}</STYLE></head><body>\n",
             stdout);
  std::printf("<b>Strixel Application. Version %s</b><br><br>\n",
              ProductVersion);
  std::fputs(documentation.c_str(), stdout);
  std::fputs("</body></html>\n", stdout);
}

} // namespace strixel
