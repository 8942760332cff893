#include "platform/registry_store.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/registry/files.h"
#include "tests/support/isolation.h"
#include "tests/support/peer_process.h"

using platform::RegistryHive;

namespace {

constexpr RegistryHive kMachine = RegistryHive::kLocalMachine;
constexpr RegistryHive kUser = RegistryHive::kCurrentUser;

class RegistryStoreTest : public IsolatedTest {
 protected:
  std::string storeFile(RegistryHive hive) const { return platform::RegistryStorePath(hive); }
};

std::optional<uint32_t> QueryNumber(RegistryHive hive, const std::string& key,
                                    const std::string& name) {
  uint32_t value = 0;
  if (!platform::RegistryQueryNumber(hive, key, name, &value)) return std::nullopt;
  return value;
}

std::optional<std::string> QueryText(RegistryHive hive, const std::string& key,
                                     const std::string& name) {
  std::string value;
  if (!platform::RegistryQueryText(hive, key, name, &value)) return std::nullopt;
  return value;
}

TEST_F(RegistryStoreTest, WritesRegedit4AsPeopleWriteIt) {
  ASSERT_TRUE(platform::RegistrySetText(kMachine, "Software\\Kestrelon\\Setup", "WGServer",
                                        "/opt/whorlgate/bin/WGServer"));
  ASSERT_TRUE(platform::RegistrySetNumber(kUser, "Software\\Kestrelon\\Ventolog\\Filter Setup",
                                          "Where", 0x80000000u));
  ASSERT_TRUE(platform::RegistrySetNumber(kUser, "Software\\Kestrelon\\Ventolog\\Filter Setup",
                                          "Type", 10));
  ASSERT_TRUE(platform::RegistrySetText(kUser, "Software\\Kestrelon\\Ventolog\\Options", "",
                                        "C:\\WhorlgateImage.BMP \"first\""));

  EXPECT_EQ(ReadWholeFile(storeFile(kMachine)),
            "REGEDIT4\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\Setup]\n"
            "\"WGServer\"=\"/opt/whorlgate/bin/WGServer\"\n"
            "\n");
  EXPECT_EQ(ReadWholeFile(storeFile(kUser)),
            "REGEDIT4\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\Kestrelon\\Ventolog\\Filter Setup]\n"
            "\"Where\"=dword:80000000\n"
            "\"Type\"=dword:0000000a\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\Kestrelon\\Ventolog\\Options]\n"
            "@=\"C:\\\\WhorlgateImage.BMP \\\"first\\\"\"\n"
            "\n");
}

TEST_F(RegistryStoreTest, TextsAndNamesComeBackAsWritten) {
  const std::vector<std::string> samples = {
      "",      "C:\\dir\\", "say \"hi\"",    "\\\"",           "\"",        "  spaced  ", "a=b",
      "[key]", "@",         "Z\xC3\xBCrich", "dword:00000001", "hex:01,02",
  };
  for (const std::string& sample : samples) {
    SCOPED_TRACE(sample);
    ASSERT_TRUE(platform::RegistrySetText(kUser, "Texts", "value", sample));
    EXPECT_EQ(QueryText(kUser, "Texts", "value"), sample);
    if (sample.empty()) continue;
    ASSERT_TRUE(platform::RegistrySetNumber(kUser, "Names", sample, 7));
    EXPECT_EQ(QueryNumber(kUser, "Names", sample), 7u);
    ASSERT_TRUE(platform::RegistrySetNumber(kUser, "Keys\\" + sample, "n", 8));
    EXPECT_EQ(QueryNumber(kUser, "Keys\\" + sample, "n"), 8u);
  }
  // Every sample is still there after all the rewrites that followed it.
  for (const std::string& sample : samples) {
    if (sample.empty()) continue;
    EXPECT_EQ(QueryNumber(kUser, "Names", sample), 7u) << sample;
  }
}

TEST_F(RegistryStoreTest, KeysAndNamesIgnoreCaseAndKeepTheirFirstSpelling) {
  ASSERT_TRUE(platform::RegistrySetText(kMachine, "Software\\Kestrelon\\Setup", "WGServer", "a"));
  ASSERT_TRUE(platform::RegistrySetText(kMachine, "SOFTWARE\\kestrelon\\SETUP", "wgserver", "b"));
  EXPECT_EQ(QueryText(kMachine, "software\\KESTRELON\\setup", "WgServer"), "b");
  EXPECT_EQ(ReadWholeFile(storeFile(kMachine)),
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\Setup]\n\"WGServer\"=\"b\"\n\n");
  // The stores are separate: the user store knows nothing of the machine's keys.
  EXPECT_EQ(QueryText(kUser, "Software\\Kestrelon\\Setup", "WGServer"), std::nullopt);
}

TEST_F(RegistryStoreTest, ReadOrStoreKeepsWhatIsThereAndStoresWhatIsNot) {
  EXPECT_EQ(platform::RegistryReadNumberOrStore(kUser, "K", "n", 5), 5u);
  EXPECT_EQ(platform::RegistryReadNumberOrStore(kUser, "K", "n", 6), 5u);
  EXPECT_EQ(platform::RegistryReadTextOrStore(kUser, "K", "t", "first"), "first");
  EXPECT_EQ(platform::RegistryReadTextOrStore(kUser, "K", "t", "second"), "first");
  // A value of the other type is replaced, so the next read finds what it expects.
  EXPECT_EQ(platform::RegistryReadTextOrStore(kUser, "K", "n", "text now"), "text now");
  EXPECT_EQ(QueryNumber(kUser, "K", "n"), std::nullopt);
  EXPECT_EQ(platform::RegistryReadNumberOrStore(kUser, "K", "t", 9), 9u);
  EXPECT_EQ(QueryText(kUser, "K", "t"), std::nullopt);
}

TEST_F(RegistryStoreTest, RefusesTextsTheFormatCannotHold) {
  const std::vector<std::string> unstorable = {"line\nbreak", "carriage\rreturn",
                                               std::string("nul\0inside", 10)};
  for (const std::string& bad : unstorable) {
    EXPECT_FALSE(platform::RegistrySetText(kUser, "K", "name", bad));
    EXPECT_FALSE(platform::RegistrySetText(kUser, "K", bad, "text"));
    EXPECT_FALSE(platform::RegistrySetNumber(kUser, "K", bad, 1));
    EXPECT_FALSE(platform::RegistrySetNumber(kUser, "K\\" + bad, "name", 1));
    // The read still answers with its fallback, it only cannot keep it.
    EXPECT_EQ(platform::RegistryReadTextOrStore(kUser, "K", "name", bad), bad);
    EXPECT_EQ(platform::RegistryReadNumberOrStore(kUser, bad, "name", 3), 3u);
  }
  struct stat st;
  EXPECT_NE(stat(storeFile(kUser).c_str(), &st), 0) << "nothing was to be written";
}

TEST_F(RegistryStoreTest, ReportsWritesThatCannotHappen) {
  // The store's name is taken by a folder, then its folder's name by a file.
  ASSERT_EQ(mkdir(storeFile(kUser).c_str(), 0755), 0);
  EXPECT_FALSE(platform::RegistrySetNumber(kUser, "K", "n", 1));
  EXPECT_EQ(platform::RegistryReadNumberOrStore(kUser, "K", "n", 4), 4u);
  WriteWholeFile(scratch() + "/plain-file", "x");
  setenv("WHORLGATE_MACHINE_REGISTRY", (scratch() + "/plain-file/machine.reg").c_str(), 1);
  EXPECT_FALSE(platform::RegistrySetText(kMachine, "K", "t", "x"));
}

TEST_F(RegistryStoreTest, WriteCreatesMissingFolders) {
  std::string nested = scratch() + "/one/two/user.reg";
  setenv("WHORLGATE_USER_REGISTRY", nested.c_str(), 1);
  ASSERT_TRUE(platform::RegistrySetNumber(kUser, "K", "n", 1));
  EXPECT_NE(ReadWholeFile(nested).find("\"n\"=dword:00000001"), std::string::npos);
}

TEST_F(RegistryStoreTest, StorePathsFollowTheEnvironment) {
  struct Case {
    RegistryHive hive;
    const char* machineVariable;
    const char* userVariable;
    const char* configHome;
    const char* home;
    std::string expected;
  };
  const Case cases[] = {
      {kMachine, "/etc/m.reg", nullptr, nullptr, "/h", "/etc/m.reg"},
      {kMachine, nullptr, nullptr, nullptr, "/h", "/var/lib/whorlgate/machine.reg"},
      {kMachine, "", nullptr, nullptr, "/h", "/var/lib/whorlgate/machine.reg"},
      {kUser, nullptr, "/u/user.reg", "/x", "/h", "/u/user.reg"},
      {kUser, nullptr, nullptr, "/x", "/h", "/x/whorlgate/user.reg"},
      {kUser, nullptr, "", "", "/h", "/h/.config/whorlgate/user.reg"},
      {kUser, nullptr, nullptr, "relative", "/h", "/h/.config/whorlgate/user.reg"},
      {kUser, nullptr, nullptr, nullptr, "/h", "/h/.config/whorlgate/user.reg"},
  };
  auto put = [](const char* variable, const char* value) {
    if (value) {
      setenv(variable, value, 1);
    } else {
      unsetenv(variable);
    }
  };
  for (const Case& c : cases) {
    put("WHORLGATE_MACHINE_REGISTRY", c.machineVariable);
    put("WHORLGATE_USER_REGISTRY", c.userVariable);
    put("XDG_CONFIG_HOME", c.configHome);
    put("HOME", c.home);
    EXPECT_EQ(platform::RegistryStorePath(c.hive), c.expected);
  }
}

// What a reader must make of a hand-edited, damaged or foreign file, and what a later write
// must keep of it.
struct DamagedFile {
  const char* name;
  std::string content;
  struct Expectation {
    RegistryHive hive;
    std::string key;
    std::string name;
    std::optional<uint32_t> number;
    std::optional<std::string> text;
  };
  std::vector<Expectation> values;
  std::vector<std::string> keptLines;
};

std::string Garbage(size_t length, uint32_t seed) {
  std::string bytes(length, '\0');
  for (char& c : bytes) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 16);
  }
  return bytes;
}

std::vector<DamagedFile> DamagedFiles() {
  const std::string huge(1 << 20, 'h');
  return {
      {"empty", "", {{kMachine, "A", "x", std::nullopt, std::nullopt}}, {}},
      {"no header",
       "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:00000005\n",
       {{kMachine, "A", "x", 5, std::nullopt}},
       {}},
      {"cut in a value",
       "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:00000005\n\"y\"=\"abc",
       {{kMachine, "A", "x", 5, std::nullopt}, {kMachine, "A", "y", std::nullopt, std::nullopt}},
       {"\"y\"=\"abc"}},
      {"cut in a key",
       "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\n\"x\"=dword:00000001\nHKEY_LOCAL_MACHINE\\B]\n"
       "\"y\"=dword:00000002\n[\\C]\n\"z\"=dword:00000003\n[]\n",
       {{kMachine, "A", "x", std::nullopt, std::nullopt},
        {kMachine, "B", "y", std::nullopt, std::nullopt},
        {kMachine, "", "z", std::nullopt, std::nullopt}},
       {"[HKEY_LOCAL_MACHINE\\A", "\"x\"=dword:00000001", "HKEY_LOCAL_MACHINE\\B]", "[\\C]",
        "\"z\"=dword:00000003", "[]"}},
      {"values before any key",
       "REGEDIT4\n\"x\"=dword:00000001\n[HKEY_LOCAL_MACHINE\\A]\n",
       {{kMachine, "A", "x", std::nullopt, std::nullopt}},
       {"\"x\"=dword:00000001"}},
      {"malformed numbers",
       "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=dword:\n\"b\"=dword:123456789\n\"c\"=dword:xyz\n"
       "\"d\"=dword:0000000A\n\"e\"=DWORD:ff\n\"f\"=dword: 1\n",
       {{kMachine, "A", "a", std::nullopt, std::nullopt},
        {kMachine, "A", "b", std::nullopt, std::nullopt},
        {kMachine, "A", "c", std::nullopt, std::nullopt},
        {kMachine, "A", "d", 10, std::nullopt},
        {kMachine, "A", "e", 255, std::nullopt},
        {kMachine, "A", "f", std::nullopt, std::nullopt}},
       {"\"a\"=dword:", "\"b\"=dword:123456789", "\"c\"=dword:xyz", "\"f\"=dword: 1"}},
      {"malformed texts",
       "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"bad \\q escape\"\n\"b\"=\"x\" trailing\n\"c\"=\"open\n"
       "\"d\"=bare\n\"e\"\n\"f\"=\n\"g\\\"=\"unterminated name\"\n\"h\"=\"fine\"\n",
       {{kMachine, "A", "a", std::nullopt, std::nullopt},
        {kMachine, "A", "b", std::nullopt, std::nullopt},
        {kMachine, "A", "c", std::nullopt, std::nullopt},
        {kMachine, "A", "d", std::nullopt, std::nullopt},
        {kMachine, "A", "e", std::nullopt, std::nullopt},
        {kMachine, "A", "f", std::nullopt, std::nullopt},
        {kMachine, "A", "h", std::nullopt, "fine"}},
       {"\"a\"=\"bad \\q escape\"", "\"b\"=\"x\" trailing", "\"c\"=\"open", "\"d\"=bare", "\"e\"",
        "\"f\"=", "\"g\\\"=\"unterminated name\""}},
      {"other value types and comments",
       "REGEDIT4\n; kept for the people who edit this\n[HKEY_LOCAL_MACHINE\\A]\n"
       "\"bin\"=hex:01,02,\\\n  03,04\n\"exp\"=hex(2):41,00,00,00\n\"gone\"=-\n"
       "; a comment\n\"n\"=dword:00000007\n",
       {{kMachine, "A", "bin", std::nullopt, std::nullopt},
        {kMachine, "A", "exp", std::nullopt, std::nullopt},
        {kMachine, "A", "n", 7, std::nullopt}},
       {"; kept for the people who edit this", "\"bin\"=hex:01,02,\\", "  03,04",
        "\"exp\"=hex(2):41,00,00,00", "\"gone\"=-", "; a comment"}},
      {"other roots",
       "[HKEY_CLASSES_ROOT\\A]\n\"x\"=dword:00000001\n[HKEY_CURRENT_USER\\A]\n"
       "\"x\"=dword:00000002\n",
       {{kMachine, "A", "x", std::nullopt, std::nullopt}},
       {"[HKEY_CLASSES_ROOT\\A]", "\"x\"=dword:00000001", "[HKEY_CURRENT_USER\\A]",
        "\"x\"=dword:00000002"}},
      {"line ends and byte order mark of another system",
       "\xEF\xBB\xBFREGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"x\"=\"y\"\r\n@=dword:00000003\r\n",
       {{kMachine, "A", "x", std::nullopt, "y"}, {kMachine, "A", "", 3, std::nullopt}},
       {}},
      {"repeated keys and names, later wins",
       "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:00000001\n[hkey_local_machine\\a]\n"
       "\"X\"=dword:00000002\n\"y\"=\"t\"\n",
       {{kMachine, "A", "x", 2, std::nullopt}, {kMachine, "A", "y", std::nullopt, "t"}},
       {}},
      {"separators too many",
       "[HKEY_LOCAL_MACHINE\\Software\\\\Kestrelon\\]\n\"x\"=dword:00000004\n",
       {{kMachine, "Software\\Kestrelon", "x", 4, std::nullopt}},
       {}},
      {"binary garbage, then a key",
       Garbage(8192, 1) + "\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:00000003\n",
       {{kMachine, "A", "x", 3, std::nullopt}},
       {}},
      {"huge lines",
       "[HKEY_LOCAL_MACHINE\\A]\n\"" + huge + "\n\"big\"=\"" + huge + "\"\n\"x\"=dword:00000001\n",
       {{kMachine, "A", "big", std::nullopt, huge}, {kMachine, "A", "x", 1, std::nullopt}},
       {"\"" + huge}},
  };
}

TEST_F(RegistryStoreTest, DamagedFilesAreReadAsFarAsTheyMakeSense) {
  for (const DamagedFile& file : DamagedFiles()) {
    SCOPED_TRACE(file.name);
    WriteWholeFile(storeFile(kMachine), file.content);
    auto expectValues = [&] {
      for (const auto& v : file.values) {
        EXPECT_EQ(QueryNumber(v.hive, v.key, v.name), v.number) << v.key << " " << v.name;
        EXPECT_EQ(QueryText(v.hive, v.key, v.name), v.text) << v.key << " " << v.name;
      }
    };
    expectValues();

    // A write in between keeps what it did not change, and the result reads back the same
    // and stays as it is on the next rewrite.
    ASSERT_TRUE(platform::RegistrySetNumber(kMachine, "Probe", "p", 1));
    expectValues();
    std::string rewritten = ReadWholeFile(storeFile(kMachine));
    EXPECT_TRUE(rewritten.starts_with("REGEDIT4\n\n"));
    for (const std::string& line : file.keptLines) {
      EXPECT_NE(rewritten.find("\n" + line + "\n"), std::string::npos) << line.substr(0, 40);
    }
    ASSERT_TRUE(platform::RegistrySetNumber(kMachine, "Probe", "p", 1));
    EXPECT_EQ(ReadWholeFile(storeFile(kMachine)), rewritten);
    EXPECT_EQ(QueryNumber(kMachine, "Probe", "p"), 1u);
  }
}

TEST_F(RegistryStoreTest, ConcurrentWritersInTwoProcessesLoseNothing) {
  constexpr int kCount = 150;
  const std::string key = "Software\\Kestrelon\\Race";
  ASSERT_TRUE(platform::RegistrySetText(kUser, key, "Anchor", "here"));
  PeerProcess first, second;
  ASSERT_TRUE(first.start({"registry-write-numbers", key, "First", std::to_string(kCount)}));
  ASSERT_TRUE(second.start({"registry-write-numbers", key, "Second", std::to_string(kCount)}));
  ASSERT_TRUE(first.expectLine("writing"));
  ASSERT_TRUE(second.expectLine("writing"));
  // Meanwhile this process reads without taking the lock; a torn file would lose the anchor.
  int reads = 0;
  int misses = 0;
  int firstStatus = -1;
  int secondStatus = -1;
  while (firstStatus < 0 || secondStatus < 0) {
    ++reads;
    if (QueryText(kUser, key, "Anchor") != "here") ++misses;
    if (firstStatus < 0) firstStatus = first.wait(0);
    if (secondStatus < 0) secondStatus = second.wait(0);
  }
  EXPECT_EQ(firstStatus, 0);
  EXPECT_EQ(secondStatus, 0);
  EXPECT_EQ(misses, 0) << "of " << reads << " reads";
  for (int i = 0; i < kCount; ++i) {
    EXPECT_EQ(QueryNumber(kUser, key, "First" + std::to_string(i)), static_cast<uint32_t>(i));
    EXPECT_EQ(QueryNumber(kUser, key, "Second" + std::to_string(i)), static_cast<uint32_t>(i));
  }
}

}  // namespace
