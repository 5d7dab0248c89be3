#include "platform/SysUtils.h"

#include <cctype>
#include <cstdio>
#include <new>

void TObject::operator delete(TObject* p, std::destroying_delete_t) {
  if (!p->FDestroying) {
    p->FDestroying = true;
    p->Destroying();
    p->BeforeDestruction();
  }
  void* whole = dynamic_cast<void*>(p);
  p->~TObject();
  ::operator delete(whole);
}

void Abort() { throw EAbort(); }

namespace {

std::string FormatOne(char conv, const std::string& flags, int width, int prec, const TFormatArg& a) {
  // Build a printf spec from parsed, validated parts only; the argument never becomes format text.
  std::string spec = "%" + flags;
  if (width >= 0) spec += std::to_string(width);
  if (prec >= 0) spec += "." + std::to_string(prec);
  char buf[512];
  switch (conv) {
    case 'd':
    case 'u':
    case 'x': {
      long long v = 0;
      if (auto* i = std::get_if<int64_t>(&a))
        v = *i;
      else if (auto* d = std::get_if<double>(&a))
        v = static_cast<long long>(*d);
      else
        return std::get<std::string>(a);
      spec += conv == 'd' ? "lld" : conv == 'u' ? "llu" : "llX";
      std::snprintf(buf, sizeof buf, spec.c_str(), v);
      return buf;
    }
    case 'f':
    case 'g':
    case 'e': {
      double v = 0;
      if (auto* d = std::get_if<double>(&a))
        v = *d;
      else if (auto* i = std::get_if<int64_t>(&a))
        v = static_cast<double>(*i);
      else
        return std::get<std::string>(a);
      spec += conv;
      std::snprintf(buf, sizeof buf, spec.c_str(), v);
      return buf;
    }
    default: {  // 's'
      std::string s;
      if (auto* str = std::get_if<std::string>(&a))
        s = *str;
      else if (auto* i = std::get_if<int64_t>(&a))
        s = std::to_string(*i);
      else {
        std::snprintf(buf, sizeof buf, "%g", std::get<double>(a));
        s = buf;
      }
      if (prec >= 0 && static_cast<size_t>(prec) < s.size()) s.resize(prec);
      if (width >= 0 && static_cast<size_t>(width) > s.size()) {
        bool left = flags.find('-') != std::string::npos;
        std::string pad(width - s.size(), ' ');
        s = left ? s + pad : pad + s;
      }
      return s;
    }
  }
}

}  // namespace

std::string Format(std::string_view Fmt, std::initializer_list<TFormatArg> Args) {
  std::string out;
  out.reserve(Fmt.size() + 16);
  auto arg = Args.begin();
  size_t i = 0;
  while (i < Fmt.size()) {
    char c = Fmt[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    size_t j = i + 1;
    if (j < Fmt.size() && Fmt[j] == '%') {
      out += '%';
      i = j + 1;
      continue;
    }
    std::string flags;
    while (j < Fmt.size() && (Fmt[j] == '-' || Fmt[j] == '0' || Fmt[j] == '+' || Fmt[j] == ' ')) {
      if (flags.find(Fmt[j]) == std::string::npos) flags += Fmt[j];
      ++j;
    }
    int width = -1, prec = -1;
    while (j < Fmt.size() && std::isdigit(static_cast<unsigned char>(Fmt[j]))) {
      width = (width < 0 ? 0 : width) * 10 + (Fmt[j] - '0');
      if (width > 400) width = 400;
      ++j;
    }
    if (j < Fmt.size() && Fmt[j] == '.') {
      ++j;
      prec = 0;
      while (j < Fmt.size() && std::isdigit(static_cast<unsigned char>(Fmt[j]))) {
        prec = prec * 10 + (Fmt[j] - '0');
        if (prec > 400) prec = 400;
        ++j;
      }
    }
    if (j < Fmt.size()) {
      char conv = static_cast<char>(std::tolower(static_cast<unsigned char>(Fmt[j])));
      if (conv == 's' || conv == 'd' || conv == 'u' || conv == 'x' || conv == 'f' || conv == 'g' || conv == 'e') {
        if (arg != Args.end()) {
          out += FormatOne(conv, flags, width, prec, *arg);
          ++arg;
        }
        i = j + 1;
        continue;
      }
    }
    // Not a placeholder: keep the text as it is.
    out.append(Fmt.substr(i, j - i));
    i = j;
  }
  return out;
}

std::string UpperCase(std::string_view S) {
  std::string r(S);
  for (auto& ch : r)
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
  return r;
}

std::string LowerCase(std::string_view S) {
  std::string r(S);
  for (auto& ch : r)
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
  return r;
}

std::string Trim(std::string_view S) {
  size_t b = 0, e = S.size();
  while (b < e && static_cast<unsigned char>(S[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(S[e - 1]) <= ' ') --e;
  return std::string(S.substr(b, e - b));
}

std::string TrimLeft(std::string_view S) {
  size_t b = 0;
  while (b < S.size() && static_cast<unsigned char>(S[b]) <= ' ') ++b;
  return std::string(S.substr(b));
}

std::string TrimRight(std::string_view S) {
  size_t e = S.size();
  while (e > 0 && static_cast<unsigned char>(S[e - 1]) <= ' ') --e;
  return std::string(S.substr(0, e));
}

int CompareText(std::string_view A, std::string_view B) {
  size_t n = A.size() < B.size() ? A.size() : B.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned char a = static_cast<unsigned char>(A[i]), b = static_cast<unsigned char>(B[i]);
    if (a >= 'a' && a <= 'z') a -= 32;
    if (b >= 'a' && b <= 'z') b -= 32;
    if (a != b) return a < b ? -1 : 1;
  }
  if (A.size() == B.size()) return 0;
  return A.size() < B.size() ? -1 : 1;
}

bool SameText(std::string_view A, std::string_view B) { return A.size() == B.size() && CompareText(A, B) == 0; }

int CompareStr(std::string_view A, std::string_view B) {
  int c = A.compare(B);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::string IntToStr(int64_t V) { return std::to_string(V); }

std::string IntToHex(uint64_t V, int Digits) {
  static const char* hex = "0123456789ABCDEF";
  std::string r;
  do {
    r.insert(r.begin(), hex[V & 15]);
    V >>= 4;
  } while (V != 0);
  while (static_cast<int>(r.size()) < Digits) r.insert(r.begin(), '0');
  return r;
}

std::string QuotedStr(std::string_view S, char Quote) {
  std::string r;
  r.reserve(S.size() + 2);
  r += Quote;
  for (char ch : S) {
    r += ch;
    if (ch == Quote) r += Quote;
  }
  r += Quote;
  return r;
}
