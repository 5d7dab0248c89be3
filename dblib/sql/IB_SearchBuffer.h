// Query by example on the library's objects: describes a column for the translators of IB_ParseQBE and runs
// the search-text translation with its connection's settings and events (escape character, soundex, the
// search-buffer hook). Nothing is kept between calls.
#pragma once

#include <string>

#include "dblib/sql/IB_ParseQBE.h"

class TIB_Column;

// What the translators need of Column, copied: types, names, NOCASE expression and the attributes that
// change the translation.
TIB_QBEColumn QBEColumnOf(TIB_Column& Column);

// Adds the WHERE lines of SearchText for Column. The connection's OnProcessSearchBuffer sees the text first
// and may take over. Generated parameters go to ParamValues as name=value pairs and into the statement's
// ColumnAttributes. Nothing when Column or ParamValues is nil or SearchText is empty. Failures as
// SearchBufferToSQL of IB_ParseQBE.
void SearchBufferToSQL(TIB_Column* Column, const std::string& SearchText, TStrings* WhereLines, TStrings* Macros,
                       TStrings* ParamValues);
