#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The settings record that every symbol carries its own copy of.
// Colours are stored with red in the low byte (0x00BBGGRR).
class CBarcodeProps {
public:
  std::int32_t BarType = 0;
  std::string BarText = "012345";
  std::vector<std::uint8_t> CodeChars;
  std::string DisplayText;
  std::uint32_t TextColor = 0;
  std::uint32_t ForeColor = 0;
  std::uint32_t BackColor = 0xFFFFFF;
  std::int32_t BarAlign = 2;
  std::int32_t Orientation = 0;
  bool ShowGuard = true;
  bool ShowQuietZone = true;
  bool ShowText = true;
  bool TextBottomTop = true;
  std::int32_t TextAlign = 0;
  bool ShowStSt = false;
  bool ShowCheck = true;
  bool CalcCheck = true;
  std::int32_t FontHeight = 14;
  std::int32_t Code128CharSet = 0;
  float Wide2NarrowRatio = 3.0f;
  bool NonPrintingToTxt = true;
  std::int32_t BarWidthReduction = 0;

  void CopyFrom(const CBarcodeProps &other) { *this = other; }
};
