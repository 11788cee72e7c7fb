// The CUPS function table: the library at a path when it opens, the
// linked functions otherwise, never an entry into a closed library.
#include <gtest/gtest.h>

#include "cups_binding.h"

using namespace rf;

TEST(CupsBinding, LibrariesThatOpenAreBoundAndReloadedAndTheLinkedFunctionsStandIn) {
  const CupsBinding linked = cups();
  EXPECT_EQ(loadCupsLibraryFrom("/nonexistent/libcups.so"), 0);
  EXPECT_EQ(cups().cupsHandle, nullptr);
  EXPECT_EQ(cups().ppdOpenFile, linked.ppdOpenFile);

  ASSERT_EQ(loadCupsLibraryFrom("libcups.so.2"), 1);
  void* first = cups().cupsHandle;
  ASSERT_NE(first, nullptr);
  EXPECT_NE(cups().cupsTempFd, nullptr);
  ASSERT_EQ(loadCupsLibraryFrom("libcups.so.2"), 1);  // the first handle is closed first
  EXPECT_NE(cups().cupsHandle, nullptr);
  ASSERT_EQ(loadCupsImageLibraryFrom("libcupsimage.so.2"), 1);
  EXPECT_NE(cups().cupsRasterOpen, nullptr);

  unloadCupsLibrary();
  unloadCupsImageLibrary();
  EXPECT_EQ(cups().cupsHandle, nullptr);
  EXPECT_EQ(cups().cupsImageHandle, nullptr);
  EXPECT_EQ(cups().ppdOpenFile, linked.ppdOpenFile);
  EXPECT_EQ(cups().cupsRasterReadHeader2, linked.cupsRasterReadHeader2);
}
