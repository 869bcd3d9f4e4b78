#include "recording/reader.hpp"

namespace drec {

ReaderPosition readerPosition(const RecordReader& reader) {
  if (reader.chunkOpen) return ReaderPosition{reader.stream->chunkStart, reader.offset};
  return ReaderPosition{streamPosition(*reader.stream), reader.startOffset};
}

bool restoreReader(RecordReader& reader, const ReaderPosition& position) {
  reader.chunkOpen = false;
  reader.offset = 0;
  reader.startOffset = position.recordOffset;
  return restoreStream(*reader.stream, position.chunk);
}

}  // namespace drec
