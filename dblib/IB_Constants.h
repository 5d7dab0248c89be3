// The library's message table: English texts by id (65040-65199), and raising by id.
#pragma once

#include <initializer_list>
#include <string>

#include "platform/SysUtils.h"

// The text of message Id; empty when the table has no such id.
const std::string& IB_LoadStr(int Id);

// Raises E with the text of Id, its placeholders filled with Args by safe substitution.
template <class E>
[[noreturn]] void IB_Raise(int Id, std::initializer_list<TFormatArg> Args = {}) {
  throw E(Format(IB_LoadStr(Id), Args));
}
