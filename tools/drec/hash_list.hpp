// The list of frame hashes that drec hash prints and drec verify reads:
// a first line "# drec hash fnv1a-64 rgb WIDTHxHEIGHT", then one line per
// frame: frame number, recorded time in seconds (six decimals) and the hash
// as 16 lower-case hexadecimal digits, separated by single spaces.
//
// Reading: frames must come in order from 0; the time is any word (it is not
// compared); upper-case digits, blank lines, CR LF line ends and other lines
// starting with "#" are accepted. Nothing is held but 8 bytes per frame, and
// a list is read in pieces of whole lines, so a file of any length is read
// through a fixed buffer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace drec {

constexpr char kHashName[] = "fnv1a-64";
// Longer lines are refused: a frame's line is about 40 bytes.
constexpr size_t kMaxHashLineLength = 256;

void appendHashListHeader(std::string& out, int width, int height);
// No allocation once `out` has grown to a line's length.
void appendHashLine(std::string& out, int64_t frame, float timeStamp, uint64_t hash);

struct HashList {
  std::vector<uint64_t> hashes;  // by frame
  int64_t lines;                 // lines read so far
};

struct HashListError {
  int64_t line;      // 1 for the first line
  std::string text;  // e.g. "frame 2 where frame 1 comes next"
};

// Reads the lines in bytes[0, size) into `list`, after what earlier calls
// read: each piece holds whole lines, and a last line without "\n" counts.
// False at the first line that does not belong in a list, with why.
bool parseHashList(HashList& list, const uint8_t* bytes, size_t size, HashListError& error);

}  // namespace drec
