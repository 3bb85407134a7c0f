#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace strixel {

class CBarcodeSym;

// Digit parities in the parity tables: O, odd parity (the widths of a digit
// in table order, set A); E, even parity (reversed, set B).
namespace Parity {
constexpr bool O = true;
constexpr bool E = false;
} // namespace Parity

// Check digits and digit emitters shared by the retail and GS1 symbologies
// (EAN/UPC, UPC-E, the add-ons, GS1-128 numbers, ITF-14) and by 2 of 5,
// whose check digit is the weighted one. Digits are given as the bytes
// '0'..'9'.

// Modulo-10 check digit of the first n digits, weights 3, 1, 3, ... from the
// leftmost digit.
int CheckDigit31(std::string_view text, std::size_t n);
// The same with weights 1, 3, 1, ... from the leftmost digit.
int CheckDigit13(std::string_view text, std::size_t n);
// The EAN-5 checksum that selects the add-on's parity pattern.
int AddOnChecksum(std::string_view text);

// Append the four elements of one digit (value 0..9); nextIsBar says whether
// the next element is a bar and is inverted by every element appended.
bool AppendRetailDigit(std::vector<std::uint8_t> &elements, int digit,
                       bool &nextIsBar);
// As AppendRetailDigit, in reverse order (even parity) when odd is false.
bool AppendRetailDigitParity(std::vector<std::uint8_t> &elements, int digit,
                             bool odd, bool &nextIsBar);

// Fixed-length GS1 numbers (EAN/UPC, EAN-14, ITF-14, SSCC-18): the text holds
// the data digits with or without their check digit, which is always
// computed; one given in the text gives way to it.
bool IsGs1Number(std::string_view text, std::size_t dataDigits);
// CodeChars := the data digits of BarText and the check digit.
void SetGs1CodeChars(CBarcodeSym &symbol, std::size_t dataDigits,
                     int checkDigit);
// DisplayText := the data digits of BarText, and the check digit when
// ShowCheck is set.
void SetGs1DisplayText(CBarcodeSym &symbol, std::size_t dataDigits,
                       int checkDigit);

// The GTIN-14 of EAN-14 and ITF-14: 13 data digits and their check digit.
constexpr std::size_t Gtin14DataDigits = 13;
int Gtin14CheckDigit(std::string_view text);
// The code characters of a GTIN-14 symbol.
void SetGtin14CodeChars(CBarcodeSym &symbol);

} // namespace strixel
