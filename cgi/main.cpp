#include "cgi/FastCgiServer.h"
#include "cgi/RequestIntake.h"

int main() {
  if (strixel::ListensForFastCgi())
    return strixel::ServeFastCgi(strixel::FastCgiWorkerCount());
  return strixel::HandleRequest();
}
