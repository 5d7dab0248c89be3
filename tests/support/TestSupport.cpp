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

EnvOverride::EnvOverride(const char* Name, const char* Value) : FName(Name) {
  if (const char* old = std::getenv(Name)) FSaved = old, FHad = true;
  if (Value)
    setenv(Name, Value, 1);
  else
    unsetenv(Name);
}

EnvOverride::~EnvOverride() {
  if (FHad)
    setenv(FName.c_str(), FSaved.c_str(), 1);
  else
    unsetenv(FName.c_str());
}

}  // namespace testsupport
