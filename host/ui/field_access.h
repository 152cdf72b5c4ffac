// Reading and writing record fields by their declaration, as values: what
// list columns, locators, ranges and update forms need to move data between
// a record buffer and the screen.
#pragma once

#include <cstdint>
#include <string_view>

#include "host/runtime/declaration.h"
#include "host/runtime/export.h"
#include "host/runtime/picture.h"

namespace nv {
class File;
}

namespace nv::ui {

// Numbers come back as integers (or doubles for decimals with places and
// reals), dates and times as day numbers and hundredths, strings clipped of
// nothing (as stored). Groups and memos read as their raw bytes as text.
NV_API nv::Value ReadField(const FieldDesc& field, const uint8_t* record);
// Stores a value; strings are blank-padded or cut. False for a field type
// that cannot take a value (a group) or a number that does not fit.
NV_API bool WriteField(const FieldDesc& field, uint8_t* record, const nv::Value& value);

// The same by label ("MA11:NOMBRE") over a file's record buffer; reading an
// unknown label gives an empty value, writing one answers false.
NV_API const FieldDesc* FindField(nv::File& file, std::string_view label);
NV_API nv::Value GetField(nv::File& file, std::string_view label);
NV_API bool SetField(nv::File& file, std::string_view label, const nv::Value& value);

// Compares two values the way keys compare them: texts after clipping
// (optionally without regard to case), numbers by value.
NV_API int CompareValues(const nv::Value& a, const nv::Value& b, bool no_case);

}  // namespace nv::ui
