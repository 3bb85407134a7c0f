#include "cgi/HtmlPages.h"

#include <iterator>
#include <string>

#include "cgi/RequestLimits.h"
#include "engine/ErrorCodes.h"

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
// 23 image parameters, then help and debug.
constexpr std::size_t DocumentedParameterCount = 25;
static_assert(std::size(HelpRows) == DocumentedParameterCount,
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
  case Success:
    return "Ok.";
  case InvalidArgument:
    return "Error: Invalid argument.";
  case Failure:
    return "Error: Fail.";
  case CannotCreateCanvas:
    return "Error: Cant initialize PNG creator.";
  case CannotSetType:
    return "Error: Cant set up a barcode type (symbology)";
  case InvalidBarcodeSize:
    return "Error: Invalid barcode size.";
  case InvalidBarcodeText:
    return "Error: Invalid barcode text.";
  case OutputNameEmpty:
    return "Error: Output file name cant be empty.";
  case CannotOpenOutput:
    return "Error: Cant open output file.";
  case CannotCloseOutput:
    return "Error: Cant close output file.";
  case UnknownException:
    return "Error: Unknown exception.";
  default:
    return "Error: Unknown error.";
  }
}

// The page is written from constant pieces, without allocating: it also
// reports a failed allocation.
bool PrintErrorPage(int code) {
  return WriteResponse(
      {HtmlHeader,
       "<html><head><title>Strixel application</title></head><body>\n",
       "<b><font color='#ff0000'>", ErrorMessage(code), "</font></b>\n",
       "</body></html>\n"});
}

bool PrintHelpPage() {
  const std::string documentation = ParameterDocumentation();
  return WriteResponse(
      {HtmlHeader,
       "<html><head><title>Strixel application</title><STYLE "
       "type='text/css'>td {font-size:11px; font-family:Verdana,Arial; "
       "color:000000; font-weight:300; font-style:normal; "
       "text-decoration:none}</STYLE></head><body>\n",
       "<b>Strixel Application. Version ", ProductVersion, "</b><br><br>\n",
       documentation, "</body></html>\n"});
}

} // namespace strixel
