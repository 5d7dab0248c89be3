// Name helpers shared by rows and columns: the fixed-size name fields of an XSQLVAR, identifiers
// spelled for a dialect, and unique column names within a row.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "dblib/IB_Header.h"

// The text of an XSQLVAR name field; a length outside 0..32 is taken as far as it is valid.
std::string XSQLVARText(const char* Field, short Length);
// Stores Text (cut to 32 bytes) into an XSQLVAR name field and its length.
void SetXSQLVARText(char (&Field)[32], short& Length, const std::string& Text);
// Name spelled for Dialect as MakeSQLIdentExact does; an empty name stays empty.
std::string FormatSQLName(int Dialect, const std::string& Name);
// Makes Names unique (case-insensitively): each later duplicate becomes its base, "_" and a number,
// counting on until the result is free; a result longer than Limit keeps as much of the base as fits.
void MakeNamesUnique(std::vector<std::string>& Names, const std::vector<std::string>& Bases, size_t Limit);
