// The problems a reading of a recording can meet, each with where it lies,
// and their messages in the tool's words.
#pragma once
#include <cstdint>
#include <string>

#include "tools/drec/recording_files.hpp"

namespace drec {

struct JsonWriter;

enum class ProblemKind {
  HeaderCutShort,      // segment 0 is shorter than the 264-byte header
  ScreenSize,          // width or height 0 or less: the player refuses it
  TextureMissing,      // a non-empty slot's file does not open
  TextureUndecodable,  // its headers fail a check of the BMP decoding
  TextureUnusable,     // its width and height give no texture
  TextureCutShort,     // its pixel rows end early
  SegmentGap,          // a segment number is missing while later ones exist
  ChunkCutShort,       // the last chunk is incomplete: not walked
  LengthNegative,      // the player ends the recording here
  LengthOverLimit,     // the player ends the program here
  InflateFailed,       // the chunk does not decompress: skipped
  RecordsOverLimit,    // it decompresses to more than 262,144 bytes: skipped
  InvalidRecordType,   // the rest of the chunk is skipped
  RecordPastChunk,     // a record runs past the end of its chunk
  UnreadSegment,       // a segment file after the recording's end
};

const char* problemKindName(ProblemKind kind);  // the JSON "kind"

// Why a segment file after the last one read is never read.
enum class UnreadReason {
  Gap,             // the segment after the last one read is missing
  Stopped,         // a problem ended the recording before
  ShorterSegment,  // the last one read is shorter than segment 0
  ExactEnd,        // the recording ends exactly at the end of the last one read
};

struct Problem {
  ProblemKind kind;
  int64_t segment;       // the segment file where it lies
  int64_t offset;        // byte offset in that file (a chunk's length word)
  int64_t frame;         // the frame in progress; -1: none applies
  int slot;              // texture problems: the slot (its key is at byte 8 x slot)
  int64_t recordOffset;  // record problems: offset in the chunk's decompressed bytes
  int64_t value;         // the length word, type value, bytes or rows present, ...
  int64_t limit;         // ... and what they are measured against
  int64_t otherSegment;  // gaps and unread segments: the missing or last read one
  const char* detail;    // a static text: zlib's or the BMP decoding's reason
  UnreadReason unreadReason;
  char playerMessage[512];  // what the player prints there, lines joined by " / "
};

// The location and the message, e.g.
// "rec.1.rec: byte 4100, frame 17: invalid record type 9 at byte 26 of ..."
std::string problemMessage(const OpenedRecording& recording, const Problem& problem);
std::string problemFile(const OpenedRecording& recording, const Problem& problem);
std::string problemLine(const OpenedRecording& recording, const Problem& problem);

// One problem's fields in an open JSON object, the same in every subcommand
// that lists problems: kind, file, offset, frame (null when none applies),
// text (problemMessage) and player_message (null when the player says nothing).
void writeProblemFields(JsonWriter& json, const OpenedRecording& recording, const Problem& problem);

}  // namespace drec
