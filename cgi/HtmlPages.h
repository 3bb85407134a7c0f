#pragma once

const char *ErrorMessage(int code);
void PrintErrorPage(int code);
void PrintHelpPage();
