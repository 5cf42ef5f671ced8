// Helpers of the web tests: GBK text made independently of the extension, a
// configuration directory named by $VANTREL_CONFIG_DIR and form bodies.
#pragma once

#include <gtest/gtest.h>
#include <iconv.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "web/quota_database.h"

namespace dovecrest::testing {

// UTF-8 text to code page 936 through the C library, independently of the extension.
inline std::string ToGbk(const std::string& utf8) {
  iconv_t cd = iconv_open("CP936", "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string out(utf8.size() * 2 + 16, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  EXPECT_NE(iconv(cd, &in, &inLeft, &outPtr, &outLeft), static_cast<size_t>(-1));
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

// A form body with the bytes of every value percent-encoded.
inline std::string FormField(const std::string& name, const std::string& value) {
  static const char* hex = "0123456789ABCDEF";
  std::string body = name + "=";
  for (unsigned char c : value) {
    body += '%';
    body += hex[c >> 4];
    body += hex[c & 15];
  }
  return body;
}

}  // namespace dovecrest::testing
