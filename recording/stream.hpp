// SegmentedStream: a series of numbered segment files read as one stream of
// decompressed chunks.
//
// Segment n's file name is the template with its first "%i" replaced by n in
// plain decimal; a template without "%i" names one file. Only segment 0
// holds the header; each later segment continues the chunk stream from its
// first byte. The reader moves to the next segment only when a chunk's
// compressed bytes run short, and a later segment shorter than segment 0 is
// the last one. Where the recording ends follows from two running totals:
// the stream bytes the segments opened so far hold (`bytesAvailable`) and
// the bytes the chunks read so far used up (`bytesConsumed`); a chunk that
// would take the consumed total past the available one is never walked.
#pragma once
#include <zlib.h>

#include <cstddef>
#include <cstdint>

#include "platform/console.hpp"
#include "platform/files.hpp"
#include "recording/format.hpp"

namespace drec {

// Writes the name of segment `number` into `name` (terminated, truncated to
// `capacity`) and returns whether the template held "%i". The exact match is
// case-sensitive and only the first "%i" is replaced.
bool segmentFileName(const char* segmentTemplate, int64_t number, char* name, size_t capacity);
// Bytes a name buffer needs for any segment number of this template.
size_t segmentNameCapacity(const char* segmentTemplate);

// What the last nextChunk met, as a value, for tools that report on a
// recording; the messages above say the same to the console.
enum class ChunkProblem {
  None,
  NegativeLength,      // "bad luck end of file"
  LengthOverLimit,     // "Overflow on input buffer"
  NextSegmentMissing,  // the segment's name, then "Broken Stream"
  CutShort,            // incomplete at the end of the last segment: not walked
  InflateFailed,       // does not decompress: skipped as damaged
  RecordsOverLimit,    // decompresses to more than kMaxRecordLength: skipped
};

enum class ChunkOutcome {
  Chunk,           // recordBuffer holds recordLength bytes of records
  EndOfRecording,  // any message has been printed; run the end sequence
  Overflow,        // "Overflow on input buffer" printed; the program ends
};

// Where the stream stands between two chunks: enough to read on from there
// exactly as a reading from the start would (the end of the recording and
// "Broken Stream" included).
struct StreamPosition {
  int32_t segmentNumber;
  int64_t filePosition;  // 0-based offset of the chunk's length word in that segment
  int64_t bytesAvailable;
  int64_t bytesConsumed;
  bool multiSegment;
};

// Owns its open segment file, buffers and inflater, and releases them when
// closed or destroyed.
struct SegmentedStream {
  SegmentedStream() = default;
  SegmentedStream(const SegmentedStream&) = delete;
  SegmentedStream& operator=(const SegmentedStream&) = delete;
  ~SegmentedStream();

  const FileAccess* files = nullptr;
  const Console* console = nullptr;
  const char* segmentTemplate = nullptr;
  char* segmentName = nullptr;  // scratch for segment names, sized once at start
  size_t segmentNameSize = 0;
  bool multiSegment = false;
  int32_t segmentNumber = 0;
  int64_t firstSegmentLength = 0;
  int64_t bytesAvailable = 0;
  int64_t bytesConsumed = 0;
  FileHandle file = kNoFile;
  int64_t filePosition = 0;  // 0-based offset of the next unread byte of `file`
  uint8_t* compressedBuffer = nullptr;  // kMaxCompressedLength bytes
  uint8_t* recordBuffer = nullptr;      // kMaxRecordLength bytes
  uint32_t recordLength = 0;
  z_stream inflater{};  // made once; reset per chunk, so no allocation per chunk
  bool inflaterReady = false;
  bool damaged = false;  // something damaged was met: the run's exit status is 1
  // The last chunk: the stream as it stood before its length word was read
  // (its segment and the 0-based offset of the length word among it), the
  // length word, the compressed bytes the segment files held of it, and
  // what became of it.
  StreamPosition chunkStart{};
  int32_t chunkLength = 0;
  int64_t chunkBytesPresent = 0;
  ChunkProblem chunkProblem = ChunkProblem::None;
};

enum class StartOutcome { Opened, OpenFailed };

// Names segment 0, opens it, reads the 264-byte header (zero-filled where the
// file is shorter) and sets the totals. The file stays open at byte 264.
StartOutcome startStream(SegmentedStream& stream, const FileAccess& files, const Console& console,
                         const char* segmentTemplate, uint8_t header[kHeaderSize]);
// Allocates the two buffers and the inflater; once, after the magic is checked.
void createStreamBuffers(SegmentedStream& stream);
bool hasMoreData(const SegmentedStream& stream);
ChunkOutcome nextChunk(SegmentedStream& stream);
// Closes the open segment and releases the buffers; the destructor does it
// too, and a second close does nothing.
void closeStream(SegmentedStream& stream);

// Where the stream stands now, before its next length word.
StreamPosition streamPosition(const SegmentedStream& stream);
// Puts a started stream back where `position` was taken (from this
// recording): opens that segment and sets the totals. False when the
// segment does not open or seek there; the stream then has no file open.
bool restoreStream(SegmentedStream& stream, const StreamPosition& position);

}  // namespace drec
