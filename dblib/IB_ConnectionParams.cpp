// TIB_Connection: the parameter list and the properties over it, database names, the parameter block.
#include <algorithm>

#include "dblib/IB_Connection.h"
#include "dblib/IB_Constants.h"
#include "dblib/schema/IB_Schema.h"
#include "platform/Locale.h"

namespace {

const char* ItemName(int Index) {
  switch (Index) {
    case 1: return "USER NAME";
    case 2: return "PASSWORD";
    case 3: return "SERVER";
    case 4: return "ROLE NAME";
    case 5: return "PATH";
    case 7: return "SYSDBA";
    case 8: return "ENCRYPT KEY";
    case 9: return "CHARACTER SET";
    case 10: return "MESSAGE FILE";
    default: return nullptr;
  }
}

bool IsValidIdent(const std::string& S) {
  if (S.empty()) return false;
  auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (!alpha(S[0])) return false;
  return std::all_of(S.begin() + 1, S.end(), [&](char c) { return alpha(c) || (c >= '0' && c <= '9'); });
}

}  // namespace

void AddDPBString(int32_t& Length, std::string& Buffer, const std::string& Value, uint8_t Item) {
  if (Value.size() > 255) IB_Raise<EIB_ConnectionError>(IBMsg::InvalidDPBContentsOver255Characters);
  Buffer.resize(static_cast<size_t>(std::max<int32_t>(Length, 0)));
  if (!Value.empty()) {
    Buffer.push_back(static_cast<char>(Item));
    Buffer.push_back(static_cast<char>(Value.size()));
    Buffer += Value;
  }
  Length = static_cast<int32_t>(Buffer.size());
}

// ---- the list ----------------------------------------------------------------------------------------

void TIB_Connection::SetParams(const TStrings& Value) {
  if (&Value != FParams.get()) FParams->Assign(Value);
  if (HasState(csReading)) {
    std::string serverName = FParams->GetValue("SERVER NAME");
    if (!serverName.empty()) {
      FParams->SetValue("SERVER NAME", "");
      SplitDatabaseName(serverName);
    }
  }
}

void TIB_Connection::GetStoredParams(TStrings& Dest) const {
  Dest.Assign(*FParams);
  for (const char* item : {"PASSWORD", "LOCAL PASSWORD"}) {
    for (int i = Dest.IndexOfName(item); i >= 0; i = Dest.IndexOfName(item)) Dest.Delete(i);
  }
}

void TIB_Connection::CheckNotConnected() {
  if (HasState(csDesigning) && GetConnected()) SysDisconnect();
  if (GetConnected()) IB_Raise<EIB_ConnectionError>(IBMsg::CannotChangeWhileConnected);
}

std::string TIB_Connection::GetIndexedParam(int Index) {
  switch (Index) {
    case 2:
      if (GetProtocol() == cpLocal) {
        std::string local = FParams->GetValue("LOCAL PASSWORD");
        if (!local.empty()) return local;
      }
      return FParams->GetValue("PASSWORD");
    case 4: {
      // Older lists name the role "ROLE" or "SQL ROLE NAME": move it to its current item.
      for (const char* old : {"ROLE", "SQL ROLE NAME"}) {
        std::string v = FParams->GetValue(old);
        if (!v.empty()) {
          FParams->SetValue(old, "");
          FParams->SetValue("ROLE NAME", v);
          break;
        }
      }
      return FParams->GetValue("ROLE NAME");
    }
    default: {
      const char* name = ItemName(Index);
      return name ? FParams->GetValue(name) : std::string();
    }
  }
}

void TIB_Connection::SetIndexedParam(int Index, const std::string& Value) {
  const char* name = ItemName(Index);
  if (!name || GetIndexedParam(Index) == Value) return;
  CheckNotConnected();
  switch (Index) {
    case 2:
      if (GetProtocol() == cpLocal && !FParams->GetValue("LOCAL PASSWORD").empty())
        FParams->SetValue("LOCAL PASSWORD", Value);
      else
        FParams->SetValue("PASSWORD", Value);
      break;
    case 4:
      FParams->SetValue("ROLE", "");
      FParams->SetValue("SQL ROLE NAME", "");
      FParams->SetValue("ROLE NAME", Value);
      break;
    default: FParams->SetValue(name, Value);
  }
}

TIB_Protocol TIB_Connection::GetProtocol() const {
  std::string p = UpperCase(Trim(FParams->GetValue("PROTOCOL")));
  if (p == "NETBEUI") return cpNetBEUI;
  if (p == "TCP/IP") return cpTCP_IP;
  if (p == "NOVELL") return cpNovell;
  return cpLocal;
}

void TIB_Connection::SetProtocol(TIB_Protocol Value) {
  if (Value == GetProtocol()) return;
  CheckNotConnected();
  static const char* const kNames[] = {"", "NETBEUI", "TCP/IP", "NOVELL"};
  FParams->SetValue("PROTOCOL", kNames[Value]);
}

TIB_DPBFlag TIB_Connection::GetFlag(const char* Item, const char* TrueText, const char* FalseText) const {
  std::string v = UpperCase(Trim(FParams->GetValue(Item)));
  if (v == TrueText) return dpbTrue;
  if (v == FalseText) return dpbFalse;
  return dpbDefault;
}

void TIB_Connection::SetFlag(const char* Item, const char* TrueText, const char* FalseText, TIB_DPBFlag Value) {
  if (Value == GetFlag(Item, TrueText, FalseText)) return;
  CheckNotConnected();
  FParams->SetValue(Item, Value == dpbTrue ? TrueText : Value == dpbFalse ? FalseText : "");
}

uint8_t TIB_Connection::GetBuffers() const {
  int32_t v = StrToIntDef(Trim(FParams->GetValue("BUFFERS")), 75);
  return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

void TIB_Connection::SetBuffers(uint8_t Value) {
  if (Value == GetBuffers()) return;
  CheckNotConnected();
  FParams->SetValue("BUFFERS", Value == 75 ? std::string() : IntToStr(Value));
}

uint16_t TIB_Connection::GetPageSize() {
  if (const TIB_ConnectCharacteristics* c = KnownCharacteristics()) return c->dbPage_Size;
  int32_t v = StrToIntDef(Trim(FParams->GetValue("PAGE SIZE")), 1024);
  return static_cast<uint16_t>(std::clamp(v, 0, 65535));
}

void TIB_Connection::SetPageSize(uint16_t Value) {
  uint16_t v = Value < 1024 ? 1024 : static_cast<uint16_t>(Value & ~0x3FF);
  if (v == GetPageSize()) return;
  FParams->SetValue("PAGE SIZE", v == 1024 ? std::string() : IntToStr(v));
}

uint16_t TIB_Connection::GetSQLDialect() {
  const TIB_ConnectCharacteristics* c = KnownCharacteristics();
  const int32_t v = c ? c->dbSQL_Dialect : StrToIntDef(Trim(FParams->GetValue("SQL DIALECT")), 0);
  return static_cast<uint16_t>(std::clamp(v, 1, 65535));
}

void TIB_Connection::SetSQLDialect(uint16_t Value) {
  if (Value == GetSQLDialect()) return;
  FParams->SetValue("SQL DIALECT", Value > 1 ? IntToStr(Value) : std::string());
}

uint16_t TIB_Connection::GetSweepInterval() {
  const TIB_ConnectCharacteristics* c = KnownCharacteristics();
  const int32_t v = c ? c->dbSweep_Interval : StrToIntDef(Trim(FParams->GetValue("SWEEP INTERVAL")), 0);
  return static_cast<uint16_t>(std::clamp(v, 0, 65535));
}

void TIB_Connection::SetSweepInterval(uint16_t Value) {
  if (Value == GetSweepInterval()) return;
  FParams->SetValue("SWEEP INTERVAL", Value == 0 ? std::string() : IntToStr(Value));
}

// ---- database names ------------------------------------------------------------------------------------

std::string TIB_Connection::GetDatabaseName() const {
  if (!FDatabaseName.empty()) return FDatabaseName;
  std::string server = FParams->GetValue("SERVER"), path = FParams->GetValue("PATH");
  switch (GetProtocol()) {
    case cpNetBEUI: return "\\\\" + server + "\\" + path;
    case cpTCP_IP: return server + ":" + path;
    case cpNovell: return server + "@" + path;
    default: return path;
  }
}

void TIB_Connection::SplitDatabaseName(const std::string& Value) {
  std::string server, path = Value;
  TIB_Protocol protocol = cpLocal;
  size_t p;
  bool driveLetter = Value.size() >= 3 && Value[1] == ':' && Value.find(':', 2) == std::string::npos;
  // An absolute Unix path is local whatever it holds.
  if (driveLetter || (!Value.empty() && Value[0] == '/')) {
  } else if ((p = Value.find("\\\\")) != std::string::npos) {
    std::string rest = Value.substr(p + 2);
    size_t q = rest.find('\\');
    server = rest.substr(0, q);
    path = q == std::string::npos ? std::string() : rest.substr(q + 1);
    protocol = cpNetBEUI;
  } else if ((p = Value.find('@')) != std::string::npos) {
    server = Value.substr(0, p);
    path = Value.substr(p + 1);
    protocol = cpNovell;
  } else if ((p = Value.find(':')) != std::string::npos) {
    server = Value.substr(0, p);
    path = Value.substr(p + 1);
    protocol = cpTCP_IP;
  }
  static const char* const kNames[] = {"", "NETBEUI", "TCP/IP", "NOVELL"};
  FParams->SetValue("PROTOCOL", kNames[protocol]);
  FParams->SetValue("SERVER", server);
  FParams->SetValue("PATH", path);
  FDatabaseName.clear();
}

void TIB_Connection::SetDatabaseName(const std::string& Value) {
  if (Value == GetDatabaseName()) return;
  CheckNotConnected();
  if (Value.empty()) {
    FDatabaseName.clear();
    SplitDatabaseName("");
    return;
  }
  if (Value.find_first_of(".\\:@/") != std::string::npos) {
    SplitDatabaseName(Value);
    return;
  }
  if (!IsValidIdent(Value)) IB_Raise<EIB_ConnectionError>(IBMsg::InvalidDatabaseName);
  std::string name = Value;
  if (TIB_Session* s = GetBoundSession()) {
    auto used = [&](const std::string& N) {
      for (TIB_Component* c : s->GetRegistry(srConnections)) {
        auto* other = dynamic_cast<TIB_Connection*>(c);
        if (other && other != this && SameText(other->GetDatabaseName(), N)) return true;
      }
      return false;
    };
    for (int n = 1; used(name); ++n) name = IntToStr(n) + "_" + Value;
  }
  FDatabaseName = name;
}

void TIB_Connection::SetAliasName(const std::string& Value) {
  if (Value == FAliasName) return;
  FAliasName = Value;
  FAliasParams.reset();
}

TStrings& TIB_Connection::GetAliasParams() {
  if (!FAliasParams) {
    FAliasParams = std::make_unique<TStringList>();
    if (!FAliasName.empty() && AliasParamsReader)
      AliasParamsReader(FAliasName, *FAliasParams);
    else if (!FAliasName.empty())
      GetBDEAliasParams("ALIAS", FAliasName, FAliasParams.get());
  }
  return *FAliasParams;
}

std::function<void(const std::string&, TStrings&)> TIB_Connection::AliasParamsReader;

// ---- parameter block -------------------------------------------------------------------------------------

std::string TIB_Connection::BuildDPB(const std::string& User, const std::string& Password, const std::string& Role) {
  std::string dpb(1, static_cast<char>(isc_dpb_version1));
  int32_t len = 1;
  // Numeric items carry their length byte: the engine rejects them without it.
  auto addByte = [&](uint8_t Item, uint8_t Value) {
    dpb.push_back(static_cast<char>(Item));
    dpb.push_back(1);
    dpb.push_back(static_cast<char>(Value));
    len = static_cast<int32_t>(dpb.size());
  };
  AddDPBString(len, dpb, User, isc_dpb_user_name);
  AddDPBString(len, dpb, Password, isc_dpb_password);
  addByte(isc_dpb_num_buffers, GetBuffers());
  if (TIB_DPBFlag f = GetDBKeyScope(); f != dpbDefault) addByte(isc_dpb_dbkey_scope, f == dpbTrue ? 1 : 0);
  if (TIB_DPBFlag f = GetForcedWrites(); f != dpbDefault) addByte(isc_dpb_force_write, f == dpbTrue ? 1 : 0);
  if (TIB_DPBFlag f = GetReservePageSpace(); f != dpbDefault) addByte(isc_dpb_no_reserve, f == dpbTrue ? 0 : 1);
  AddDPBString(len, dpb, GetCharSet(), isc_dpb_lc_ctype);
  AddDPBString(len, dpb, GetSysDBA(), isc_dpb_sys_user_name);
  AddDPBString(len, dpb, GetMessageFile(), isc_dpb_lc_messages);
  AddDPBString(len, dpb, Role, isc_dpb_sql_role_name);
  if (uint16_t d = GetSQLDialect(); d != 1) addByte(isc_dpb_sql_dialect, static_cast<uint8_t>(std::min<int>(d, 255)));
  if (OnCustomizeDPB) {
    CallOut(OnCustomizeDPB, this, len, dpb);
    if (len < 1 || static_cast<size_t>(len) > dpb.size())
      IB_Raise<EIB_ConnectionError>(IBMsg::InvalidDPBLength, {int64_t{len}, int64_t(dpb.size())});
    dpb.resize(static_cast<size_t>(len));
  }
  return dpb;
}
