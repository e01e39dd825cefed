#include "tools/reg_command.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "testsupport/child_process.h"
#include "testsupport/temp_registry.h"

namespace kavelo::tools {
namespace {

using platform::Hive;

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

TEST(RegCommandParse, AcceptsTheRegSyntaxAndRejectsTheRest) {
  struct Case {
    std::vector<std::string> args;
    bool ok;
    const char* error;  // when not ok
  } cases[] = {
      {{"query", "HKLM\\SOFTWARE\\KAVELO"}, true, ""},
      {{"QUERY", "hkey_local_machine\\x", "/s"}, true, ""},
      {{"query", "HKCU", "-v", "Port"}, true, ""},
      {{"query", "HKLM\\x", "/ve", "/S"}, true, ""},
      {{"add", "HKLM\\x", "/v", "P", "/t", "REG_DWORD", "/d", "1", "/f"}, true, ""},
      {{"add", "HKLM\\x", "-ve", "-d", "-5"}, true, ""},
      {{"add", "HKLM\\x"}, true, ""},
      {{"delete", "HKLM\\x", "/va", "/f"}, true, ""},
      {{"--help"}, true, ""},
      {{"query", "/?"}, true, ""},
      {{}, false, "Invalid syntax."},
      {{"copy", "HKLM\\x"}, false, "Invalid syntax."},
      {{"query"}, false, "Invalid syntax."},
      {{"query", "/v", "x"}, false, "Invalid syntax."},
      {{"query", "HKCR\\x"}, false, "Invalid key name."},
      {{"query", "\\\\host\\HKLM\\x"}, false, "Invalid key name."},
      {{"query", "HKLM\\x", "/v"}, false, "Invalid syntax."},
      {{"query", "HKLM\\x", "/v", "a", "/ve"}, false, "Invalid syntax."},
      {{"query", "HKLM\\x", "/v", "a", "/v", "b"}, false, "Invalid syntax."},
      {{"query", "HKLM\\x", "/f"}, false, "Invalid syntax."},
      {{"query", "HKLM\\x", "extra"}, false, "Invalid syntax."},
      {{"add", "HKLM\\x", "/v", "a", "/t", "REG_LINK"}, false, "Invalid syntax."},
      {{"add", "HKLM\\x", "/d", "data"}, false, "Invalid syntax."},
      {{"add", "HKLM\\x", "/v", "a", "/s", "ab"}, false, "Invalid syntax."},
      {{"add", "HKLM\\x", "/va"}, false, "Invalid syntax."},
      {{"delete", "HKLM\\x", "/v", "a", "/va"}, false, "Invalid syntax."},
      {{"delete", "HKLM\\x", "/s"}, false, "Invalid syntax."},
      {{"--user", "kavelo", "query", "HKCU\\x"}, true, ""},
      {{"--user=kavelo", "add", "HKCU\\x", "/f"}, true, ""},
      {{"--user"}, false, "Invalid syntax."},
      {{"--user="}, false, "Invalid syntax."},
      {{"--user", "kavelo"}, false, "Invalid syntax."},
      {{"--user", "a", "--user", "b", "query", "HKCU"}, false, "Invalid syntax."},
      {{"query", "HKCU", "--user", "a"}, false, "Invalid syntax."},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    RegCommand command;
    std::string error;
    EXPECT_EQ(ParseRegCommand(c.args, &command, &error), c.ok);
    if (!c.ok) {
      EXPECT_EQ(error, c.error);
    }
  }

  RegCommand command;
  std::string error;
  ASSERT_TRUE(ParseRegCommand({"add", "HKCU\\Software\\K\\", "-V", "Name", "/T", "reg_multi_sz",
                               "/S", "#", "/D", "a#b", "-F"},
                              &command, &error));
  EXPECT_EQ(command.operation, RegCommand::Operation::kAdd);
  EXPECT_EQ(command.hive, Hive::kCurrentUser);
  EXPECT_EQ(command.keyName, "HKEY_CURRENT_USER\\Software\\K");
  EXPECT_EQ(command.path, "Software\\K");
  EXPECT_TRUE(command.hasValueName);
  EXPECT_EQ(command.valueName, "Name");
  EXPECT_EQ(command.type, platform::REG_MULTI_SZ);
  EXPECT_EQ(command.separator, '#');
  EXPECT_EQ(command.data, "a#b");
  EXPECT_TRUE(command.force);
  EXPECT_EQ(command.user, "");
  ASSERT_TRUE(ParseRegCommand({"--user", "kavelo", "query", "HKCU\\Software"}, &command, &error));
  EXPECT_EQ(command.user, "kavelo");
  EXPECT_EQ(command.operation, RegCommand::Operation::kQuery);
}

TEST(RegCommandData, EncodesAndFormatsEachType) {
  struct Case {
    uint32_t type;
    std::string input;
    char separator;
    bool ok;
    std::string bytes;
    std::string shown;
  } cases[] = {
      {platform::REG_SZ, "C:/x y", '\0', true, std::string("C:/x y\0", 7), "C:/x y"},
      {platform::REG_SZ, "", '\0', true, std::string(1, '\0'), ""},
      {platform::REG_EXPAND_SZ, "$HOME", '\0', true, std::string("$HOME\0", 6), "$HOME"},
      {platform::REG_DWORD, "4000", '\0', true, std::string("\xa0\x0f\0\0", 4), "0xfa0"},
      {platform::REG_DWORD, "0x1F", '\0', true, std::string("\x1f\0\0\0", 4), "0x1f"},
      {platform::REG_DWORD, "", '\0', true, std::string(4, '\0'), "0x0"},
      {platform::REG_DWORD, "-1", '\0', true, std::string(4, '\xff'), "0xffffffff"},
      {platform::REG_DWORD, "4294967296", '\0', false, "", ""},
      {platform::REG_DWORD, "12abc", '\0', false, "", ""},
      {platform::REG_DWORD, "0x", '\0', false, "", ""},
      {platform::REG_QWORD, "0x100000000", '\0', true, std::string("\0\0\0\0\1\0\0\0", 8),
       "0x100000000"},
      {platform::REG_MULTI_SZ, "a\\0bc", '\0', true, std::string("a\0bc\0\0", 6), "a\\0bc"},
      {platform::REG_MULTI_SZ, "a#b", '#', true, std::string("a\0b\0\0", 5), "a\\0b"},
      {platform::REG_MULTI_SZ, "", '\0', true, std::string(1, '\0'), ""},
      {platform::REG_MULTI_SZ, "a\\0\\0b", '\0', false, "", ""},
      {platform::REG_BINARY, "00ff1A", '\0', true, std::string("\0\xff\x1a", 3), "00FF1A"},
      {platform::REG_BINARY, "abc", '\0', false, "", ""},
      {platform::REG_BINARY, "zz", '\0', false, "", ""},
      {platform::REG_NONE, "", '\0', true, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(platform::RegTypeName(c.type)) + " " + c.input);
    std::vector<uint8_t> bytes;
    EXPECT_EQ(EncodeValueData(c.type, c.input, c.separator, &bytes), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.bytes);
    EXPECT_EQ(FormatValueData(c.type, bytes), c.shown);
  }
  // Stored data of a wrong width shows as bytes rather than as a number.
  EXPECT_EQ(FormatValueData(platform::REG_DWORD, Bytes("\x01\x02")), "0102");
  EXPECT_EQ(FormatValueLine("", platform::REG_SZ, Bytes(std::string("v\0", 2))),
            "    (Default)    REG_SZ    v");
}

class RegCommandRun : public ::testing::Test {
 protected:
  int Run(const std::vector<std::string>& args, const std::string& input = "") {
    out_.str("");
    err_.str("");
    std::istringstream in(input);
    return RegMain(args, out_, err_, in);
  }

  testsupport::TempRegistry registry_;
  std::ostringstream out_, err_;
};

TEST_F(RegCommandRun, AddQueryDeleteRoundTrip) {
  const std::string key = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Brelvane";
  struct Step {
    std::vector<std::string> args;
    std::string input;
    int exit;
    std::string out;
    std::string err;
  } steps[] = {
      {{"query", key},
       "",
       1,
       "",
       "ERROR: The system was unable to find the specified registry key or value.\n"},
      {{"add", key, "/v", "ImagePath", "/t", "REG_EXPAND_SZ", "/d", "/opt/kavelo/Brelvane"},
       "",
       0,
       "The operation completed successfully.\n",
       ""},
      {{"add", key, "/v", "Start", "/t", "REG_DWORD", "/d", "2"},
       "",
       0,
       "The operation completed successfully.\n",
       ""},
      {{"add", key + "\\Parameters", "/v", "Port", "/t", "REG_DWORD", "/d", "4000"},
       "",
       0,
       "The operation completed successfully.\n",
       ""},
      {{"add", key, "/v", "start", "/t", "REG_DWORD", "/d", "3"},
       "n\n",
       1,
       "Value start exists, overwrite (Yes/No)? The operation was canceled by the user.\n",
       ""},
      {{"add", key, "/v", "start", "/t", "REG_DWORD", "/d", "3"},
       "yes\n",
       0,
       "Value start exists, overwrite (Yes/No)? The operation completed successfully.\n",
       ""},
      {{"query", key},
       "",
       0,
       "\nHKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Brelvane\n"
       "    ImagePath    REG_EXPAND_SZ    /opt/kavelo/Brelvane\n"
       "    Start    REG_DWORD    0x3\n"
       "\n"
       "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Brelvane\\Parameters\n",
       ""},
      {{"query", "hklm\\system\\currentcontrolset\\services", "/s"},
       "",
       0,
       "\nHKEY_LOCAL_MACHINE\\system\\currentcontrolset\\services\n"
       "\n"
       "HKEY_LOCAL_MACHINE\\system\\currentcontrolset\\services\\Brelvane\n"
       "    ImagePath    REG_EXPAND_SZ    /opt/kavelo/Brelvane\n"
       "    Start    REG_DWORD    0x3\n"
       "\n"
       "HKEY_LOCAL_MACHINE\\system\\currentcontrolset\\services\\Brelvane\\Parameters\n"
       "    Port    REG_DWORD    0xfa0\n"
       "\n",
       ""},
      {{"query", key, "/v", "IMAGEPATH"},
       "",
       0,
       "\nHKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Brelvane\n"
       "    ImagePath    REG_EXPAND_SZ    /opt/kavelo/Brelvane\n\n",
       ""},
      {{"query", key, "/ve"},
       "",
       0,
       "\nHKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Brelvane\n"
       "    (Default)    REG_SZ    (value not set)\n\n",
       ""},
      {{"query", key, "/v", "Missing"},
       "",
       1,
       "\n",
       "ERROR: The system was unable to find the specified registry key or value.\n"},
      {{"query", "HKLM", "/v", "Port", "/s"},
       "",
       0,
       "\nHKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Brelvane\\Parameters\n"
       "    Port    REG_DWORD    0xfa0\n"
       "\n"
       "End of search: 1 match(es) found.\n",
       ""},
      {{"delete", key, "/v", "Start"},
       "",
       1,
       "Delete the registry value Start (Yes/No)? \nThe operation was canceled by the user.\n",
       ""},
      {{"delete", key, "/v", "Start", "/f"}, "", 0, "The operation completed successfully.\n", ""},
      {{"delete", key, "/v", "Start", "/f"},
       "",
       1,
       "",
       "ERROR: The system was unable to find the specified registry key or value.\n"},
      {{"delete", key, "/va", "/f"}, "", 0, "The operation completed successfully.\n", ""},
      {{"query", key},
       "",
       0,
       "\nHKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Brelvane\n"
       "\n"
       "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Brelvane\\Parameters\n",
       ""},
      {{"delete", key},
       "y\n",
       0,
       "Permanently delete the registry key "
       "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Brelvane (Yes/No)? "
       "The operation completed successfully.\n",
       ""},
      {{"query", key + "\\Parameters"},
       "",
       1,
       "",
       "ERROR: The system was unable to find the specified registry key or value.\n"},
      {{"delete", "HKLM", "/f"}, "", 1, "", "ERROR: Access is denied.\n"},
  };
  for (const Step& step : steps) {
    std::string joined;
    for (const std::string& a : step.args) joined += a + " ";
    SCOPED_TRACE(joined);
    EXPECT_EQ(Run(step.args, step.input), step.exit);
    EXPECT_EQ(out_.str(), step.out);
    EXPECT_EQ(err_.str(), step.err);
  }
}

TEST_F(RegCommandRun, ProgramPrintsUsageAndExitCodes) {
  const std::string program = std::string(KAVELO_BIN_DIR) + "/kavelo-reg";
  std::string out, err;
  EXPECT_EQ(testsupport::RunProgram({program, "--help"}, "", &out, &err), 0);
  EXPECT_NE(out.find("Usage:"), std::string::npos);
  EXPECT_EQ(testsupport::RunProgram({program}, "", &out, &err), 1);
  EXPECT_EQ(err.rfind("ERROR: Invalid syntax.\nUsage:", 0), 0u) << err;
  EXPECT_EQ(testsupport::RunProgram({program, "query", "HKXX\\a"}, "", &out, &err), 1);
  EXPECT_EQ(err.rfind("ERROR: Invalid key name.\n", 0), 0u) << err;
  EXPECT_EQ(testsupport::RunProgram({program, "add", "HKCU\\Software\\K", "-v", "D", "-t",
                                     "REG_DWORD", "-d", "0x10", "-f"},
                                    "", &out, &err),
            0);
  EXPECT_EQ(
      testsupport::RunProgram({program, "query", "HKEY_CURRENT_USER\\Software\\K"}, "", &out, &err),
      0);
  EXPECT_EQ(out, "\nHKEY_CURRENT_USER\\Software\\K\n    D    REG_DWORD    0x10\n\n");
  // A corrupt hive is a failure with its reason, not a crash.
  std::ofstream(registry_.MachineHive(), std::ios::binary) << std::string(4096, 'x');
  EXPECT_EQ(testsupport::RunProgram({program, "query", "HKLM\\Software"}, "", &out, &err), 1);
  EXPECT_EQ(err, "ERROR: The data is invalid.\n");
}

// --user writes the named account's own HKCU hive, as that account; no one
// but root may use it.
TEST_F(RegCommandRun, ProgramEditsAnotherAccountsHiveOnlyForRoot) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run as another account";
  struct passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  ASSERT_EQ(chmod(registry_.dir().c_str(), 0777), 0);
  const std::string program = std::string(KAVELO_BIN_DIR) + "/kavelo-reg";
  const std::string key = "HKCU\\Software\\KAVELO\\SELKOINIT\\PRINTERSETTING\\ReportDefault\\R";
  std::string out, err;
  ASSERT_EQ(testsupport::RunProgram(
                {program, "--user", "nobody", "add", key, "/v", "FontSize", "/d", "9", "/f"}, "",
                &out, &err),
            0)
      << err;
  struct stat hive {};
  ASSERT_EQ(stat((registry_.dir() + "/HKEY_CURRENT_USER.nobody.db").c_str(), &hive), 0);
  EXPECT_EQ(hive.st_uid, nobody->pw_uid);
  EXPECT_EQ(testsupport::RunProgram({program, "--user=nobody", "query", key}, "", &out, &err), 0);
  EXPECT_NE(out.find("FontSize    REG_SZ    9"), std::string::npos) << out;
  // Root's own HKCU does not hold it.
  EXPECT_EQ(testsupport::RunProgram({program, "query", key}, "", &out, &err), 1);

  struct Case {
    std::vector<std::string> args;
    const char* err;
  } refused[] = {
      {{"setpriv", "--reuid=nobody", "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups",
        program, "--user", "root", "query", "HKCU"},
       "ERROR: Only root may use --user.\n"},
      {{program, "--user", "no-such-account-kavelo", "query", "HKCU"},
       "ERROR: There is no account named no-such-account-kavelo.\n"},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.err);
    EXPECT_EQ(testsupport::RunProgram(c.args, "", &out, &err), 1);
    EXPECT_EQ(err, c.err);
  }
}

}  // namespace
}  // namespace kavelo::tools
