// Helpers shared by the tests: a private temporary folder per test and database file paths in it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Forms.h"

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with everything in it when the
// object goes away, whatever the test did.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return FPath; }
  // Path of a file named Name inside the folder.
  std::string File(const std::string& Name) const { return FPath + "/" + Name; }

private:
  std::string FPath;
};

// The message of the E that Body raises; a test failure when it raises nothing. Another exception passes
// through and fails the test.
template <class E, class F>
std::string MessageOf(F&& Body) {
  try {
    Body();
  } catch (const E& e) {
    return e.what();
  }
  ADD_FAILURE() << "no exception";
  return "(no exception)";
}

// Collects the messages that reach the application's exception sink while it lives.
class ExceptionSink {
public:
  ExceptionSink() : FSaved(Application->OnException) {
    Application->OnException = [this](const std::exception& E) { Messages.push_back(E.what()); };
  }
  ~ExceptionSink() { Application->OnException = FSaved; }
  ExceptionSink(const ExceptionSink&) = delete;
  ExceptionSink& operator=(const ExceptionSink&) = delete;
  std::vector<std::string> Messages;

private:
  TExceptionEvent FSaved;
};

// Sets an environment variable (or removes it, for nullptr) for the life of the object.
class EnvOverride {
public:
  EnvOverride(const char* Name, const char* Value);
  ~EnvOverride();
  EnvOverride(const EnvOverride&) = delete;
  EnvOverride& operator=(const EnvOverride&) = delete;

private:
  std::string FName, FSaved;
  bool FHad = false;
};

// Points the settings store (DBLIB_SETTINGS_ROOT) at a private folder for the life of the object.
class SettingsRoot {
public:
  SettingsRoot() : FEnv("DBLIB_SETTINGS_ROOT", FDir.Path().c_str()) {}
  SettingsRoot(const SettingsRoot&) = delete;
  SettingsRoot& operator=(const SettingsRoot&) = delete;
  const std::string& Path() const { return FDir.Path(); }

private:
  TempDir FDir;
  EnvOverride FEnv;
};

}  // namespace testsupport
