#pragma once

namespace strixel {

// Rounds to the nearest integer, halves away from zero (2.5 gives 3, -2.5
// gives -3), saturating at the int range; NaN gives 0. Every real length
// that becomes whole pixels goes through here.
int RoundHalfAway(double value);

} // namespace strixel
