#include "cgi/ImageResponse.h"

#include <cstdio>

#include "cgi/HtmlPages.h"
#include "engine/BarcodeHolder.h"
#include "imaging/MyPngWriter.h"

namespace strixel {

namespace {

// The raster is always rendered at screen resolution; the resolution only
// scales the text.
constexpr int ScreenDpi = 96;
constexpr int DefaultCompression = -2;

int Fail(int code) {
  if (DebugMode)
    PrintErrorPage(code);
  return code;
}

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

} // namespace

int RenderImageResponse(const RequestSettings &request) {
  CBarcodeHolder holder;
  if (holder.GetSymbol() == nullptr)
    return Fail(4);
  WriteSettings(*holder.GetSymbol(), request);
  if (!holder.SetType(request.BarType))
    return Fail(4);

  int width = request.Width;
  int height = request.Height;
  if (!request.FixedSize) {
    double length = 0;
    if (int error = holder.ComputeSymbolLength(request.ModuleSize, 1, 1, Pixels,
                                               length))
      return Fail(error);
    const int pixels = static_cast<int>(length);
    if (request.Orientation == 0 || request.Orientation == 180)
      width = pixels;
    else
      height = pixels;
  }
  const CRect rect{0, width, 0, height};

  CMyPngWriter writer(width, height, nullptr, ScreenDpi, ScreenDpi, 0xFFFFFF,
                      DefaultCompression);
  if (!writer.Create())
    return Fail(3);
  if (int error = holder.GetSymbol()->Draw(writer, &rect))
    return Fail(error);

  // The header and the image go out as bytes: no line-end translation.
  std::fflush(stdout);
  std::fputs("Content-type: image/png\n\n", stdout);
  const int written = writer.WriteImage(stdout);
  std::fflush(stdout);
  return written;
}

} // namespace strixel
