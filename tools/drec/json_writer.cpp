#include "tools/drec/json_writer.hpp"

#include <cmath>
#include <cstdio>

namespace drec {
namespace {

// Comma and line break before a value, unless it follows its key.
void beginValue(JsonWriter& json) {
  if (json.afterKey) {
    json.afterKey = false;
    return;
  }
  if (json.depth > 0) {
    if (!json.first) *json.out += ',';
    *json.out += '\n';
    json.out->append(static_cast<size_t>(json.depth) * 2, ' ');
  }
  json.first = false;
}

void open(JsonWriter& json, char bracket) {
  beginValue(json);
  *json.out += bracket;
  ++json.depth;
  json.first = true;
}

void close(JsonWriter& json, char bracket) {
  --json.depth;
  if (!json.first) {
    *json.out += '\n';
    json.out->append(static_cast<size_t>(json.depth) * 2, ' ');
  }
  *json.out += bracket;
  json.first = false;
  if (json.depth == 0) *json.out += '\n';
}

void appendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;  // names are byte strings: other bytes pass as they are
    }
  }
  out += '"';
}

}  // namespace

JsonWriter makeJsonWriter(std::string& out) { return JsonWriter{&out, 0, true, false}; }

void jsonBeginObject(JsonWriter& json) { open(json, '{'); }
void jsonEndObject(JsonWriter& json) { close(json, '}'); }
void jsonBeginArray(JsonWriter& json) { open(json, '['); }
void jsonEndArray(JsonWriter& json) { close(json, ']'); }

void jsonKey(JsonWriter& json, const char* key) {
  beginValue(json);
  appendQuoted(*json.out, key);
  *json.out += ": ";
  json.afterKey = true;
}

void jsonString(JsonWriter& json, std::string_view text) {
  beginValue(json);
  appendQuoted(*json.out, text);
}

void jsonInteger(JsonWriter& json, int64_t value) {
  beginValue(json);
  *json.out += std::to_string(value);
}

void jsonNumber(JsonWriter& json, double value) {
  beginValue(json);
  if (!std::isfinite(value)) {
    *json.out += "null";
    return;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.12g", value);
  *json.out += text;
}

void jsonFloat(JsonWriter& json, float value) {
  beginValue(json);
  if (!std::isfinite(value)) {
    *json.out += "null";
    return;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
  *json.out += text;
}

void jsonBool(JsonWriter& json, bool value) {
  beginValue(json);
  *json.out += value ? "true" : "false";
}

void jsonNull(JsonWriter& json) {
  beginValue(json);
  *json.out += "null";
}

void jsonBeginObject(JsonWriter& json, const char* key) {
  jsonKey(json, key);
  jsonBeginObject(json);
}

void jsonBeginArray(JsonWriter& json, const char* key) {
  jsonKey(json, key);
  jsonBeginArray(json);
}

void jsonField(JsonWriter& json, const char* key, std::string_view text) {
  jsonKey(json, key);
  jsonString(json, text);
}

void jsonField(JsonWriter& json, const char* key, const char* text) {
  jsonField(json, key, std::string_view(text));
}

void jsonField(JsonWriter& json, const char* key, double value) {
  jsonKey(json, key);
  jsonNumber(json, value);
}

void jsonField(JsonWriter& json, const char* key, float value) {
  jsonKey(json, key);
  jsonFloat(json, value);
}

void jsonField(JsonWriter& json, const char* key, bool value) {
  jsonKey(json, key);
  jsonBool(json, value);
}

}  // namespace drec
