#include "output_manager.h"

#include <cstdio>
#include <iostream>

const char OutputManager::PREFIX[] = "Error";

void OutputManager::outputError(const char *message) {
  if (message[0] == '\0') return;
  // Compared as unsigned, so a negative mode falls in "any other value".
  switch (static_cast<uint32_t>(outputMode)) {
    case 1:
      // No message box exists on this platform: unless boxes are switched off,
      // the error goes nowhere, exactly as a suppressed box would.
      if (silent || !disableMessageBox) return;
      [[fallthrough]];
    case 0:
      // operator<< widens each byte on its own through the stream's locale.
      std::wcout << PREFIX << ": " << message << '\n';
      std::wcout.flush();
      return;
    case 2:
    case 3:
    case 4:
      std::cerr << PREFIX << ": " << message << '\n';
      std::cerr.flush();
      return;
    default: return;
  }
}

void OutputManager::outputStatus(const char *text, const char *label) {
  std::cout << label << ": " << text << '\n';
  std::cout.flush();
  std::fflush(stdout);
}
