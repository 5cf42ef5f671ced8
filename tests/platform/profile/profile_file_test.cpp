// Profile-file values: lookup rules of section, key, quotes, comments and defaults.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/profile_file.h"

namespace tarn {
namespace {

TEST(ProfileFile, ValuesFollowProfileSemantics) {
  char tmpl[] = "/tmp/profile-test-XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  const std::string path = dir + "/Vantrel.ini";
  struct Case {
    std::string text;
    std::string expected;
  } cases[] = {
      {"[Setting]\r\nDBPath=C:\\Quota\\\r\n", "C:\\Quota\\"},
      {"[setting]\ndbpath =  /data/q/  \n", "/data/q/"},
      {"[Setting]\nDBPath=\"/quoted path/\"\n", "/quoted path/"},
      {"[Setting]\n;DBPath=/commented/\nDBPath=/real/\n", "/real/"},
      {"[Setting]\nDBPath=/first/\nDBPath=/second/\n", "/first/"},
      {"[Other]\nDBPath=/wrong/\n[Setting]\nOther=1\nDBPath=/right/\n", "/right/"},
      {"[Setting]\nDBPathX=/no/\n", "dflt"},
      {"[Setting]\nDBPath=\n", ""},
      {"DBPath=/outside/\n", "dflt"},
      {"[Setting]\nDBPath=" + std::string(3000, 'a') + "\n", std::string(kProfileValueMax, 'a')},
  };
  for (const auto& c : cases) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.text;
    EXPECT_EQ(GetPrivateProfileString("Setting", "DBPath", "dflt", path), c.expected) << c.text;
  }
  EXPECT_EQ(GetPrivateProfileString("Setting", "DBPath", "dflt", dir + "/missing.ini"), "dflt");

  setenv("VANTREL_CONFIG_DIR", dir.c_str(), 1);
  EXPECT_EQ(ProfileFilePath("Vantrel.ini"), dir + "/Vantrel.ini");
  unsetenv("VANTREL_CONFIG_DIR");
  std::filesystem::remove_all(dir);
}

TEST(ProfileFile, TempPathEndsWithASlash) {
  setenv("TMPDIR", "/var/tmp", 1);
  EXPECT_EQ(GetTempPath(), "/var/tmp/");
  unsetenv("TMPDIR");
  EXPECT_EQ(GetTempPath(), "/tmp/");
}

}  // namespace
}  // namespace tarn
