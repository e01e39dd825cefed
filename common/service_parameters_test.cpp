#include "common/service_parameters.h"

#include <gtest/gtest.h>

#include "common/exceptions.h"
#include "common/registry_access.h"
#include "testsupport/temp_registry.h"

namespace kavelo {
namespace {

using platform::REG_BINARY;
using platform::REG_DWORD;
using platform::REG_EXPAND_SZ;
using platform::REG_SZ;
using testsupport::Dword;
using testsupport::KeyOnly;
using testsupport::RawValue;
using testsupport::Sz;
using testsupport::WriteRaw;

const char kParams[] = "SYSTEM\\CurrentControlSet\\Services\\Brelvane\\Parameters";
const char kProduct[] = "SOFTWARE\\KAVELO";

ParameterValues Defaults(const std::string& installDir) {
  ParameterValues v;
  v.printerApplication = installDir + "/PrintService/Ostrevo";
  v.spoolerDirectory = installDir + "/spool";
  return v;
}

template <typename Change>
ParameterValues DefaultsWith(Change change, const std::string& installDir = "/opt/kavelo") {
  ParameterValues v = Defaults(installDir);
  change(&v);
  return v;
}

struct LoadCase {
  const char* what;
  std::vector<RawValue> registry;
  bool loaded;
  ParameterValues expected;
};

class ServiceParametersTest : public ::testing::Test {
 protected:
  testsupport::TempRegistry registry_;
};

TEST_F(ServiceParametersTest, LoadAppliesNamesTypesAndDefaults) {
  const std::string longText(300, 'p');
  LoadCase cases[] = {
      {"empty registry", {}, false, Defaults("/opt/kavelo")},
      {"empty parameters key", {KeyOnly(kParams)}, true, Defaults("/opt/kavelo")},
      {"every value",
       {{kParams, "Port", REG_DWORD, Dword(5000)},
        {kParams, "MaxConnections", REG_DWORD, Dword(20)},
        {kParams, "KeepAlive", REG_DWORD, Dword(0)},
        {kParams, "Timeout", REG_DWORD, Dword(1000)},
        {kParams, "SendBuffer", REG_DWORD, Dword(8192)},
        {kParams, "RecvBuffer", REG_DWORD, Dword(16384)},
        {kParams, "PrinterApplication", REG_SZ, Sz("/usr/bin/Ostrevo")},
        {kParams, "UseDefaultPrinter", REG_DWORD, Dword(0)},
        {kParams, "PrinterName", REG_SZ, Sz("Office")},
        {kParams, "SpoolerDirectory", REG_SZ, Sz("/var/spool/kavelo")}},
       true,
       ParameterValues{5000, 20, 0, 1000, 8192, 16384, "/usr/bin/Ostrevo", 0, "Office",
                       "/var/spool/kavelo"}},
      {"name in another letter case",
       {{kParams, "port", REG_DWORD, Dword(5000)}},
       true,
       Defaults("/opt/kavelo")},
      {"number stored as text",
       {{kParams, "Port", REG_SZ, Sz("5000")}},
       true,
       Defaults("/opt/kavelo")},
      {"text stored as binary",
       {{kParams, "SpoolerDirectory", REG_BINARY, "/x"}},
       true,
       Defaults("/opt/kavelo")},
      {"negative number",
       {{kParams, "Timeout", REG_DWORD, Dword(0xffffffffu)}},
       true,
       DefaultsWith([](ParameterValues* v) { v->timeout = -1; })},
      {"default printer in use: the name is not read",
       {{kParams, "UseDefaultPrinter", REG_DWORD, Dword(1)},
        {kParams, "PrinterName", REG_SZ, Sz("X")}},
       true,
       Defaults("/opt/kavelo")},
      {"own printer without a name",
       {{kParams, "UseDefaultPrinter", REG_DWORD, Dword(0)}},
       true,
       DefaultsWith([](ParameterValues* v) {
         v->useDefaultPrinter = 0;
         v->printerName = "lp0";
       })},
      {"expandable text is taken as it stands",
       {{kParams, "PrinterApplication", REG_EXPAND_SZ, Sz("$HOME/Ostrevo")}},
       true,
       DefaultsWith([](ParameterValues* v) { v->printerApplication = "$HOME/Ostrevo"; })},
      {"text without its NUL, text cut at a NUL",
       {{kParams, "PrinterApplication", REG_SZ, "/bin/app"},
        {kParams, "SpoolerDirectory", REG_SZ, std::string("/sp\0ool", 7)}},
       true,
       DefaultsWith([](ParameterValues* v) {
         v->printerApplication = "/bin/app";
         v->spoolerDirectory = "/sp";
       })},
      {"text longer than the read buffer counts as missing",
       {{kParams, "PrinterApplication", REG_SZ, Sz(longText)}},
       true,
       Defaults("/opt/kavelo")},
      {"255 characters and the NUL still fit",
       {{kParams, "PrinterName", REG_SZ, Sz(std::string(255, 'n'))},
        {kParams, "UseDefaultPrinter", REG_DWORD, Dword(0)}},
       true,
       DefaultsWith([](ParameterValues* v) {
         v->useDefaultPrinter = 0;
         v->printerName = std::string(255, 'n');
       })},
      {"install directory from DirPath",
       {KeyOnly(kParams), {kProduct, "DirPath", REG_SZ, Sz("/srv/kavelo")}},
       true,
       Defaults("/srv/kavelo")},
      {"unexpanded REG_EXPAND_SZ DirPath",
       {{kProduct, "DirPath", REG_EXPAND_SZ, Sz("${PREFIX}/kavelo")}},
       false,
       Defaults("${PREFIX}/kavelo")},
      {"empty DirPath", {{kProduct, "DirPath", REG_SZ, Sz("")}}, false, Defaults("")},
      {"product key without DirPath", {KeyOnly(kProduct)}, false, Defaults("/opt/kavelo")},
      {"DirPath in another letter case",
       {{kProduct, "dirpath", REG_SZ, Sz("/x")}},
       false,
       Defaults("/opt/kavelo")},
  };
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::TempRegistry fresh;
    ASSERT_EQ(WriteRaw(c.registry), platform::kErrorSuccess);
    ServiceParameters parameters;
    parameters.Bind("Brelvane", platform::Hive::kLocalMachine);
    EXPECT_EQ(parameters.Load(), c.loaded);
    const ParameterValues& v = parameters.values();
    EXPECT_EQ(v.port, c.expected.port);
    EXPECT_EQ(v.maxConnections, c.expected.maxConnections);
    EXPECT_EQ(v.keepAlive, c.expected.keepAlive);
    EXPECT_EQ(v.timeout, c.expected.timeout);
    EXPECT_EQ(v.sendBuffer, c.expected.sendBuffer);
    EXPECT_EQ(v.recvBuffer, c.expected.recvBuffer);
    EXPECT_EQ(v.printerApplication, c.expected.printerApplication);
    EXPECT_EQ(v.useDefaultPrinter, c.expected.useDefaultPrinter);
    EXPECT_EQ(v.printerName, c.expected.printerName);
    EXPECT_EQ(v.spoolerDirectory, c.expected.spoolerDirectory);
  }
}

TEST_F(ServiceParametersTest, ConstructionBindingAndMissingKey) {
  ServiceParameters parameters;
  EXPECT_EQ(parameters.values().port, 4000);
  EXPECT_EQ(parameters.values().printerApplication, "PrintService/Ostrevo");
  EXPECT_EQ(parameters.values().spoolerDirectory, "spool");
  EXPECT_EQ(parameters.values().printerName, "");
  EXPECT_THROW(parameters.Bind(static_cast<const char*>(nullptr), platform::Hive::kLocalMachine),
               NullPointerException);
  EXPECT_THROW(parameters.Bind("", platform::Hive::kLocalMachine), IllegalArgumentException);
  EXPECT_EQ(parameters.serviceName(), "");

  parameters.Bind("Brelvane", platform::Hive::kLocalMachine);
  EXPECT_EQ(parameters.ParametersKeyPath(), "SYSTEM\\CurrentControlSet\\Services\\Brelvane");
  // Without the key only the two paths change; other fields keep their values.
  ParameterValues edited = parameters.values();
  edited.port = 1;
  edited.printerName = "kept";
  parameters.set_values(edited);
  EXPECT_FALSE(parameters.Load());
  EXPECT_EQ(parameters.values().port, 1);
  EXPECT_EQ(parameters.values().printerName, "kept");
  EXPECT_EQ(parameters.values().printerApplication, "/opt/kavelo/PrintService/Ostrevo");
}

TEST_F(ServiceParametersTest, DefaultsFollowTheInstallDirectoryOnEveryCall) {
  ServiceParameters parameters;
  parameters.Bind("Brelvane", platform::Hive::kLocalMachine);
  EXPECT_EQ(parameters.ReadInstallDirectory(), "/opt/kavelo");
  ASSERT_EQ(WriteRaw({{kProduct, "DirPath", REG_SZ, Sz("/srv/k")}}), platform::kErrorSuccess);
  EXPECT_EQ(parameters.DefaultPrinterApplication(), "/srv/k/PrintService/Ostrevo");
  EXPECT_EQ(parameters.DefaultSpoolerDirectory(), "/srv/k/spool");
  ParameterValues defaults = parameters.GetDefaults();
  EXPECT_EQ(defaults, Defaults("/srv/k"));
  // GetDefaults never touches the parameters key.
  RegistryAccess services(platform::Hive::kLocalMachine, parameters.ParametersKeyPath());
  EXPECT_FALSE(services.KeyExists("Parameters"));
}

TEST_F(ServiceParametersTest, SaveWritesEveryValueInOrderAndType) {
  ServiceParameters parameters;
  parameters.Bind("Brelvane", platform::Hive::kLocalMachine);
  ParameterValues values{4001, 11, 0, 2000, 1024, 2048, "/a/Ostrevo", 1, "Typed", "/sp"};
  parameters.set_values(values);
  parameters.Save();

  platform::RegKey key;
  ASSERT_EQ(platform::RegOpenKey(platform::Hive::kLocalMachine, kParams, platform::KEY_READ, &key),
            platform::kErrorSuccess);
  struct Expected {
    const char* name;
    uint32_t type;
    std::string data;
  } expected[] = {
      {"Port", REG_DWORD, Dword(4001)},
      {"MaxConnections", REG_DWORD, Dword(11)},
      {"KeepAlive", REG_DWORD, Dword(0)},
      {"Timeout", REG_DWORD, Dword(2000)},
      {"SendBuffer", REG_DWORD, Dword(1024)},
      {"RecvBuffer", REG_DWORD, Dword(2048)},
      {"PrinterApplication", REG_SZ, Sz("/a/Ostrevo")},
      {"UseDefaultPrinter", REG_DWORD, Dword(1)},
      {"PrinterName", REG_SZ, Sz("Typed")},
      {"SpoolerDirectory", REG_SZ, Sz("/sp")},
  };
  uint32_t index = 0;
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.name);
    char name[64];
    uint8_t data[64];
    uint32_t nameLength = sizeof(name), dataLength = sizeof(data), type = 0;
    ASSERT_EQ(platform::RegEnumValue(key, index++, name, &nameLength, &type, data, &dataLength),
              platform::kErrorSuccess);
    EXPECT_STREQ(name, e.name);
    EXPECT_EQ(type, e.type);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), dataLength), e.data);
  }

  // The typed name stays stored but is not loaded while the default printer
  // is in use.
  ServiceParameters reloaded;
  reloaded.Bind("Brelvane", platform::Hive::kLocalMachine);
  EXPECT_TRUE(reloaded.Load());
  values.printerName = "";
  EXPECT_EQ(reloaded.values(), values);
  values.useDefaultPrinter = 0;
  reloaded.set_values(values);
  reloaded.Save();
  ServiceParameters third;
  third.Bind("Brelvane", platform::Hive::kLocalMachine);
  third.Load();
  EXPECT_EQ(third.values().printerName, "");
  EXPECT_EQ(third.values().useDefaultPrinter, 0);
}

}  // namespace
}  // namespace kavelo
