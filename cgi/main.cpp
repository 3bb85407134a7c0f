#include "cgi/RequestIntake.h"
#include "cgi/RequestLimits.h"

int main() {
  // The process is the request's own: its limits are the process's.
  strixel::RequestLimits limits;
  limits.ProcessWide = true;
  return strixel::HandleRequest(limits);
}
