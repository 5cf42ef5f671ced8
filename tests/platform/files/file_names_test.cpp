// Finding table files without regard to case: a unique other spelling is found
// in a database directory, while names in the process's private directory,
// which only the process itself writes, are taken as they are.
#include "platform/file_names.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/os_process.h"
#include "support/temp_dir.h"

namespace tarn {
namespace {

TEST(FileNames, OtherSpellingsAreFoundOutsideThePrivateDirectoryOnly) {
  testing_support::TTempDir database("dovecrest-names");
  std::string privateDir;
  ASSERT_EQ(OSProcessPrivateDirectory(privateDir), 0);
  EXPECT_TRUE(OSIsProcessPrivateDirectory(privateDir));
  EXPECT_FALSE(OSIsProcessPrivateDirectory(database.Path()));
  for (const std::string& dir : {database.Path(), privateDir}) std::ofstream(dir + "quota.DAT") << "x";

  EXPECT_EQ(ResolveFileName(database.Path() + "QUOTA.dat"), database.Path() + "quota.DAT");
  EXPECT_EQ(ResolveFileName(database.Path() + "quota.DAT"), database.Path() + "quota.DAT");
  EXPECT_EQ(ResolveFileName(database.Path() + "other.DAT"), database.Path() + "other.DAT");
  EXPECT_EQ(ResolveFileName(privateDir + "QUOTA.dat"), privateDir + "QUOTA.dat");
  EXPECT_EQ(ResolveFileName(privateDir + "quota.DAT"), privateDir + "quota.DAT");
  std::remove((privateDir + "quota.DAT").c_str());
}

}  // namespace
}  // namespace tarn
