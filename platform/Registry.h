// Settings store by key, section and value, in the shape of the classic registry's INI-style
// access. Each key of the current user is one INI-style text file under the settings root:
// $DBLIB_SETTINGS_ROOT when set, else $XDG_CONFIG_HOME/dblib, else ~/.config/dblib. A key path such
// as "Software\Apps\Planner" names the file software/apps/planner.ini (key, section and value
// names are case-insensitive, as in the registry). Files are replaced atomically and readable by
// their owner only. Machine-wide keys are not kept: they read as empty and refuse writes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/SysUtils.h"

class ERegistryException : public Exception {
public:
  using Exception::Exception;
};

enum class HKEY { HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE };
inline constexpr HKEY HKEY_CURRENT_USER = HKEY::HKEY_CURRENT_USER;
inline constexpr HKEY HKEY_LOCAL_MACHINE = HKEY::HKEY_LOCAL_MACHINE;

// The folder that holds the current user's keys.
std::string SettingsRoot();

// One key, read and written by section and value name. The empty section holds the key's own values.
// Every call reads or rewrites the file, so several objects on one key see each other's writes.
class TRegIniFile {
public:
  explicit TRegIniFile(std::string Key, HKEY RootKey = HKEY_CURRENT_USER);

  const std::string& GetFileName() const { return FKey; }
  // The file that holds the key; empty for machine-wide keys.
  std::string GetPath() const;

  std::string ReadString(std::string_view Section, std::string_view Name, std::string_view Default) const;
  int32_t ReadInteger(std::string_view Section, std::string_view Name, int32_t Default) const;
  bool ReadBool(std::string_view Section, std::string_view Name, bool Default) const;
  bool ValueExists(std::string_view Section, std::string_view Name) const;

  // Writes raise ERegistryException "Failed to set data for '<name>'" when the file cannot be written.
  void WriteString(std::string_view Section, std::string_view Name, std::string_view Value);
  void WriteInteger(std::string_view Section, std::string_view Name, int32_t Value);
  void WriteBool(std::string_view Section, std::string_view Name, bool Value);
  void DeleteKey(std::string_view Section, std::string_view Name);
  void EraseSection(std::string_view Section);

private:
  std::string FKey;
  HKEY FRootKey;
};
