// Reading "10,0,5,0" number lists (markup values, image strings) without accepting half a list.
#pragma once

#include <windows.h>

#include <string>

namespace nbase {

// Reads exactly `count` decimal integers, each but the last followed by one separator
// character. On any shortfall nothing is written and false is returned, so an ill-formed
// value leaves the attribute it was meant for unchanged.
bool ParseIntList(const std::wstring& value, int* out, int count);
bool ParseRectList(const std::wstring& value, RECT* rect);
bool ParseSizeList(const std::wstring& value, SIZE* size);
bool ParseSingleInt(const std::wstring& value, int* out);

}  // namespace nbase
