// The library's exception family and the shape of its error events.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Classes.h"

// Base of every exception the library raises.
class EIB_Error : public Exception {
public:
  using Exception::Exception;
};

class EIB_ConnectionError : public EIB_Error {
public:
  using EIB_Error::EIB_Error;
};

class EIB_TransactionError : public EIB_Error {
public:
  using EIB_Error::EIB_Error;
};

class EIB_StatementError : public EIB_Error {
public:
  using EIB_Error::EIB_Error;
};

class EIB_DatasetError : public EIB_Error {
public:
  using EIB_Error::EIB_Error;
};

class EIB_ColumnError : public EIB_Error {
public:
  using EIB_Error::EIB_Error;
};

// A failed client-library call, with the server's full explanation. The exception owns copies of
// the lists; Sender is the object on whose behalf the call was made and is not owned (it may be
// gone by the time a handler looks at the exception).
class EIB_ISCError : public EIB_Error {
public:
  EIB_ISCError(TObject* ASender, const std::string& AMessage, int32_t AERRCODE, const TStrings& AErrorMessage,
               const TStrings& AErrorCodes, int32_t ASQLCODE, const TStrings& ASQLMessage, const TStrings& ASQL);
  EIB_ISCError(const EIB_ISCError& Other);
  EIB_ISCError& operator=(const EIB_ISCError&) = delete;
  ~EIB_ISCError() override;

  TObject* Sender;
  int32_t ERRCODE;
  int32_t SQLCODE;
  // "ISC ERROR CODE:n", "", "ISC ERROR MESSAGE:" and the server's texts; a statement whose prepare failed
  // adds the SQL text it sent.
  const TStringList& ErrorMessage() const { return *FErrorMessage; }
  // The status code of each text.
  const TStringList& ErrorCodes() const { return *FErrorCodes; }
  // "SQL ERROR CODE:n", "", "SQL ERROR MESSAGE:" and the SQL error's text; empty when it has none.
  const TStringList& SQLMessage() const { return *FSQLMessage; }
  // What the failing component adds: a statement names itself ("", "STATEMENT:", its class, owner and name).
  const TStringList& SQL() const { return *FSQL; }

private:
  std::unique_ptr<TStringList> FErrorMessage, FErrorCodes, FSQLMessage, FSQL;
};

// The shape of every OnError event of the library. A handler clears RaiseException to suppress
// the exception.
using TIB_ErrorEvent =
    std::function<void(TObject* Sender, int32_t ERRCODE, TStrings& ErrorMessage, TStrings& ErrorCodes, int32_t SQLCODE,
                       TStrings& SQLMessage, TStrings& SQL, bool& RaiseException)>;
