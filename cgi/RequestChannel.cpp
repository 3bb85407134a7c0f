#include "cgi/RequestChannel.h"
#include "cgi/ChannelScope.h"

#include <cstdio>
#include <cstdlib>

namespace strixel {

namespace {

// The channel of the FastCGI request being handled; none in a CGI process.
// Only CChannelScope sets it, so it never outlives the request.
CRequestChannel *Installed = nullptr;

} // namespace

CChannelScope::CChannelScope(CRequestChannel &channel) : Previous(Installed) {
  Installed = &channel;
}

CChannelScope::~CChannelScope() {
  Installed = Previous;
}

CRequestChannel *InstalledChannel() {
  return Installed;
}

const char *RequestVariable(const char *name) {
  if (Installed)
    return Installed->GetVariable(name);
  return std::getenv(name);
}

std::size_t ReadRequestInput(char *buffer, std::size_t size) {
  if (Installed)
    return Installed->ReadInput(buffer, size);
  return std::fread(buffer, 1, size, stdin);
}

} // namespace strixel
