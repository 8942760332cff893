#include "shared/registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/registry/files.h"
#include "tests/support/isolation.h"

using platform::RegistryHive;

namespace {

class RegistryTest : public IsolatedTest {
 protected:
  RegistryRoot viewer_ =
      MakeRegistryRoot(RegistryHive::kCurrentUser, "Software\\Kestrelon\\Ventolog\\");
  RegistryRoot library_ = MakeRegistryRoot(RegistryHive::kLocalMachine, "Software\\Kestrelon\\");
};

TEST_F(RegistryTest, MissingTextIsStoredAndReturnedThenTheStoredOneWins) {
  char text[kRegistryTextLength];
  RegReadText(&library_, "Setup", "WGServer", "/opt/whorlgate/bin/WGServer", text);
  EXPECT_STREQ(text, "/opt/whorlgate/bin/WGServer");
  EXPECT_EQ(ReadWholeFile(platform::RegistryStorePath(RegistryHive::kLocalMachine)),
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\Setup]\n"
            "\"WGServer\"=\"/opt/whorlgate/bin/WGServer\"\n\n");
  RegReadText(&library_, "Setup", "WGServer", "/elsewhere/WGServer", text);
  EXPECT_STREQ(text, "/opt/whorlgate/bin/WGServer");
  RegWriteText(&library_, "Setup", "WGServer", "/usr/bin/WGServer");
  RegReadText(&library_, "Setup", "WGServer", "/elsewhere/WGServer", text);
  EXPECT_STREQ(text, "/usr/bin/WGServer");
}

TEST_F(RegistryTest, NumberOnAKeyThatDoesNotExistCreatesTheKey) {
  EXPECT_EQ(RegReadNumber(&viewer_, "Filter Setup", "Where", 0x80000000u), 0x80000000u);
  EXPECT_EQ(ReadWholeFile(platform::RegistryStorePath(RegistryHive::kCurrentUser)),
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Kestrelon\\Ventolog\\Filter Setup]\n"
            "\"Where\"=dword:80000000\n\n");
  EXPECT_EQ(RegReadNumber(&viewer_, "Filter Setup", "Where", 1), 0x80000000u);
  RegWriteNumber(&viewer_, "Filter Setup", "Where", 0xFFFFFFFFu);
  EXPECT_EQ(RegReadNumber(&viewer_, "Filter Setup", "Where", 1), 0xFFFFFFFFu);
}

TEST_F(RegistryTest, PrefixAndSubkeyJoinIntoOneKeyPath) {
  struct Case {
    const char* prefix;
    const char* subkey;
    const char* key;
  };
  const Case cases[] = {
      {"Software\\Kestrelon\\Ventolog\\", "Options", "Software\\Kestrelon\\Ventolog\\Options"},
      {"Software\\Kestrelon\\Ventolog", "Options", "Software\\Kestrelon\\Ventolog\\Options"},
      {"Software\\Kestrelon\\", "Ventolog\\Frame Layout",
       "Software\\Kestrelon\\Ventolog\\Frame Layout"},
      {"Software\\Kestrelon\\Ventolog\\", "", "Software\\Kestrelon\\Ventolog"},
      {"Software\\Kestrelon\\Ventolog\\", nullptr, "Software\\Kestrelon\\Ventolog"},
      {"", "Options", "Options"},
  };
  uint32_t number = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    RegistryRoot root = MakeRegistryRoot(RegistryHive::kCurrentUser, c.prefix);
    RegWriteNumber(&root, c.subkey, "Value", ++number);
    uint32_t stored = 0;
    EXPECT_TRUE(platform::RegistryQueryNumber(RegistryHive::kCurrentUser, c.key, "Value", &stored));
    EXPECT_EQ(stored, number);
    EXPECT_EQ(RegReadNumber(&root, c.subkey, "Value", 0), number);
  }
}

TEST_F(RegistryTest, LongTextsAreCutWithoutHarmToTheStoredOne) {
  const std::string longText(300, 'x');
  RegWriteText(&viewer_, "Options", "Log File", longText.c_str());
  char text[kRegistryTextLength + 1];
  std::memset(text, '#', sizeof text);
  RegReadText(&viewer_, "Options", "Log File", "default.log", text);
  EXPECT_EQ(std::string(text), longText.substr(0, kRegistryTextLength - 1));
  EXPECT_EQ(text[kRegistryTextLength], '#') << "wrote past the output";
  std::string stored;
  ASSERT_TRUE(platform::RegistryQueryText(
      RegistryHive::kCurrentUser, "Software\\Kestrelon\\Ventolog\\Options", "Log File", &stored));
  EXPECT_EQ(stored, longText) << "a long value is not the default's to replace";

  // A cut never splits a character: 258 letters and a two-byte one do not fit in 259.
  const std::string accented = std::string(258, 'a') + "\xC3\xA9" + "b";
  RegWriteText(&viewer_, "Options", "Accented", accented.c_str());
  RegReadText(&viewer_, "Options", "Accented", "", text);
  EXPECT_EQ(std::string(text), std::string(258, 'a'));
}

TEST_F(RegistryTest, DefaultValueAndMissingArgumentsAreHandled) {
  // No name is the key's default value, as in the registry itself.
  RegWriteText(&viewer_, "Options", nullptr, "unnamed");
  EXPECT_NE(ReadWholeFile(platform::RegistryStorePath(RegistryHive::kCurrentUser))
                .find("\n@=\"unnamed\"\n"),
            std::string::npos);
  char text[kRegistryTextLength];
  RegReadText(&viewer_, "Options", "", nullptr, text);
  EXPECT_STREQ(text, "unnamed");
  RegReadText(nullptr, "Options", "x", "fallback", text);
  EXPECT_STREQ(text, "fallback");
  EXPECT_EQ(RegReadNumber(nullptr, "Options", "x", 42), 42u);
  RegReadText(&viewer_, "Options", "Stored Anyway", "kept", nullptr);
  RegReadText(&viewer_, "Options", "Stored Anyway", "other", text);
  EXPECT_STREQ(text, "kept");
}

}  // namespace
