#pragma once

// Symbols made through the factory with the four flags of the human-readable
// text, for the tests of the symbologies that show start/stop and check
// characters.

#include <memory>
#include <string>

#include "engine/BarcodeFactory.h"

using namespace strixel;

struct TextFlags {
  bool ShowStSt = false;
  bool ShowCheck = true;
  bool CalcCheck = true;
  bool NonPrintingToTxt = true;
};

inline std::unique_ptr<CBarcodeSym>
MakeSymbol(int type, const std::string &text,
           const TextFlags &flags = TextFlags()) {
  CBarcodeProps props;
  props.BarType = type;
  props.BarText = text;
  props.ShowStSt = flags.ShowStSt;
  props.ShowCheck = flags.ShowCheck;
  props.CalcCheck = flags.CalcCheck;
  props.NonPrintingToTxt = flags.NonPrintingToTxt;
  return CreateBarcodeSym(props);
}
