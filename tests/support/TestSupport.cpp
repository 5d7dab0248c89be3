#include "support/TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace testsupport {

TempDir::TempDir() {
  const char* base = std::getenv("DBLIB_TEST_TMP");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/dblib-test-XXXXXX";
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("cannot create a temporary folder");
  FPath = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(FPath, ec);
}

SettingsRoot::SettingsRoot() {
  if (const char* old = std::getenv("DBLIB_SETTINGS_ROOT")) FSaved = old, FHad = true;
  setenv("DBLIB_SETTINGS_ROOT", FDir.Path().c_str(), 1);
}

SettingsRoot::~SettingsRoot() {
  if (FHad)
    setenv("DBLIB_SETTINGS_ROOT", FSaved.c_str(), 1);
  else
    unsetenv("DBLIB_SETTINGS_ROOT");
}

}  // namespace testsupport
