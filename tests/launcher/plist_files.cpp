#include "plist_files.h"

#include <plist/plist.h>

#include <cstdlib>
#include <stdexcept>

namespace launcher_test {

std::string xml_plist(const std::string &body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n" +
         body + "\n</plist>\n";
}

std::string xml_install_areas(const std::vector<std::string> &areas) {
  std::string body = "<dict>\n  <key>InstallAreas</key>\n  <array>\n";
  for (const std::string &area : areas) {
    std::string escaped;
    for (char c : area) {
      if (c == '&')
        escaped += "&amp;";
      else if (c == '<')
        escaped += "&lt;";
      else if (c == '>')
        escaped += "&gt;";
      else
        escaped += c;
    }
    body += "    <string>" + escaped + "</string>\n";
  }
  body += "  </array>\n</dict>";
  return xml_plist(body);
}

std::string to_binary_plist(const std::string &xml) {
  plist_t root = nullptr;
  plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
  if (root == nullptr) throw std::runtime_error("test property list does not parse");
  char *bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(root, &bytes, &length);
  plist_free(root);
  if (bytes == nullptr) throw std::runtime_error("cannot write a binary property list");
  std::string result(bytes, length);
  std::free(bytes);
  return result;
}

}  // namespace launcher_test
