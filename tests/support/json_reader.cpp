#include "tests/support/json_reader.hpp"

#include <cstdlib>

namespace drec::test {
namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A character of the Basic Multilingual Plane as UTF-8.
void appendUtf8(std::string& out, unsigned value) {
  if (value < 0x80) {
    out += static_cast<char>(value);
  } else if (value < 0x800) {
    out += static_cast<char>(0xC0 | value >> 6);
    out += static_cast<char>(0x80 | (value & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | value >> 12);
    out += static_cast<char>(0x80 | (value >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (value & 0x3F));
  }
}

struct JsonParser {
  const std::string& text;
  size_t at = 0;

  void space() {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\n' || text[at] == '\r' || text[at] == '\t'))
      ++at;
  }
  bool literal(const char* word) {
    size_t length = std::char_traits<char>::length(word);
    if (text.compare(at, length, word) != 0) return false;
    at += length;
    return true;
  }
  // Takes `c` if it comes next.
  bool take(char c) {
    if (at >= text.size() || text[at] != c) return false;
    ++at;
    return true;
  }
  // The items of an object or array, its opening bracket taken: none, or
  // `item`s separated by commas, then `close`.
  template <typename Item>
  bool list(char close, const Item& item) {
    space();
    if (take(close)) return true;
    do {
      if (!item()) return false;
      space();
    } while (take(','));
    return take(close);
  }
  bool string(std::string& out) {
    if (!take('"')) return false;
    while (at < text.size() && text[at] != '"') {
      char c = text[at++];
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at >= text.size()) return false;
      char escaped = text[at++];
      switch (escaped) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u': {
          if (at + 4 > text.size()) return false;
          unsigned value = 0;
          for (size_t end = at + 4; at < end; ++at) {
            const int digit = hexDigit(text[at]);
            if (digit < 0) return false;
            value = value << 4 | static_cast<unsigned>(digit);
          }
          // The tool writes no surrogate pairs: it escapes single bytes.
          if (value >= 0xD800 && value <= 0xDFFF) return false;
          appendUtf8(out, value);
          break;
        }
        default: return false;
      }
    }
    return take('"');
  }
  bool value(Json& out) {
    space();
    if (take('{')) {
      out.kind = Json::Object;
      return list('}', [&] {
        space();
        std::string key;
        Json item;
        if (!string(key)) return false;
        space();
        if (!take(':') || !value(item)) return false;
        item.name = key;
        out.fields.push_back(std::move(item));
        return true;
      });
    }
    if (take('[')) {
      out.kind = Json::Array;
      return list(']', [&] {
        Json item;
        if (!value(item)) return false;
        out.items.push_back(std::move(item));
        return true;
      });
    }
    if (at < text.size() && text[at] == '"') {
      out.kind = Json::String;
      return string(out.text);
    }
    if (literal("true")) return out.kind = Json::Bool, out.boolean = true, true;
    if (literal("false")) return out.kind = Json::Bool, out.boolean = false, true;
    if (literal("null")) return out.kind = Json::Null, true;
    const char* start = text.c_str() + at;
    char* end = nullptr;
    out.number = std::strtod(start, &end);
    if (end == start) return false;
    out.kind = Json::Number;
    at += static_cast<size_t>(end - start);
    return true;
  }
};

}  // namespace

bool parseJson(const std::string& text, Json& out) {
  JsonParser parser{text};
  if (!parser.value(out)) return false;
  parser.space();
  return parser.at == text.size();
}

}  // namespace drec::test
