#pragma once

#include "cgi/RequestChannel.h"

namespace strixel {

// Installs a channel for the life of the scope, then the one before it.
class CChannelScope {
public:
  explicit CChannelScope(CRequestChannel &channel);
  CChannelScope(const CChannelScope &) = delete;
  CChannelScope &operator=(const CChannelScope &) = delete;
  ~CChannelScope();

private:
  CRequestChannel *Previous;
};

} // namespace strixel
