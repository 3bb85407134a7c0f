#pragma once

#include <cstdint>
#include <vector>

namespace strixel {

// A stretch of pixels on one axis, [Start, End); empty when End <= Start.
struct Span {
  std::int64_t Start = 0;
  std::int64_t End = 0;
};

// The same pixels as spans, sorted, with overlapping and touching spans
// joined and empty ones dropped: filling each of the result once fills
// every pixel of the input exactly once.
std::vector<Span> JoinSpans(std::vector<Span> spans);

// The pixels of spans that cover leaves free, as joined spans. Both inputs
// must be joined (JoinSpans).
std::vector<Span> SpansOutside(const std::vector<Span> &spans,
                               const std::vector<Span> &cover);

} // namespace strixel
