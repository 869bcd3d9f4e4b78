#include "recording/stream.hpp"

#include <cstdio>
#include <cstring>

namespace drec {
namespace {

constexpr const char kSegmentMarker[] = "%i";

void printDamagedChunk(SegmentedStream& stream, int32_t segment, int64_t offset) {
  // Names the segment file and the byte offset of the chunk's length word.
  char message[128];
  char number[24];
  formatDecimal(offset, number);
  segmentFileName(stream.segmentTemplate, segment, stream.segmentName, stream.segmentNameSize);
  std::snprintf(message, sizeof message, "Damaged chunk at byte %s of ", number);
  printText(*stream.console, message);
  printText(*stream.console, stream.segmentName);
  printLine(*stream.console, ", skipped");
}

int64_t readCurrent(SegmentedStream& stream, uint8_t* destination, int64_t count) {
  int64_t delivered = readBytes(*stream.files, stream.file, destination, count);
  stream.filePosition += delivered;
  return delivered;
}

// One inflate over the whole chunk: the same bytes and the same success or
// failure as a one-shot uncompress, without allocating per chunk.
bool inflateChunk(SegmentedStream& stream, int32_t length) {
  z_stream& z = stream.inflater;
  if (!stream.inflaterReady || inflateReset(&z) != Z_OK) return false;
  z.next_in = stream.compressedBuffer;
  z.avail_in = static_cast<uInt>(length);
  z.next_out = stream.recordBuffer;
  z.avail_out = kMaxRecordLength;
  int status = inflate(&z, Z_FINISH);
  stream.recordLength = static_cast<uint32_t>(kMaxRecordLength - z.avail_out);
  return status == Z_STREAM_END;
}

}  // namespace

bool segmentFileName(const char* segmentTemplate, int64_t number, char* name, size_t capacity) {
  if (capacity == 0) return std::strstr(segmentTemplate, kSegmentMarker) != nullptr;
  const char* marker = std::strstr(segmentTemplate, kSegmentMarker);
  if (!marker) {
    std::snprintf(name, capacity, "%s", segmentTemplate);
    return false;
  }
  char digits[24];
  formatDecimal(number, digits);
  std::snprintf(name, capacity, "%.*s%s%s", static_cast<int>(marker - segmentTemplate),
                segmentTemplate, digits, marker + 2);
  return true;
}

size_t segmentNameCapacity(const char* segmentTemplate) {
  return std::strlen(segmentTemplate) + 24;  // room for any decimal number
}

StartOutcome startStream(SegmentedStream& stream, const FileAccess& files, const Console& console,
                         const char* segmentTemplate, uint8_t header[kHeaderSize]) {
  closeStream(stream);
  stream.multiSegment = false;
  stream.damaged = false;
  stream.recordLength = 0;
  stream.chunkStart = StreamPosition{};
  stream.chunkLength = 0;
  stream.chunkBytesPresent = 0;
  stream.chunkProblem = ChunkProblem::None;
  stream.files = &files;
  stream.console = &console;
  stream.segmentTemplate = segmentTemplate;
  stream.segmentNameSize = segmentNameCapacity(segmentTemplate);
  stream.segmentName = new char[stream.segmentNameSize];
  stream.multiSegment =
      segmentFileName(segmentTemplate, 0, stream.segmentName, stream.segmentNameSize);
  stream.file = files.open(files.context, stream.segmentName);
  if (stream.file < 0) return StartOutcome::OpenFailed;
  stream.firstSegmentLength = files.length(files.context, stream.file);
  stream.bytesAvailable = stream.firstSegmentLength - kHeaderSize;
  stream.bytesConsumed = 0;
  stream.segmentNumber = 0;
  std::memset(header, 0, kHeaderSize);
  int64_t delivered = readAtPosition(files, stream.file, 1, header, kHeaderSize);
  // A shorter file leaves the position at its end; the next read delivers nothing.
  stream.filePosition = delivered;
  return StartOutcome::Opened;
}

void createStreamBuffers(SegmentedStream& stream) {
  stream.compressedBuffer = new uint8_t[kMaxCompressedLength];
  stream.recordBuffer = new uint8_t[kMaxRecordLength];
  stream.recordLength = 0;
  stream.inflater = z_stream{};
  stream.inflaterReady = inflateInit(&stream.inflater) == Z_OK;
}

bool hasMoreData(const SegmentedStream& stream) {
  return stream.bytesConsumed < stream.bytesAvailable;
}

ChunkOutcome nextChunk(SegmentedStream& stream) {
  const FileAccess& files = *stream.files;
  stream.recordLength = kMaxRecordLength;
  stream.chunkStart = streamPosition(stream);
  stream.chunkBytesPresent = 0;
  stream.chunkProblem = ChunkProblem::None;

  // A length word cut by the end of a segment keeps the bytes that were
  // there; the missing high-order bytes read as zero (at the very end of a
  // file the word reads as 0). Without an open file it reads as -1.
  int32_t length = -1;
  if (stream.file >= 0) {
    uint8_t lengthWord[4];
    readCurrent(stream, lengthWord, 4);
    length = loadI32(lengthWord);
  }
  stream.chunkLength = length;

  if (length < 0) {
    printLine(*stream.console, "bad luck end of file");
    stream.damaged = true;
    stream.chunkProblem = ChunkProblem::NegativeLength;
    return ChunkOutcome::EndOfRecording;
  }
  if (length > kMaxCompressedLength) {
    printLine(*stream.console, "Overflow on input buffer");
    stream.damaged = true;
    stream.chunkProblem = ChunkProblem::LengthOverLimit;
    return ChunkOutcome::Overflow;
  }

  int64_t readCount = readCurrent(stream, stream.compressedBuffer, length);
  stream.chunkBytesPresent = readCount;
  if (readCount < length && stream.multiSegment) {
    // The chunk continues in the next segment, and into that one only.
    files.close(files.context, stream.file);
    stream.file = kNoFile;
    ++stream.segmentNumber;
    segmentFileName(stream.segmentTemplate, stream.segmentNumber, stream.segmentName,
                    stream.segmentNameSize);
    stream.file = files.open(files.context, stream.segmentName);
    if (stream.file < 0) {
      printLine(*stream.console, stream.segmentName);
      printLine(*stream.console, "Broken Stream");
      stream.damaged = true;
      stream.chunkProblem = ChunkProblem::NextSegmentMissing;
      return ChunkOutcome::EndOfRecording;
    }
    int64_t segmentLength = files.length(files.context, stream.file);
    if (stream.firstSegmentLength > segmentLength) stream.multiSegment = false;
    stream.bytesAvailable += segmentLength;
    stream.filePosition = 0;
    stream.chunkBytesPresent +=
        readCurrent(stream, stream.compressedBuffer + readCount, length - readCount);
  }
  // Whatever is still missing was zero-filled by the reads.

  bool inflated = length > 0 && inflateChunk(stream, length);
  stream.bytesConsumed += static_cast<int64_t>(length) + 4;
  // A chunk cut short by the end of the recording is never walked.
  if (stream.bytesConsumed > stream.bytesAvailable) {
    stream.chunkProblem = ChunkProblem::CutShort;
    return ChunkOutcome::EndOfRecording;
  }

  if (length == 0) {
    stream.recordLength = 0;  // an empty chunk: nothing to walk
  } else if (!inflated) {
    // Never walk stale bytes of an earlier chunk or a half-decoded prefix.
    stream.recordLength = 0;
    stream.damaged = true;
    // A full output buffer without the stream's end: the records need more room.
    stream.chunkProblem = stream.inflaterReady && stream.inflater.avail_out == 0
                              ? ChunkProblem::RecordsOverLimit
                              : ChunkProblem::InflateFailed;
    printDamagedChunk(stream, stream.chunkStart.segmentNumber, stream.chunkStart.filePosition);
  }
  return ChunkOutcome::Chunk;
}

StreamPosition streamPosition(const SegmentedStream& stream) {
  return StreamPosition{stream.segmentNumber, stream.filePosition, stream.bytesAvailable,
                        stream.bytesConsumed, stream.multiSegment};
}

bool restoreStream(SegmentedStream& stream, const StreamPosition& position) {
  const FileAccess& files = *stream.files;
  if (stream.file < 0 || stream.segmentNumber != position.segmentNumber) {
    if (stream.file >= 0) files.close(files.context, stream.file);
    segmentFileName(stream.segmentTemplate, position.segmentNumber, stream.segmentName,
                    stream.segmentNameSize);
    stream.file = files.open(files.context, stream.segmentName);
  }
  stream.segmentNumber = position.segmentNumber;
  stream.bytesAvailable = position.bytesAvailable;
  stream.bytesConsumed = position.bytesConsumed;
  stream.multiSegment = position.multiSegment;
  stream.filePosition = position.filePosition;
  if (stream.file >= 0 && files.seek(files.context, stream.file, position.filePosition))
    return true;
  if (stream.file >= 0) files.close(files.context, stream.file);
  stream.file = kNoFile;
  return false;
}

SegmentedStream::~SegmentedStream() { closeStream(*this); }

void closeStream(SegmentedStream& stream) {
  if (stream.file >= 0 && stream.files) stream.files->close(stream.files->context, stream.file);
  stream.file = kNoFile;
  if (stream.inflaterReady) inflateEnd(&stream.inflater);
  stream.inflaterReady = false;
  delete[] stream.compressedBuffer;
  delete[] stream.recordBuffer;
  delete[] stream.segmentName;
  stream.compressedBuffer = nullptr;
  stream.recordBuffer = nullptr;
  stream.segmentName = nullptr;
}

}  // namespace drec
