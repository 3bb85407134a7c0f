#include "engine/BarSpans.h"

#include <algorithm>

namespace strixel {

std::vector<Span> JoinSpans(std::vector<Span> spans) {
  spans.erase(std::remove_if(spans.begin(), spans.end(),
                             [](const Span &s) { return s.End <= s.Start; }),
              spans.end());
  // Bars come in pattern order, so this is usually sorted already.
  std::sort(spans.begin(), spans.end(),
            [](const Span &a, const Span &b) { return a.Start < b.Start; });
  std::vector<Span> joined;
  joined.reserve(spans.size());
  for (const Span &s : spans) {
    if (!joined.empty() && s.Start <= joined.back().End)
      joined.back().End = std::max(joined.back().End, s.End);
    else
      joined.push_back(s);
  }
  return joined;
}

std::vector<Span> SpansOutside(const std::vector<Span> &spans,
                               const std::vector<Span> &cover) {
  std::vector<Span> outside;
  auto c = cover.begin();
  for (Span rest : spans) {
    // Covers that end before this span cannot reach any later span either.
    while (c != cover.end() && c->End <= rest.Start)
      ++c;
    for (auto k = c; k != cover.end() && k->Start < rest.End; ++k) {
      if (k->Start > rest.Start)
        outside.push_back({rest.Start, k->Start});
      rest.Start = std::max(rest.Start, k->End);
    }
    if (rest.Start < rest.End)
      outside.push_back(rest);
  }
  return outside;
}

} // namespace strixel
