// A small JSON writer: one value appended at a time to a string, indented
// two spaces per level, with the commas placed for the caller.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace drec {

struct JsonWriter {
  std::string* out;
  int depth;
  bool first;     // no value yet at this level: no comma before the next one
  bool afterKey;  // a key was written: its value follows on the same line
};

JsonWriter makeJsonWriter(std::string& out);
void jsonBeginObject(JsonWriter& json);
void jsonEndObject(JsonWriter& json);
void jsonBeginArray(JsonWriter& json);
void jsonEndArray(JsonWriter& json);
void jsonKey(JsonWriter& json, const char* key);
void jsonString(JsonWriter& json, std::string_view text);
void jsonInteger(JsonWriter& json, int64_t value);
// Twelve significant digits; not-a-number and infinities are written as null.
void jsonNumber(JsonWriter& json, double value);
// A 32-bit float exactly (nine significant digits); null when not finite.
void jsonFloat(JsonWriter& json, float value);
void jsonBool(JsonWriter& json, bool value);
void jsonNull(JsonWriter& json);

}  // namespace drec
