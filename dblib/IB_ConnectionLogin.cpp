// TIB_Connection: the login, the login memory in the settings store and the saved password.
#include <filesystem>

#include "dblib/IB_Connection.h"
#include "dblib/IB_Constants.h"
#include "dblib/IB_Utils.h"
#include "platform/Dialogs.h"
#include "platform/Forms.h"
#include "platform/Registry.h"

namespace {

constexpr const char* kSettings = "Settings";
constexpr const char* kScrambleKeyPath = "Software\\Zindor\\ZDB";

std::string ProgramName() {
  if (!Application) return std::string();
  return std::filesystem::path(Application->GetExeName()).stem().string();
}

bool Unprefixed(const std::string& Name) {
  return Name.empty() || SameText(Name, "SYSDBA") || SameText(Name, "PUBLIC");
}

}  // namespace

// ---- prefixes ------------------------------------------------------------------------------------------

std::string TIB_Connection::GetLoginUsername() {
  std::string name = GetUsername();
  if (Unprefixed(name) || FLoginUsernamePrefix.empty()) return name;
  size_t p = name.find(FLoginUsernamePrefix);
  return p == std::string::npos ? name : name.substr(p + FLoginUsernamePrefix.size());
}

void TIB_Connection::SetLoginUsername(const std::string& Value) {
  SetUsername(Unprefixed(Value) ? Value : FLoginUsernamePrefix + Value);
}

std::string TIB_Connection::GetLoginSQLRole() {
  std::string role = GetSQLRole();
  if (role.empty() || FLoginSQLRolePrefix.empty()) return role;
  size_t p = role.find(FLoginSQLRolePrefix);
  return p == std::string::npos ? role : role.substr(p + FLoginSQLRolePrefix.size());
}

void TIB_Connection::SetLoginSQLRole(const std::string& Value) {
  SetSQLRole(Value.empty() ? Value : FLoginSQLRolePrefix + Value);
}

// ---- saved password ------------------------------------------------------------------------------------

std::string TIB_Connection::GetSavedPassword() {
  return ScramblePassword(GetPassword(), GetScrambleKey(kScrambleKeyPath));
}

void TIB_Connection::SetSavedPassword(const std::string& Value) {
  SetPassword(UnscramblePassword(Value, GetScrambleKey(kScrambleKeyPath)));
}

// ---- login memory --------------------------------------------------------------------------------------

std::vector<std::string> LoginMemorySkippedPrograms;

bool TIB_Connection::LoginRegistryAllowed() const {
  if (FLoginRegKey.empty()) return false;
  // Inside a development environment that runs the components while forms are designed: leave the
  // settings of the application being designed alone.
  const std::string program = ProgramName();
  for (const std::string& skipped : LoginMemorySkippedPrograms)
    if (SameText(program, skipped)) return false;
  return true;
}

std::string TIB_Connection::LoginRegistryKey() const {
  return FLoginRegKey == "%DEFAULT%" ? "Software\\Apps\\" + ProgramName() : FLoginRegKey;
}

void TIB_Connection::WriteLoginMemory() {
  if (!FRegistryUsed) return;
  FRegistryUsed = false;
  TRegIniFile reg(LoginRegistryKey());
  reg.WriteString(kSettings, "Database", GetDatabaseName());
  reg.WriteString(kSettings, "LastUser", GetUsername());
  reg.WriteString(kSettings, "LastRole", GetSQLRole());
}

// ---- login ---------------------------------------------------------------------------------------------

void TIB_Connection::DoLogin() {
  if (LoginRegistryAllowed()) {
    TRegIniFile reg(LoginRegistryKey());
    std::string user = reg.ReadString(kSettings, "LastUser", "");
    std::string role = reg.ReadString(kSettings, "LastRole", "");
    std::string database = reg.ReadString(kSettings, "Database", "<empty>");
    if (database == "<empty>")
      reg.WriteString(kSettings, "Database", GetDatabaseName());
    else
      SplitDatabaseName(database);
    if (!user.empty()) SetUsername(user);
    if (!role.empty()) SetSQLRole(role);
    FRegistryUsed = true;
  }
  if (OnLogin) {
    // The handler sets its own flag: one that destroyed the connection may still set it.
    bool aborted = FLoginAborted;
    CallOut(OnLogin, this, aborted);
    FLoginAborted = aborted;
    return;
  }
  TLoginRequest request;
  if (Application) request.Caption = Trim(Application->GetTitle()) + " " + IB_LoadStr(IBMsg::LoginDialog);
  if (!FLoginCaption.empty()) request.Caption = FLoginCaption;
  request.DatabaseReadOnly = FLoginDBReadOnly;
  request.Database = GetDatabaseName();
  request.Username = GetLoginUsername();
  request.SQLRole = GetLoginSQLRole();
  request.Password = GetPassword();
  request.HelpContext = FLoginHelpContext;
  for (size_t from = 0; from <= FLoginSQLRoleList.size();) {
    size_t comma = FLoginSQLRoleList.find(',', from);
    if (comma == std::string::npos) comma = FLoginSQLRoleList.size();
    std::string r = Trim(std::string_view(FLoginSQLRoleList).substr(from, comma - from));
    if (!r.empty()) request.SQLRoleList.push_back(r);
    from = comma + 1;
  }
  if (Dialogs().Login(request) != mrOk) {
    FLoginAborted = true;
    return;
  }
  SplitDatabaseName(request.Database);
  SetLoginUsername(request.Username);
  SetPassword(request.Password);
  SetLoginSQLRole(request.SQLRole);
}

void TIB_Connection::DoLoginFailure() {
  if (OnLoginFailure)
    CallOut(OnLoginFailure, this);
  else
    IB_Raise<EIB_ConnectionError>(IBMsg::LoginFailed);
}

void TIB_Connection::LoginLoop() {
  FLoginAborted = false;
  for (int attempt = 0; attempt < FLoginAttempts && !GetConnected() && !FLoginAborted; ++attempt) {
    DoLogin();
    if (FLoginAborted) break;
    // A failed attach is shown by the application's exception handler and the loop goes on.
    try {
      ConnectCore();
    } catch (const EAbort&) {
      throw;
    } catch (...) {
      ReportException(std::current_exception());
    }
  }
  if (!GetConnected()) DoLoginFailure();
}
