#include "platform/Registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <vector>

namespace {

// Serialises read-modify-write cycles of this process; files are replaced atomically, so readers
// only ever see a whole old or a whole new file. Writers in other processes are kept apart by
// TFolderLock.
std::mutex gStoreLock;

struct TEntry {
  std::string Name, Value;
};
struct TSection {
  std::string Name;
  std::vector<TEntry> Entries;
};
using TIniData = std::vector<TSection>;  // section "" first when present

char Hex(int V) { return "0123456789ABCDEF"[V & 15]; }

// Escapes what an INI line cannot hold: backslash, control bytes, blanks at either end and, for
// names, the characters that mean something to the format.
std::string Escape(std::string_view S, bool IsName) {
  std::string r;
  for (size_t i = 0; i < S.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(S[i]);
    bool edgeBlank = c == ' ' && (i == 0 || i + 1 == S.size());
    bool special = IsName && (c == '=' || c == '[' || c == ']' || c == ';' || c == '#');
    if (c == '\\')
      r += "\\\\";
    else if (c == '\n')
      r += "\\n";
    else if (c == '\r')
      r += "\\r";
    else if (c == '\t')
      r += "\\t";
    else if (c < 0x20 || c == 0x7F || edgeBlank || special) {
      r += "\\x";
      r += Hex(c >> 4);
      r += Hex(c);
    } else
      r += static_cast<char>(c);
  }
  return r;
}

int HexValue(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  return -1;
}

std::string Unescape(std::string_view S) {
  std::string r;
  for (size_t i = 0; i < S.size(); ++i) {
    if (S[i] != '\\' || i + 1 >= S.size()) {
      r += S[i];
      continue;
    }
    char n = S[++i];
    if (n == 'n')
      r += '\n';
    else if (n == 'r')
      r += '\r';
    else if (n == 't')
      r += '\t';
    else if (n == 'x' && i + 2 < S.size() && HexValue(S[i + 1]) >= 0 && HexValue(S[i + 2]) >= 0) {
      r += static_cast<char>(HexValue(S[i + 1]) * 16 + HexValue(S[i + 2]));
      i += 2;
    } else
      r += n;  // "\\" and anything unknown
  }
  return r;
}

// Read failures give an empty store: a missing or unreadable file reads as defaults.
TIniData Load(const std::string& Path) {
  TIniData data;
  std::ifstream in(Path, std::ios::binary);
  if (!in) return data;
  TSection* current = nullptr;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      size_t close = line.rfind(']');
      if (close == std::string::npos || close == 0) continue;
      std::string name = Unescape(std::string_view(line).substr(1, close - 1));
      current = nullptr;
      for (auto& s : data)
        if (SameText(s.Name, name)) current = &s;
      if (!current) {
        data.push_back({name, {}});
        current = &data.back();
      }
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (!current) {
      // Values before any header belong to the key itself.
      if (data.empty() || !data.front().Name.empty()) data.insert(data.begin(), TSection{"", {}});
      current = &data.front();
    }
    std::string name = Unescape(std::string_view(line).substr(0, eq));
    std::string value = Unescape(std::string_view(line).substr(eq + 1));
    bool replaced = false;
    for (auto& e : current->Entries)
      if (SameText(e.Name, name)) {
        e.Value = value;
        replaced = true;
      }
    if (!replaced) current->Entries.push_back({name, value});
  }
  return data;
}

std::string Render(const TIniData& Data) {
  std::string out;
  for (const auto& s : Data) {
    if (s.Entries.empty()) continue;
    if (!s.Name.empty() || &s != &Data.front()) {
      if (!out.empty()) out += '\n';
      out += "[" + Escape(s.Name, true) + "]\n";
    }
    for (const auto& e : s.Entries) out += Escape(e.Name, true) + "=" + Escape(e.Value, false) + "\n";
  }
  return out;
}

bool MakeDirs(const std::string& Dir) {
  if (Dir.empty()) return true;
  struct stat st;
  if (stat(Dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = Dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirs(Dir.substr(0, slash))) return false;
  return mkdir(Dir.c_str(), 0700) == 0 || errno == EEXIST;
}

// Writes the whole file under a temporary name in the same folder and renames it over the old one.
bool Save(const std::string& Path, const std::string& Text) {
  std::string dir = Path.substr(0, Path.find_last_of('/'));
  if (!MakeDirs(dir)) return false;
  std::string tmp = Path + ".XXXXXX";
  std::vector<char> name(tmp.begin(), tmp.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());  // created with mode 0600
  if (fd < 0) return false;
  bool ok = fchmod(fd, 0600) == 0;
  size_t done = 0;
  while (ok && done < Text.size()) {
    ssize_t n = write(fd, Text.data() + done, Text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(name.data(), Path.c_str()) == 0;
  if (!ok) unlink(name.data());
  return ok;
}

// One path segment of a key, safe as a file name: lower-case letters, digits and a few marks are
// kept, everything else is written as %HH.
std::string SegmentFileName(std::string_view Seg) {
  std::string r;
  for (size_t i = 0; i < Seg.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(Seg[i]);
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    bool keep =
        (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' || c == ' ' || (c == '.' && i > 0);
    if (keep)
      r += static_cast<char>(c);
    else {
      r += '%';
      r += Hex(c >> 4);
      r += Hex(c);
    }
  }
  return r;
}

// An exclusive lock on the folder of a key's file for one read-modify-write cycle, so that two
// programs writing the same key at once do not drop each other's values. Readers need none.
class TFolderLock {
public:
  // Create: make the folder when missing (a deletion from a key that has no folder needs no lock).
  TFolderLock(const std::string& Path, bool Create) {
    std::string dir = Path.substr(0, Path.find_last_of('/'));
    if (Create && !MakeDirs(dir)) return;  // the write that follows fails and reports it
    FFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (FFd >= 0)
      while (flock(FFd, LOCK_EX) != 0 && errno == EINTR) {
      }
  }
  ~TFolderLock() {
    if (FFd >= 0) close(FFd);  // releases the lock
  }
  TFolderLock(const TFolderLock&) = delete;
  TFolderLock& operator=(const TFolderLock&) = delete;

private:
  int FFd = -1;
};

TSection* FindSection(TIniData& Data, std::string_view Name) {
  for (auto& s : Data)
    if (SameText(s.Name, Name)) return &s;
  return nullptr;
}

std::optional<std::string> Lookup(const std::string& Path, std::string_view Section, std::string_view Name) {
  if (Path.empty()) return std::nullopt;
  std::lock_guard<std::mutex> lock(gStoreLock);
  TIniData data = Load(Path);
  if (TSection* s = FindSection(data, Section))
    for (auto& e : s->Entries)
      if (SameText(e.Name, Name)) return e.Value;
  return std::nullopt;
}

}  // namespace

std::string SettingsRoot() {
  if (const char* r = std::getenv("DBLIB_SETTINGS_ROOT"); r && *r) return r;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return std::string(x) + "/dblib";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.config/dblib";
}

TRegIniFile::TRegIniFile(std::string Key, HKEY RootKey) : FKey(std::move(Key)), FRootKey(RootKey) {}

std::string TRegIniFile::GetPath() const {
  if (FRootKey != HKEY_CURRENT_USER) return {};
  std::string rel;
  size_t start = 0;
  for (size_t i = 0; i <= FKey.size(); ++i) {
    if (i == FKey.size() || FKey[i] == '\\' || FKey[i] == '/') {
      if (i > start) rel += (rel.empty() ? "" : "/") + SegmentFileName(std::string_view(FKey).substr(start, i - start));
      start = i + 1;
    }
  }
  if (rel.empty()) rel = "%root";  // the root key itself
  return SettingsRoot() + "/" + rel + ".ini";
}

std::string TRegIniFile::ReadString(std::string_view Section, std::string_view Name, std::string_view Default) const {
  auto v = Lookup(GetPath(), Section, Name);
  return v ? *v : std::string(Default);
}

int32_t TRegIniFile::ReadInteger(std::string_view Section, std::string_view Name, int32_t Default) const {
  auto v = Lookup(GetPath(), Section, Name);
  if (!v) return Default;
  std::string t = Trim(*v);
  // Decimal text only; anything else gives the default.
  char* end = nullptr;
  errno = 0;
  long long n = std::strtoll(t.c_str(), &end, 10);
  if (t.empty() || *end != '\0' || errno != 0 || n < INT32_MIN || n > INT32_MAX) return Default;
  return static_cast<int32_t>(n);
}

bool TRegIniFile::ReadBool(std::string_view Section, std::string_view Name, bool Default) const {
  return ReadInteger(Section, Name, Default ? 1 : 0) != 0;
}

bool TRegIniFile::ValueExists(std::string_view Section, std::string_view Name) const {
  return Lookup(GetPath(), Section, Name).has_value();
}

void TRegIniFile::WriteString(std::string_view Section, std::string_view Name, std::string_view Value) {
  std::string path = GetPath();
  auto fail = [&] { throw ERegistryException(Format("Failed to set data for '%s'", {std::string(Name)})); };
  if (path.empty()) fail();
  std::lock_guard<std::mutex> lock(gStoreLock);
  TFolderLock folderLock(path, true);
  TIniData data = Load(path);
  TSection* s = FindSection(data, Section);
  if (!s) {
    if (Section.empty())
      data.insert(data.begin(), TSection{"", {}});
    else
      data.push_back({std::string(Section), {}});
    s = FindSection(data, Section);
  }
  bool found = false;
  for (auto& e : s->Entries)
    if (SameText(e.Name, Name)) {
      e.Value = std::string(Value);
      found = true;
    }
  if (!found) s->Entries.push_back({std::string(Name), std::string(Value)});
  if (!Save(path, Render(data))) fail();
}

void TRegIniFile::WriteInteger(std::string_view Section, std::string_view Name, int32_t Value) {
  WriteString(Section, Name, std::to_string(Value));
}

void TRegIniFile::WriteBool(std::string_view Section, std::string_view Name, bool Value) {
  WriteInteger(Section, Name, Value ? 1 : 0);
}

void TRegIniFile::DeleteKey(std::string_view Section, std::string_view Name) {
  std::string path = GetPath();
  if (path.empty()) return;
  std::lock_guard<std::mutex> lock(gStoreLock);
  TFolderLock folderLock(path, false);
  TIniData data = Load(path);
  TSection* s = FindSection(data, Section);
  if (!s) return;
  size_t before = s->Entries.size();
  std::erase_if(s->Entries, [&](const TEntry& e) { return SameText(e.Name, Name); });
  if (s->Entries.size() != before && !Save(path, Render(data)))
    throw ERegistryException(Format("Failed to delete '%s'", {std::string(Name)}));
}

void TRegIniFile::EraseSection(std::string_view Section) {
  std::string path = GetPath();
  if (path.empty()) return;
  std::lock_guard<std::mutex> lock(gStoreLock);
  TFolderLock folderLock(path, false);
  TIniData data = Load(path);
  size_t before = data.size();
  std::erase_if(data, [&](const TSection& s) { return SameText(s.Name, Section); });
  if (data.size() != before && !Save(path, Render(data)))
    throw ERegistryException(Format("Failed to delete '%s'", {std::string(Section)}));
}
