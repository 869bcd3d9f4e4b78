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

// The length of the well-formed UTF-8 sequence at `bytes`, or 0: overlong
// forms, surrogates (U+D800 to U+DFFF) and code points above U+10FFFF are
// not well formed.
size_t utf8SequenceLength(const unsigned char* bytes, size_t available) {
  const unsigned char lead = bytes[0];
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80;  // the range of the byte after the lead
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // below: overlong
    if (lead == 0xED) high = 0x9F;  // above: surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // below: overlong
    if (lead == 0xF4) high = 0x8F;  // above: past U+10FFFF
  } else {
    return 0;  // a continuation byte, C0, C1 or F5 to FF
  }
  if (available < length || bytes[1] < low || bytes[1] > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if (bytes[i] < 0x80 || bytes[i] > 0xBF) return 0;
  return length;
}

void appendEscaped(std::string& out, unsigned char byte) {
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
  out += escaped;
}

// Names are byte strings: well-formed UTF-8 passes as it is, and every other
// byte is written as the character of its Latin-1 reading, so that any name
// gives valid JSON.
void appendQuoted(std::string& out, std::string_view text) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  out += '"';
  for (size_t at = 0; at < size;) {
    const unsigned char byte = bytes[at];
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += static_cast<char>(byte);
    } else if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      appendEscaped(out, byte);
    } else if (const size_t length = utf8SequenceLength(bytes + at, size - at); length > 0) {
      out.append(text.data() + at, length);
      at += length;
      continue;
    } else {
      appendEscaped(out, byte);
    }
    ++at;
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
