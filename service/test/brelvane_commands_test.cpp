// The command table of the real Brelvane program, run as a child process
// against a private registry folder.
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "service/test/brelvane_harness.h"

namespace kavelo::testsupport {
namespace {

constexpr const char* kServiceKey = "SYSTEM\\CurrentControlSet\\Services\\Brelvane";
constexpr const char* kSourceKey =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Brelvane";

std::string Text(const std::string& text) { return text + std::string(1, '\0'); }

std::string ProgramPath() { return std::filesystem::canonical(BinPath("Brelvane")).string(); }

TEST(BrelvaneCommandsTest, RegServerCreatesTheServiceAndTheEventSourceOnce) {
  BrelvaneWorld world;
  RunResult first = RunBrelvane(world, {"-RegServer"});
  EXPECT_EQ(first.exitCode, 0);
  EXPECT_EQ(first.output, "Brelvane registered\n\n");

  struct Dword {
    const char* key;
    const char* name;
    uint32_t value;
  } dwords[] = {
      {kServiceKey, "Type", 0x10},
      {kServiceKey, "Start", 3},
      {kServiceKey, "ErrorControl", 1},
      {kSourceKey, "TypesSupported", 7},
  };
  for (const Dword& row : dwords) {
    bool found = false;
    EXPECT_EQ(ReadDwordValue(row.key, row.name, &found), row.value) << row.name;
    EXPECT_TRUE(found) << row.name;
  }
  struct Texts {
    const char* key;
    const char* name;
    std::string value;
  } texts[] = {
      {kServiceKey, "ObjectName", Text("LocalSystem")},
      {kServiceKey, "DisplayName", Text("KAVELO - Brelvane")},
      {kServiceKey, "ImagePath", Text(ProgramPath())},
      {kSourceKey, "EventMessageFile", Text(ProgramPath())},
  };
  for (const Texts& row : texts) {
    bool found = false;
    EXPECT_EQ(ReadTextValue(row.key, row.name, &found), row.value) << row.name;
  }
  // No "RPCSS" service is installed, so there is no dependency.
  bool found = true;
  ReadTextValue(kServiceKey, "DependOnService", &found);
  EXPECT_FALSE(found);

  // The unit runs the program as a notify service with this world's
  // settings; a LocalSystem service gets no User line.
  std::string unit = ReadFile(world.unitDir() + "/brelvane.service");
  EXPECT_NE(unit.find("Type=notify\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("ExecStart=\"" + ProgramPath() + "\"\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("Environment=\"KAVELO_REGISTRY_DIR=" + world.registryDir() + "\"\n"),
            std::string::npos)
      << unit;
  EXPECT_EQ(unit.find("User="), std::string::npos) << unit;

  // A second RegServer does not create the service again (the start type
  // changed meanwhile stays), but makes the registrations again: the
  // dependency on an "RPCSS" service that now exists, the unit's account.
  WriteDwordValue(kServiceKey, "Start", 2);
  WriteTextValue(kServiceKey, "ObjectName", "printsvc");
  WriteTextValue("SYSTEM\\CurrentControlSet\\Services\\RPCSS", "ImagePath", "/usr/sbin/rpcss");
  RunResult second = RunBrelvane(world, {"-RegServer"});
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_EQ(second.output, "Brelvane registered\n\n");
  EXPECT_EQ(ReadDwordValue(kServiceKey, "Start", &found), 2u);
  EXPECT_EQ(ReadTextValue(kServiceKey, "DependOnService", &found), std::string("RPCSS\0\0", 7));
  EXPECT_NE(ReadFile(world.unitDir() + "/brelvane.service").find("User=printsvc\n"),
            std::string::npos);
}

TEST(BrelvaneCommandsTest, UnregServerRemovesTheServiceAndTheEventSource) {
  BrelvaneWorld world;
  ASSERT_EQ(RunBrelvane(world, {"-RegServer"}).exitCode, 0);
  WriteTextValue(std::string(kServiceKey) + "\\Parameters", "SpoolerDirectory", "/tmp");
  ASSERT_TRUE(KeyExists(kSourceKey));

  RunResult result = RunBrelvane(world, {"/UnregServer"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output, "Brelvane unregistered\n\n");
  EXPECT_FALSE(KeyExists(kServiceKey));
  EXPECT_FALSE(KeyExists(kSourceKey));
  EXPECT_FALSE(std::filesystem::exists(world.unitDir() + "/brelvane.service"));

  // Nothing left to remove is no failure.
  result = RunBrelvane(world, {"-unregserver"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output, "Brelvane unregistered\n\n");
}

TEST(BrelvaneCommandsTest, RegServerAndUnregServerFailWhenTheRegistryCannotBeWritten) {
  BrelvaneWorld world;
  // A registry folder below a plain file cannot be made, not even by root.
  std::string blocker = world.root() + "/blocker";
  WriteFile(blocker, "x");
  std::vector<std::string> environment;
  for (const std::string& pair : world.Environment(false)) {
    if (pair.rfind("KAVELO_REGISTRY_DIR=", 0) != 0) environment.push_back(pair);
  }
  environment.push_back("KAVELO_REGISTRY_DIR=" + blocker + "/registry");
  struct Row {
    const char* command;
    const char* output;
  } rows[] = {
      {"-RegServer", "Brelvane failed to register. Error "},
      {"-UnregServer", "Brelvane unregistered\n\n"},  // nothing installed: nothing to fail
  };
  for (const Row& row : rows) {
    Child child;
    ASSERT_TRUE(child.Start(BinPath("Brelvane"), {"Brelvane", row.command}, environment));
    int exitCode = -1;
    ASSERT_TRUE(child.Wait(20000, &exitCode));
    EXPECT_EQ(child.output().rfind(row.output, 0), 0u) << child.output();
    EXPECT_EQ(exitCode, row.output[9] == 'f' ? 1 : 0) << row.command;
  }
}

TEST(BrelvaneCommandsTest, OutputsOfTheCommandTable) {
  BrelvaneWorld world;
  const std::string usage =
      "Brelvane\t[RegServer]\n\t\t[UnregServer]\n\t\t[Version]\n\t\t[Hint HintTime]\n"
      "\t\t[Help]\n";
  const std::string notInstalled =
      "Brelvane Version 1.0.0\nThis service is currently not installed\n";
  struct Row {
    std::vector<std::string> args;
    std::string output;
  } rows[] = {
      {{"-Version"}, notInstalled},
      {{"-?"}, usage},
      {{"/HELP"}, usage},
      {{"--help"}, usage},
      // Tokens are compared whole: "RegServer " (with its blank) is no
      // command, so only Version acts.
      {{"/RegServer", "/Version"}, notInstalled},
      {{"-Version", "-?"}, usage},  // "Version " ends in a blank: no command
      {{"-Bogus"}, ""},
      {{"RegServerX"}, ""},
  };
  for (const Row& row : rows) {
    RunResult result = RunBrelvane(world, row.args);
    EXPECT_EQ(result.exitCode, 0) << row.args[0];
    EXPECT_EQ(result.output, row.output) << row.args[0];
    EXPECT_FALSE(KeyExists(kServiceKey)) << row.args[0];
    EXPECT_TRUE(world.EventIds().empty()) << row.args[0];  // the service never ran
  }
  ASSERT_EQ(RunBrelvane(world, {"-RegServer"}).exitCode, 0);
  EXPECT_EQ(RunBrelvane(world, {"-Version"}).output,
            "Brelvane Version 1.0.0\nThis service is currently installed\n");
}

TEST(BrelvaneCommandsTest, HintRunsTheServiceAfterTheOtherCommands) {
  BrelvaneWorld world;
  // Not installed: the service runs, finds no account and does not start.
  RunResult result = RunBrelvane(world, {"-Hint", "90000", "-Version"});
  EXPECT_EQ(result.output, "Brelvane Version 1.0.0\nThis service is currently not installed\n");
  EXPECT_EQ(world.EventIds(), (std::vector<int>{12, 2}));
  EXPECT_EQ(result.exitCode, 1);  // the start failed
}

}  // namespace
}  // namespace kavelo::testsupport
