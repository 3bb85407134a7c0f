#include "cgi/RequestIntake.h"

int main() {
  return HandleRequest();
}
