// Exceptions, safe message formatting and small string helpers: the stand-in for the
// platform's system utilities. Nothing here depends on the database library.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

// Root of every class that takes part in the component model. Objects of classes derived
// from TObject are deleted with plain `delete`; the deleting path first runs the virtual
// BeforeDestruction() while the object is still whole, so teardown work that needs the
// derived class (leaving a session, notifying links) can live there. Destructors then only
// release memory. Such objects must live on the heap.
class TObject {
public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;

  // Runs once, before the destructor, when the object is deleted.
  virtual void BeforeDestruction() {}
  // Runs first of all when the object is deleted (components mark themselves as destroying here).
  virtual void Destroying() {}

  // True once BeforeDestruction has started for this object.
  bool IsDestroying() const noexcept { return FDestroying; }

  void operator delete(TObject* p, std::destroying_delete_t);

private:
  bool FDestroying = false;
};

// Deletes Obj (when not null) and clears the pointer first, so nothing sees a dangling value.
template <class T>
void FreeAndNil(T*& Obj) {
  T* tmp = Obj;
  Obj = nullptr;
  delete tmp;
}

// Base of all exceptions of the library and its platform layer.
class Exception : public std::exception {
public:
  explicit Exception(std::string Msg) : FMessage(std::move(Msg)) {}
  const char* what() const noexcept override { return FMessage.c_str(); }
  const std::string& Message() const noexcept { return FMessage; }
  void SetMessage(std::string Msg) { FMessage = std::move(Msg); }

private:
  std::string FMessage;
};

// The silent abort: ends an operation without a message.
class EAbort : public Exception {
public:
  EAbort() : Exception("Operation aborted") {}
  explicit EAbort(std::string Msg) : Exception(std::move(Msg)) {}
};

// Raises the silent abort.
[[noreturn]] void Abort();

class EConvertError : public Exception {
public:
  using Exception::Exception;
};

class EOutOfResources : public Exception {
public:
  using Exception::Exception;
};

// One argument of Format: an integer, a floating value or text.
using TFormatArg = std::variant<int64_t, double, std::string>;

// Fills the placeholders of Fmt with Args, in order: %s, %d, %u, %x, %f, %g, %e and %%, with
// optional width/precision ("%5d", "%.2f", "%-10s"). Arguments are substituted as values and never
// interpreted as format text; a missing argument leaves the placeholder empty and extra
// arguments are ignored, so a caller's text can never crash the formatter.
std::string Format(std::string_view Fmt, std::initializer_list<TFormatArg> Args);

// ASCII helpers with the classic semantics.
std::string UpperCase(std::string_view S);
std::string LowerCase(std::string_view S);
std::string Trim(std::string_view S);  // removes bytes <= ' ' at both ends
std::string TrimLeft(std::string_view S);
std::string TrimRight(std::string_view S);
int CompareText(std::string_view A, std::string_view B);  // ASCII case-insensitive, <0, 0, >0
bool SameText(std::string_view A, std::string_view B);
int CompareStr(std::string_view A, std::string_view B);  // byte-wise
std::string IntToStr(int64_t V);
std::string IntToHex(uint64_t V, int Digits);
// Quotes S with Quote, doubling every Quote inside.
std::string QuotedStr(std::string_view S, char Quote = '\'');

// Line break used by texts the library produces.
inline constexpr const char* sLineBreak = "\r\n";
