// A small JSON reader for what the drec tool prints with --json: objects,
// arrays, strings (a \uXXXX escape read back as UTF-8), numbers, true, false
// and null. A missing field or item fails the test and reads as null.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace drec::test {

struct Json {
  enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  // An object's members, each with its key in `name` (a list of pairs would
  // hold Json before it is complete, which not every standard library allows).
  std::vector<Json> fields;
  std::string name;

  const Json& operator[](const std::string& key) const {
    for (const Json& field : fields)
      if (field.name == key) return field;
    ADD_FAILURE() << "no field \"" << key << "\"";
    static const Json missing;
    return missing;
  }
  const Json& operator[](size_t index) const {
    if (index < items.size()) return items[index];
    ADD_FAILURE() << "no item " << index << " of " << items.size();
    static const Json missing;
    return missing;
  }
  bool has(const std::string& key) const {
    for (const Json& field : fields)
      if (field.name == key) return true;
    return false;
  }
  int64_t integer() const {
    EXPECT_EQ(Number, kind);
    EXPECT_EQ(number, std::floor(number)) << "not a whole number";
    return static_cast<int64_t>(number);
  }
  size_t size() const { return kind == Array ? items.size() : fields.size(); }
};

// The whole of `text` as one value (white space around it allowed).
bool parseJson(const std::string& text, Json& out);

}  // namespace drec::test
