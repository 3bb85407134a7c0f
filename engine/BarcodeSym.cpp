// CBarcodeSym is defined in two sources: this one holds the settings and the
// text pipeline (encoding, setters, display text); BarcodeLayout.cpp holds
// the layout and drawing of the pattern.

#include "engine/BarcodeSym.h"

#include "engine/Digits.h"

namespace strixel {

const char *const ControlCharNames[32] = {
    "<NULL>", "<SOH>", "<STX>", "<ETX>", "<EOT>", "<ENQ>", "<ACK>", "<BEL>",
    "<BS>",   "<TAB>", "<LF>",  "<VT>",  "<FF>",  "<CR>",  "<SO>",  "<SI>",
    "<DLE>",  "<DC1>", "<DC2>", "<DC3>", "<DC4>", "<NAK>", "<SYN>", "<ETB>",
    "<CAN>",  "<EM>",  "<SUB>", "<ESC>", "<FS>",  "<GS>",  "<RS>",  "<US>"};

namespace {

// Stores value in field; true when that changed the field, so that a setter
// re-runs the pipeline only for a new value.
template <class T> bool StoreChange(T &field, T value) {
  if (field == value)
    return false;
  field = value;
  return true;
}

// Room reserved for the pattern at every encode, so that an ordinary text
// never reallocates while its elements are appended.
constexpr std::size_t ReservedElements = 500;

} // namespace

CBarcodeSym::CBarcodeSym(const CBarcodeProps &props) {
  Settings.CopyFrom(props);
}

CBarcodeSym::~CBarcodeSym() = default;

void CBarcodeSym::BuildCodeChars() {
  const std::string &text = Settings.BarText;
  SetCodeChars(text.begin(), text.end());
}

void CBarcodeSym::BuildDisplayText() {
  Settings.DisplayText = Settings.BarText;
}

bool CBarcodeSym::PrepareEncode() {
  TextValid = IsTextValid();
  if (!TextValid)
    return false;
  BuildCodeChars();
  BuildDisplayText();
  Elements.clear();
  Elements.reserve(ReservedElements);
  return true;
}

void CBarcodeSym::SetBarText(const char *text) {
  if (text == nullptr || Settings.BarText == text)
    return;
  Settings.BarText = text;
  Encode();
}

void CBarcodeSym::SetCalcCheck(bool value) {
  if (StoreChange(Settings.CalcCheck, value))
    Encode();
}

void CBarcodeSym::SetCode128CharSet(int value) {
  if (StoreChange(Settings.Code128CharSet, value))
    Encode();
}

void CBarcodeSym::SetShowStSt(bool value) {
  if (StoreChange(Settings.ShowStSt, value))
    BuildDisplayText();
}

void CBarcodeSym::SetShowCheck(bool value) {
  if (StoreChange(Settings.ShowCheck, value))
    BuildDisplayText();
}

void CBarcodeSym::SetNonPrintingToTxt(bool value) {
  if (StoreChange(Settings.NonPrintingToTxt, value))
    BuildDisplayText();
}

void CBarcodeSym::SetCodeCharsWithCheck(char checkDigit) {
  CBarcodeSym::BuildCodeChars();
  if (Settings.CalcCheck)
    Settings.CodeChars.push_back(static_cast<std::uint8_t>(checkDigit));
}

void CBarcodeSym::SetDisplayTextWithCheck(char checkDigit) {
  Settings.DisplayText = Settings.BarText;
  if (Settings.CalcCheck && Settings.ShowCheck)
    Settings.DisplayText.push_back(checkDigit);
}

bool CBarcodeSym::IsAllDigits(std::string_view text) {
  if (text.empty())
    return false;
  for (char c : text)
    if (!IsDigit(c))
      return false;
  return true;
}

void CBarcodeSym::CharsToDisplayText(const std::vector<std::uint8_t> &bytes,
                                     std::string &out, bool names) {
  out.clear();
  out.reserve(bytes.size() + 50);
  for (std::uint8_t b : bytes) {
    if (b >= 0x20)
      out.push_back(static_cast<char>(b));
    else if (names)
      out.append(ControlCharNames[b]);
  }
}

} // namespace strixel
