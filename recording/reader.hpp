// RecordReader: the chunk loop. It drives a SegmentedStream chunk by chunk
// and walks each chunk's records with a handler, for every way of playing a
// recording (the player, drawing frames to files, scanning, timing).
//
// A handler has the walk's `triangle` and `frameMark` members and three
// hooks (ReadHooks gives do-nothing ones):
//   bool beforeChunk()                    false: stop before reading the next chunk
//   void chunkRead(const SegmentedStream&) a chunk has been read, before its walk
//   void walkEnded(const WalkEnd&)        the walk of a chunk has ended (not stopped)
//
// When `frameMark` asks to stop, readRecords returns at once and a later call
// goes on with the record after that mark, in the same chunk. The reader's
// whole state can be saved at any such stop (ReaderPosition) and taken up
// again later from the files, so that reading from a saved position gives
// exactly what reading on from there would have given.
#pragma once
#include <cstdint>

#include "recording/stream.hpp"
#include "recording/walk.hpp"

namespace drec {

struct ReadHooks {
  bool beforeChunk() { return true; }
  void chunkRead(const SegmentedStream&) {}
  void walkEnded(const WalkEnd&) {}
};

struct RecordReader {
  SegmentedStream* stream;
  bool chunkOpen;        // recordBuffer holds a chunk whose walk is not finished
  uint32_t offset;       // where the walk of that chunk goes on
  uint32_t startOffset;  // where the walk of the next chunk read starts
};

// The reader at a stop: the stream before the chunk's length word, and the
// record in the chunk where the walk goes on.
struct ReaderPosition {
  StreamPosition chunk;
  uint32_t recordOffset;
};

enum class ReadEnd {
  Stopped,   // the handler asked to stop (before a chunk or after a mark)
  Complete,  // the byte totals met: the recording ends here
  Ended,     // the reader ended the recording early (any message printed)
  Overflow,  // "Overflow on input buffer" printed: the program ends
};

inline RecordReader startReader(SegmentedStream& stream) { return RecordReader{&stream, false, 0, 0}; }

ReaderPosition readerPosition(const RecordReader& reader);
// Goes back (or on) to a position saved from this recording; false when its
// segment file does not open.
bool restoreReader(RecordReader& reader, const ReaderPosition& position);

template <typename Handler>
ReadEnd readRecords(RecordReader& reader, Handler& handler) {
  SegmentedStream& stream = *reader.stream;
  for (;;) {
    if (!reader.chunkOpen) {
      if (!hasMoreData(stream)) return ReadEnd::Complete;
      if (!handler.beforeChunk()) return ReadEnd::Stopped;
      const ChunkOutcome outcome = nextChunk(stream);
      if (outcome == ChunkOutcome::Overflow) return ReadEnd::Overflow;
      if (outcome == ChunkOutcome::EndOfRecording) return ReadEnd::Ended;
      reader.chunkOpen = true;
      reader.offset = reader.startOffset;
      reader.startOffset = 0;
      handler.chunkRead(stream);
    }
    const WalkEnd end = walkRecords(stream.recordBuffer, stream.recordLength, reader.offset, handler);
    reader.offset = end.offset;
    if (end.reason == WalkStop::Stopped) return ReadEnd::Stopped;
    reader.chunkOpen = false;
    handler.walkEnded(end);
  }
}

}  // namespace drec
