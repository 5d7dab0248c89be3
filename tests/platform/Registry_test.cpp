#include "platform/Registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "support/TestSupport.h"

namespace {

using testsupport::MessageOf;

// Points the settings root at a private temporary folder.
class RegistryTest : public ::testing::Test {
protected:
  std::string FileText(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  testsupport::SettingsRoot FDir;
};

TEST_F(RegistryTest, ValuesRoundTripByKeySectionAndName) {
  TRegIniFile reg("Software\\Apps\\Planner");
  EXPECT_EQ(reg.ReadString("Settings", "LastUser", "none"), "none");
  EXPECT_FALSE(reg.ValueExists("Settings", "LastUser"));
  reg.WriteString("Settings", "LastUser", "SYSDBA");
  reg.WriteString("Settings", "Database", "<empty>");
  reg.WriteInteger("Security", "Level", 2);
  TRegIniFile again("software\\apps\\PLANNER");  // names are case-insensitive
  EXPECT_EQ(again.ReadString("settings", "lastuser", ""), "SYSDBA");
  EXPECT_EQ(again.ReadString("Settings", "Database", ""), "<empty>");
  EXPECT_EQ(again.ReadInteger("Security", "Level", -1), 2);
  EXPECT_EQ(reg.GetPath(), FDir.Path() + "/software/apps/planner.ini");
  // The key's own values live in the empty section, at the top of the file.
  reg.WriteString("", "Default", "own");
  EXPECT_EQ(FileText(reg.GetPath()),
            "Default=own\n\n[Settings]\nLastUser=SYSDBA\nDatabase=<empty>\n\n[Security]\nLevel=2\n");
}

TEST_F(RegistryTest, OverwriteDeleteAndErase) {
  TRegIniFile reg("Software\\Test");
  reg.WriteString("S", "A", "1");
  reg.WriteString("S", "A", "2");
  reg.WriteString("S", "B", "3");
  EXPECT_EQ(reg.ReadString("S", "A", ""), "2");
  reg.DeleteKey("S", "A");
  EXPECT_FALSE(reg.ValueExists("S", "A"));
  EXPECT_EQ(reg.ReadString("S", "B", ""), "3");
  reg.EraseSection("S");
  EXPECT_FALSE(reg.ValueExists("S", "B"));
}

TEST_F(RegistryTest, AnyTextSurvives) {
  TRegIniFile reg("Software\\Odd");
  const std::string nasty[] = {"  padded  ",
                               "line1\r\nline2",
                               "a=b;c#d",
                               "[not a section]",
                               "back\\slash\\x41",
                               std::string("nul\0byte", 8),
                               "\x01\x7f\xff\xfe",
                               "",
                               "=",
                               ";comment",
                               "caf\xc3\xa9"};
  int i = 0;
  for (const auto& v : nasty) reg.WriteString("Values", "v" + std::to_string(i++), v);
  for (const auto& name : nasty) reg.WriteString(name, name, "x");  // odd names as well
  i = 0;
  for (const auto& v : nasty) EXPECT_EQ(reg.ReadString("Values", "v" + std::to_string(i++), "?"), v);
  for (const auto& name : nasty) EXPECT_EQ(reg.ReadString(name, name, "?"), "x") << name;
}

TEST_F(RegistryTest, FilesAreWrittenAtomicallyAndPrivately) {
  TRegIniFile reg("Software\\Private");
  reg.WriteString("S", "Password", "secret");
  struct stat st;
  ASSERT_EQ(stat(reg.GetPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Only the finished file remains: no temporary files are left beside it.
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(FDir.Path() + "/software")) {
    ++files;
    EXPECT_EQ(e.path().filename(), "private.ini");
  }
  EXPECT_EQ(files, 1);
}

TEST_F(RegistryTest, KeyPathsCannotLeaveTheRoot) {
  TRegIniFile reg("Software\\..\\..\\etc/passwd");
  std::string path = reg.GetPath();
  EXPECT_EQ(path.rfind(FDir.Path() + "/", 0), 0u);
  EXPECT_EQ(path.find("/../"), std::string::npos);
  reg.WriteString("S", "N", "v");
  EXPECT_EQ(reg.ReadString("S", "N", ""), "v");
}

TEST_F(RegistryTest, MachineKeysReadEmptyAndRefuseWrites) {
  TRegIniFile reg("\\SOFTWARE\\Borland\\Database Engine", HKEY_LOCAL_MACHINE);
  EXPECT_EQ(reg.ReadString("", "CONFIGFILE01", ""), "");
  EXPECT_EQ(reg.ReadInteger("", "X", 7), 7);
  EXPECT_EQ(MessageOf<ERegistryException>([&] { reg.WriteString("", "CONFIGFILE01", "x"); }),
            "Failed to set data for 'CONFIGFILE01'");
}

TEST_F(RegistryTest, UnwritableRootRaises) {
  std::string file = FDir.Path() + "/plain-file";
  std::ofstream(file) << "x";
  setenv("DBLIB_SETTINGS_ROOT", file.c_str(), 1);  // a file where a folder should be
  TRegIniFile reg("Software\\X");
  EXPECT_EQ(reg.ReadString("S", "N", "d"), "d");
  EXPECT_THROW(reg.WriteString("S", "N", "v"), ERegistryException);
}

TEST_F(RegistryTest, WritersInSeveralProcessesLoseNothing) {
  // Each process adds its own values to one key at the same time; every value must survive.
  constexpr int kProcesses = 4, kValues = 40;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int rc = 0;
      try {
        TRegIniFile reg("Software\\Shared");
        for (int i = 0; i < kValues; ++i) reg.WriteString("S", Format("p%d_%d", {p, i}), "v");
      } catch (...) {
        rc = 1;
      }
      _exit(rc);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  TRegIniFile reg("Software\\Shared");
  int missing = 0;
  for (int p = 0; p < kProcesses; ++p)
    for (int i = 0; i < kValues; ++i) missing += reg.ValueExists("S", Format("p%d_%d", {p, i})) ? 0 : 1;
  EXPECT_EQ(missing, 0);
}

TEST_F(RegistryTest, NonNumericIntegerReadsTheDefault) {
  TRegIniFile reg("Software\\Num");
  reg.WriteString("S", "N", "12x");
  EXPECT_EQ(reg.ReadInteger("S", "N", -1), -1);
  reg.WriteString("S", "N", " 42 ");
  EXPECT_EQ(reg.ReadInteger("S", "N", -1), 42);
  reg.WriteBool("S", "B", true);
  EXPECT_TRUE(reg.ReadBool("S", "B", false));
}

TEST(RegistryRoot, DefaultsToTheConfigFolder) {
  using testsupport::EnvOverride;
  EnvOverride root("DBLIB_SETTINGS_ROOT", nullptr), home("HOME", "/home/someone");
  {
    EnvOverride xdg("XDG_CONFIG_HOME", "/tmp/xdg-test");
    EXPECT_EQ(SettingsRoot(), "/tmp/xdg-test/dblib");
  }
  EnvOverride xdg("XDG_CONFIG_HOME", nullptr);
  EXPECT_EQ(SettingsRoot(), "/home/someone/.config/dblib");
}

}  // namespace
