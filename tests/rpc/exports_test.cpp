// The library exports exactly the calls of its ordinal table.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "api/export_table.h"

namespace {

std::set<std::string> DynamicSymbols(const std::string& library) {
  std::set<std::string> names;
  std::string command = "nm -D --defined-only '" + library + "'";
  FILE* nm = popen(command.c_str(), "r");
  if (!nm) return names;
  char line[512];
  while (fgets(line, sizeof line, nm)) {
    char address[64], type[8], name[400];
    if (sscanf(line, "%63s %7s %399s", address, type, name) == 3) names.insert(name);
  }
  pclose(nm);
  return names;
}

TEST(Exports, DynamicSymbolsAreTheOrdinalTable) {
  std::set<std::string> table;
  std::set<uint16_t> ordinals;
  for (const WGExport& e : kWGExports) {
    EXPECT_TRUE(table.insert(e.pszName).second) << e.pszName << " listed twice";
    EXPECT_TRUE(ordinals.insert(e.uiOrdinal).second) << "ordinal " << e.uiOrdinal << " used twice";
    EXPECT_TRUE(e.uiOrdinal >= 1 && e.uiOrdinal <= 99 && (e.uiOrdinal < 21 || e.uiOrdinal > 26))
        << e.pszName << ": ordinal " << e.uiOrdinal;
  }
  EXPECT_EQ(DynamicSymbols(WG_LIBRARY_FILE), table);
}

}  // namespace
