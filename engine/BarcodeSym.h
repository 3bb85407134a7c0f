#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "engine/BarElement.h"
#include "engine/BarcodeProps.h"
#include "engine/Rect.h"

namespace strixel {

class CImageWriter;
struct SymbolAxes;
struct Point64;
enum StringAlign : int;

// Abstract base of every symbology: the settings, the text pipeline that
// turns BarText into CodeChars, DisplayText and Elements, and the layout and
// drawing of the resulting pattern.
class CBarcodeSym {
public:
  // Module width that stands for "nothing fits".
  static constexpr int NoModuleWidth = -1;
  // Width of a symbol that can never fit, and slack of a box with no room.
  static constexpr int NeverFits = std::numeric_limits<int>::max();
  static constexpr int NoRoom = std::numeric_limits<int>::min();
  static constexpr int QuietZoneModules = 10;

  explicit CBarcodeSym(const CBarcodeProps &props);
  CBarcodeSym(const CBarcodeSym &) = delete;
  CBarcodeSym &operator=(const CBarcodeSym &) = delete;

  // Virtual slots, in their fixed order.
  virtual ~CBarcodeSym();
  virtual bool Encode() = 0;
  virtual int Draw(CImageWriter &canvas, const CRect *rect);
  virtual int GetSymbolWidth(int moduleWidth) const;
  virtual bool FitsIn(int moduleWidth, int width, int height) const;
  virtual bool IsTextValid() = 0;
  virtual bool FitsInBox() const;
  virtual int FindModuleWidth(int width, int height) const;
  virtual void DrawBars(CImageWriter &canvas, int x, int y) const;
  virtual void DrawText(CImageWriter &canvas, int x, int y,
                        int textHeight) const;
  virtual int GetOrigin(const CRect &rect, int &x, int &y) const;
  // Called by PrepareEncode only, once IsTextValid has accepted the text:
  // no symbology checks the text again here.
  virtual void BuildCodeChars();
  // Called by PrepareEncode on a valid text, and by the display setters on
  // whatever text there is: a symbology whose display text needs a valid
  // text keeps the one it has when IsTextValid rejects the current one.
  virtual void BuildDisplayText();

  // Text and the setters that re-run the parts of the pipeline they affect.
  void SetBarText(const char *text);
  void SetCalcCheck(bool value);
  void SetCode128CharSet(int value);
  void SetShowStSt(bool value);
  void SetShowCheck(bool value);
  void SetNonPrintingToTxt(bool value);

  bool PrepareEncode();
  bool HasText() const { return !Settings.BarText.empty(); }
  static bool IsAllDigits(std::string_view text);
  // The text check of the digit symbologies: a text of digits only.
  bool HasDigitText() const {
    return HasText() && IsAllDigits(Settings.BarText);
  }
  template <class It> void SetCodeChars(It first, It last) {
    Settings.CodeChars.assign(first, last);
  }
  static void CharsToDisplayText(const std::vector<std::uint8_t> &bytes,
                                 std::string &out, bool names);

  // Layout helpers.
  int QuietZone(int moduleWidth) const;
  int Slack(int moduleWidth, int width, int height) const;
  int ElementWidth(std::uint8_t element, int moduleWidth) const;
  int WideWidth(int moduleWidth) const;
  // How the symbol lies on the canvas, from its orientation.
  SymbolAxes Axes() const;
  // Fills the bar of the given lengths along and across the symbol from
  // its start corner, clipped to the drawing box.
  void FillBar(CImageWriter &canvas, Point64 corner, std::int64_t along,
               std::int64_t across) const;
  void DrawTextLine(CImageWriter &canvas, int x, int y,
                    const std::string &text) const;
  void DrawRetailText(CImageWriter &canvas, int x, int y,
                      const std::string &text) const;
  void DrawTextPart(CImageWriter &canvas, const std::string &text,
                    std::size_t first, std::size_t count, int x, int y,
                    int offset, int width, StringAlign align, bool inset) const;

  CBarcodeProps Settings;
  std::vector<std::uint8_t> Elements;
  int ModuleWidth = 1;
  int BoxWidth = 200;
  int BoxHeight = 100;
  bool TextValid = false;
  int TextHeight = 0;
  CRect DrawRect;

protected:
  void AppendElement(BarElement e) { Elements.push_back(e); }
  // The optional check digit of the digit symbologies: CodeChars is BarText
  // followed by checkDigit when CalcCheck asks for one; DisplayText shows it
  // when ShowCheck asks for that too.
  void SetCodeCharsWithCheck(char checkDigit);
  void SetDisplayTextWithCheck(char checkDigit);
  double TextAngle() const;
  void TextReferencePoint(int x, int y, int &rx, int &ry) const;
  // The parts of the split retail text: the first digit before the bars,
  // and the digit groups of the mode (a TextAlignment of 4 to 6).
  void DrawDigitBeforeBars(CImageWriter &canvas, const std::string &text,
                           int rx, int ry) const;
  void DrawRetailGroups(CImageWriter &canvas, const std::string &text,
                        TextAlignment mode, int rx, int ry) const;
};

// Names shown for the control bytes 0 to 31 in the human-readable text.
extern const char *const ControlCharNames[32];

} // namespace strixel
