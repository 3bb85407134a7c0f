#pragma once

namespace strixel {

const char *ErrorMessage(int code);
void PrintErrorPage(int code);
void PrintHelpPage();

} // namespace strixel
