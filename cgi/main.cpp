#include "cgi/RequestIntake.h"

int main() {
  return strixel::HandleRequest();
}
