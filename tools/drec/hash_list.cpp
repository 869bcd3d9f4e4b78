#include "tools/drec/hash_list.hpp"

#include <cinttypes>
#include <cstring>
#include <utility>

#include "tools/drec/output.hpp"

namespace drec {
namespace {

constexpr char kListHeader[] = "# drec hash ";
constexpr size_t kListHeaderLength = sizeof kListHeader - 1;
constexpr size_t kHashNameLength = sizeof kHashName - 1;
constexpr size_t kHashDigits = 16;

int hexDigit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "FRAME TIME HASH": FRAME decimal digits, TIME any word without a space.
bool parseHashLine(const uint8_t* line, size_t length, int64_t& frame, uint64_t& hash) {
  size_t at = 0;
  int64_t number = 0;
  for (; at < length && line[at] >= '0' && line[at] <= '9'; ++at) {
    if (number > (INT64_MAX - 9) / 10) return false;
    number = number * 10 + (line[at] - '0');
  }
  if (at == 0 || at == length || line[at] != ' ') return false;
  const size_t time = ++at;
  while (at < length && line[at] != ' ') ++at;
  if (at == time || at == length) return false;
  ++at;
  if (length - at != kHashDigits) return false;
  hash = 0;
  for (; at < length; ++at) {
    const int value = hexDigit(line[at]);
    if (value < 0) return false;
    hash = hash << 4 | static_cast<uint64_t>(value);
  }
  frame = number;
  return true;
}

bool fail(HashListError& error, int64_t line, std::string text) {
  error.line = line;
  error.text = std::move(text);
  return false;
}

}  // namespace

void appendHashListHeader(std::string& out, int width, int height) {
  out += kListHeader;
  appendFormat(out, "%s rgb %dx%d\n", kHashName, width, height);
}

void appendHashLine(std::string& out, int64_t frame, float timeStamp, uint64_t hash) {
  appendFormat(out, "%" PRId64 " %.6f %016" PRIx64 "\n", frame, static_cast<double>(timeStamp), hash);
}

bool parseHashList(HashList& list, const uint8_t* bytes, size_t size, HashListError& error) {
  for (size_t start = 0; start < size;) {
    const void* newline = std::memchr(bytes + start, '\n', size - start);
    const size_t end = newline ? static_cast<size_t>(static_cast<const uint8_t*>(newline) - bytes) : size;
    const uint8_t* line = bytes + start;
    size_t length = end - start;
    start = end + 1;
    const int64_t number = ++list.lines;
    if (length > 0 && line[length - 1] == '\r') --length;
    if (length > kMaxHashLineLength) {
      std::string text;
      appendFormat(text, "longer than %zu bytes", kMaxHashLineLength);
      return fail(error, number, text);
    }
    if (length == 0) continue;
    if (line[0] == '#') {
      // A list of another hash cannot be compared; other comments are skipped.
      const bool ours = length >= kListHeaderLength + kHashNameLength &&
                        std::memcmp(line + kListHeaderLength, kHashName, kHashNameLength) == 0 &&
                        (length == kListHeaderLength + kHashNameLength ||
                         line[kListHeaderLength + kHashNameLength] == ' ');
      if (length >= kListHeaderLength && std::memcmp(line, kListHeader, kListHeaderLength) == 0 && !ours)
        return fail(error, number, std::string("not a list of ") + kHashName + " hashes");
      continue;
    }
    int64_t frame = 0;
    uint64_t hash = 0;
    if (!parseHashLine(line, length, frame, hash))
      return fail(error, number, "not \"FRAME TIME HASH\" (HASH 16 hexadecimal digits)");
    // Frames in order from 0: a frame number never sizes anything.
    if (frame != static_cast<int64_t>(list.hashes.size())) {
      std::string text;
      appendFormat(text, "frame %" PRId64 " where frame %zu comes next", frame, list.hashes.size());
      return fail(error, number, text);
    }
    list.hashes.push_back(hash);
  }
  return true;
}

}  // namespace drec
