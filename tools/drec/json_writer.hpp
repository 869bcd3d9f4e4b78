// A small JSON writer: one value appended at a time to a string, indented
// two spaces per level, with the commas placed for the caller.
#pragma once
#include <concepts>
#include <cstdint>
#include <optional>
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
// Text as bytes: well-formed UTF-8 is written as it is; any other byte (a
// file name need not be UTF-8) as \u00XX, the character of its Latin-1
// reading; quotes, backslashes and control bytes escaped.
void jsonString(JsonWriter& json, std::string_view text);
void jsonInteger(JsonWriter& json, int64_t value);
// Twelve significant digits; not-a-number and infinities are written as null.
void jsonNumber(JsonWriter& json, double value);
// A 32-bit float exactly (nine significant digits); null when not finite.
void jsonFloat(JsonWriter& json, float value);
void jsonBool(JsonWriter& json, bool value);
void jsonNull(JsonWriter& json);

// A key and its object or array, opened; closed by jsonEndObject or jsonEndArray.
void jsonBeginObject(JsonWriter& json, const char* key);
void jsonBeginArray(JsonWriter& json, const char* key);

// A key and its value. The value is written as its type asks: whole numbers
// (bool aside) with jsonInteger, double with jsonNumber, float with jsonFloat,
// text (not a null pointer) with jsonString, and an empty optional as null.
void jsonField(JsonWriter& json, const char* key, std::string_view text);
void jsonField(JsonWriter& json, const char* key, const char* text);
void jsonField(JsonWriter& json, const char* key, double value);
void jsonField(JsonWriter& json, const char* key, float value);
void jsonField(JsonWriter& json, const char* key, bool value);

template <std::integral Integer>
  requires(!std::same_as<Integer, bool>)
void jsonField(JsonWriter& json, const char* key, Integer value) {
  jsonKey(json, key);
  jsonInteger(json, static_cast<int64_t>(value));
}

template <typename Value>
void jsonField(JsonWriter& json, const char* key, const std::optional<Value>& value) {
  if (value) {
    jsonField(json, key, *value);
  } else {
    jsonKey(json, key);
    jsonNull(json);
  }
}

// `value` where `condition` holds, otherwise nothing: a field written as null.
template <typename Value>
std::optional<Value> nullUnless(bool condition, Value value) {
  return condition ? std::optional<Value>(value) : std::nullopt;
}

// An array under `key` holding one object for each of `items`, its fields
// written by `fields(item)`.
template <typename Items, typename Fields>
void jsonObjectList(JsonWriter& json, const char* key, Items&& items, Fields fields) {
  jsonBeginArray(json, key);
  for (auto&& item : items) {
    jsonBeginObject(json);
    fields(item);
    jsonEndObject(json);
  }
  jsonEndArray(json);
}

}  // namespace drec
