// The login memory is left alone inside the programs that the application names as design environments.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dblib/IB_Connection.h"
#include "platform/Forms.h"
#include "platform/Registry.h"
#include "support/TestSupport.h"

namespace {

TEST(ConnectionLoginMemory, SkippedOnlyInsideTheProgramsTheApplicationNames) {
  testsupport::SettingsRoot root;
  const std::string program = UpperCase(std::filesystem::path(Application->GetExeName()).stem().string());
  const struct {
    std::vector<std::string> Skipped;
    bool Remembered;
  } cases[] = {{{}, true}, {{"another"}, true}, {{"another", program}, false}};
  int n = 0;
  for (const auto& c : cases) {
    LoginMemorySkippedPrograms = c.Skipped;
    std::unique_ptr<TComponent> form(new TComponent(nullptr));
    auto* db = new TIB_Connection(form.get());
    db->SetDatabaseName("/data/planner.fdb");
    db->SetLoginRegKey("Software\\Test\\Login" + std::to_string(++n));
    db->OnLogin = [](TIB_Connection*, bool&) {};
    db->DoLogin();
    EXPECT_EQ(TRegIniFile(db->GetLoginRegKey()).ReadString("Settings", "Database", "-"),
              c.Remembered ? "/data/planner.fdb" : "-")
        << n;
  }
  LoginMemorySkippedPrograms.clear();
}

}  // namespace
