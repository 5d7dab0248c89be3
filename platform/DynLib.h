// Run-time loading of a shared library: the stand-in for LoadLibrary/GetProcAddress/FreeLibrary.
#pragma once

#include <string>

// Owns one handle of a shared library opened with dlopen. The library is opened with RTLD_NOW (every
// symbol resolved up front, so a broken library fails at load and not in the middle of a call),
// RTLD_LOCAL (its symbols do not leak into later lookups) and RTLD_NODELETE: closing the handle never
// unmaps the code, because a database engine loaded in-process keeps threads and exit handlers that
// would crash if their code went away.
class TDynLib {
public:
  TDynLib() = default;
  ~TDynLib() { Unload(); }
  TDynLib(const TDynLib&) = delete;
  TDynLib& operator=(const TDynLib&) = delete;

  // Opens Name (a file name searched the usual way, or a path). Returns false and keeps the loader's
  // text in LastError() when it cannot be opened. Any library held before is released first.
  bool Load(const std::string& Name);
  // Drops the handle; harmless when nothing is loaded.
  void Unload() noexcept;

  bool Loaded() const noexcept { return FHandle != nullptr; }
  void* Handle() const noexcept { return FHandle; }
  // Address of the exported Name, or nullptr when the library lacks it (or nothing is loaded).
  void* Symbol(const char* Name) const noexcept;
  const std::string& LastError() const noexcept { return FLastError; }

private:
  void* FHandle = nullptr;
  std::string FLastError;
};
