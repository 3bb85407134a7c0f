#include "cgi/ImageResponse.h"

#include "cgi/RequestIntake.h"

#include <string>

#include "cgi/HtmlPages.h"
#include "cgi/ImageTitle.h"
#include "cgi/RequestLimits.h"
#include "engine/BarcodeHolder.h"
#include "engine/ErrorCodes.h"
#include "imaging/MyPngWriter.h"
#include "imaging/MySvgWriter.h"

namespace strixel {

namespace {

// The raster is always rendered at screen resolution; the resolution only
// scales the text.
constexpr int ScreenDpi = 96;
constexpr std::uint32_t White = 0xFFFFFF;
const char PngHeader[] = "Content-type: image/png\n\n";
const char SvgHeader[] = "Content-type: image/svg+xml\n\n";

void WriteSettings(CBarcodeSym &symbol, const RequestSettings &request) {
  CBarcodeProps &props = symbol.Settings;
  props.FontHeight = request.FontHeight;
  props.Orientation = request.Orientation;
  props.BackColor = request.BackColor;
  props.ForeColor = request.ForeColor;
  props.TextColor = request.TextColor;
  props.ShowQuietZone = request.ShowQuietZone;
  props.BarAlign = request.BarAlign;
  props.TextAlign = request.TextAlign;
  props.ShowGuard = request.ShowGuard;
  props.ShowText = request.ShowText;
  props.TextBottomTop = request.TextBottomTop;
  symbol.SetShowStSt(request.ShowStSt);
  symbol.SetShowCheck(request.ShowCheck);
  symbol.SetCalcCheck(request.CalcCheck);
  symbol.SetNonPrintingToTxt(request.NonPrintingToTxt);
  symbol.SetCode128CharSet(request.Code128CharSet);
  props.Wide2NarrowRatio = request.Wide2NarrowRatio;
  props.BarWidthReduction = request.BarWidthReduction;
  symbol.SetBarText(request.BarText.c_str());
}

// The image size: fixed by the request, or the symbol's length along it.
int ImageSize(CBarcodeHolder &holder, const RequestSettings &request,
              int &width, int &height) {
  width = request.Width;
  height = request.Height;
  if (request.FixedSize)
    return Success;
  double length = 0;
  if (int error =
          holder.ComputeSymbolLength(request.ModuleSize, 1, 1, Pixels, length))
    return error;
  const int pixels = static_cast<int>(length);
  if (RunsHorizontally(request.Orientation))
    width = pixels;
  else
    height = pixels;
  return Success;
}

// Creates the writer, lets the symbol draw into it and writes the response.
// The file is complete in memory before the first byte goes out: an
// encoder failure leaves no half image behind a 200 answer.
template <class Writer>
int DrawAndWrite(Writer &writer, CBarcodeSym &symbol, const CRect &rect,
                 const char *header) {
  if (!writer.Create())
    return FailRequest(CannotCreateCanvas);
  if (int error = symbol.Draw(writer, &rect))
    return FailRequest(error);
  std::string file;
  if (writer.EncodeImage(file) != Success)
    return FailRequest(Failure);
  return WriteResponse({header, file}) ? Success : Failure;
}

} // namespace

int FailRequest(int code) {
  if (DebugMode && !PrintErrorPage(code))
    return Failure;
  return code;
}

int RenderImageResponse(const RequestSettings &request) {
  CBarcodeHolder holder;
  if (holder.GetSymbol() == nullptr)
    return FailRequest(CannotSetType);
  WriteSettings(*holder.GetSymbol(), request);
  if (!holder.SetType(request.BarType))
    return FailRequest(CannotSetType);
  int width = 0;
  int height = 0;
  if (int error = ImageSize(holder, request, width, height))
    return FailRequest(error);
  const CRect rect{0, width, 0, height};

  if (request.Format == FormatSvg) {
    // The same drawing into shapes: the background is the document's own
    // first rectangle, so the writer starts in the background colour.
    CMySvgWriter writer(width, height, nullptr, ScreenDpi, ScreenDpi,
                        request.BackColor, ImageTitle(request));
    return DrawAndWrite(writer, *holder.GetSymbol(), rect, SvgHeader);
  }
  CMyPngWriter writer(width, height, nullptr, ScreenDpi, ScreenDpi, White,
                      CMyPngWriter::DefaultCompression);
  return DrawAndWrite(writer, *holder.GetSymbol(), rect, PngHeader);
}

} // namespace strixel
