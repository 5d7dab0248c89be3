// Readable texts of an XSQLDA and of its XSQLVARs: the parameter and column values that the client-call
// monitor writes for prepare, execute and fetch calls. The routines only read the descriptor (its names,
// types, data and indicators); nothing is converted back, and nothing they are given is kept.
#pragma once

#include <string>

#include "dblib/IB_Header.h"

// " Version v SQLd d SQLn n", then one line per variable in use (at most sqln): CR LF, two blanks, the
// variable's label (owner only WithOwner, relation, column, "[alias]" when it differs) and " = " and its
// value. A nil DA gives an empty text. A variable whose value cannot be shown (an unsupported type with a
// scale) shows "<Unsupported column type>" instead of raising.
void DumpXSQLDA(const XSQLDA* DA, bool WithOwner, std::string& Result);
// The value of one variable: "<NULL>", "<NIL>", or the text of its type. Raises Exception "Unsupported
// column type" for a scale on a type that has no scaled form.
void DumpXSQLVAR(const XSQLVAR& Var, std::string& Result);
// "( high, low )" of an ISC_QUAD: the high part signed, the low part unsigned.
void QuadText(const ISC_QUAD& Quad, std::string& Result);
