#include "tests/support/json_reader.hpp"

#include <cstdlib>

namespace drec::test {
namespace {

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
          unsigned value = static_cast<unsigned>(std::stoul(text.substr(at, 4), nullptr, 16));
          at += 4;
          if (value >= 0x80) return false;  // the tool escapes control bytes only
          out += static_cast<char>(value);
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
