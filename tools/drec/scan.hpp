// One pass over a recording, as the player would read it, gathering what
// `info` and `check` report: the header and its texture files, the segment
// files, every chunk through the player's reader, every record through the
// player's walk, the frame times, and each problem with where it lies.
//
// Each chunk is read once and nothing grows with the recording's length:
// problems go to a callback as they are found, and the lists kept in the
// report (pauses, time stamps, problems) hold at most kListedLimit entries
// while their counts stay exact.
//
// Numbering: frame n is the frame that the (n+1)-th frame mark closes, so a
// problem "in frame n" was met after n frame marks. A pause is an interval
// of 0.25 s or more between a frame's time stamp and the one before it
// (recording time 0, where the player starts its clock, for frame 0).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "player/pacer.hpp"
#include "render/bmp.hpp"
#include "tools/drec/problems.hpp"
#include "tools/drec/output.hpp"
#include "tools/drec/recording_files.hpp"

namespace drec {

constexpr size_t kListedLimit = 100;

struct TextureSlotReport {
  TextureKey key;
  bool present;
  int64_t fileSize;
  BmpDescription description;  // rowsPresent counts rows of the whole file
  bool fieldsKnown;            // width, height, depth, compression were read
  int64_t triangles;           // triangles drawn with this slot
};

struct PauseEntry {
  int64_t frame;
  float from;  // the previous time stamp (0 for frame 0)
  float to;
};
struct BackwardEntry {
  int64_t frame;
  float previous;
  float time;
};
struct NotFiniteEntry {
  int64_t frame;
  float time;
};

// Why reading stopped where it did.
enum class StreamEnd {
  Complete,  // the byte totals met: the player's recording ends here
  Stopped,   // a problem ended it (negative or over-long length word, missing segment, cut-short chunk)
};

struct ScanReport {
  int width;
  int height;
  int64_t headerBytesPresent;
  TextureSlotReport slots[kTextureSlotCount + 1];  // [0] unused

  std::vector<SegmentFile> segmentFiles;  // every file of the template that exists
  int64_t lastSegmentRead;                // segments 0 to this one were read
  StreamEnd end;
  bool shorterSegmentEnded;  // a later segment shorter than segment 0 was the last

  int64_t chunks;  // delivered by the reader (skipped damaged ones included)
  int64_t emptyChunks;
  int64_t skippedChunks;
  int64_t compressedBytes;    // length words of the chunks delivered
  int64_t decompressedBytes;  // records they decompressed to
  int64_t largestCompressed;
  int64_t largestDecompressed;

  int64_t frameMarks;
  int64_t triangles;
  int64_t pointRecords[2];  // types 3 and 4: each ends the walk of its chunk
  int64_t invalidRecords;
  int64_t recordsPastChunk;
  int64_t bytesNotWalked;  // decompressed bytes after a record that ended a walk

  int64_t trianglesMin;  // per frame; 0 when there is no frame
  int64_t trianglesMax;
  int64_t trianglesAfterLastMark;
  int64_t slotTriangles[32];
  int64_t blendTriangles[8];

  int64_t finiteTimes;
  float firstTime;  // first and last finite time stamps
  float lastTime;
  int64_t pauseCount;
  double pauseSeconds;  // the pauses' whole length
  double pauseCutSeconds;  // what the player leaves out: each pause less 0.25 s
  std::vector<PauseEntry> pauses;
  int64_t backwardCount;
  std::vector<BackwardEntry> backward;
  int64_t notFiniteCount;
  std::vector<NotFiniteEntry> notFinite;

  int64_t problemCount;
  std::vector<Problem> problems;
};

double recordedDuration(const ScanReport& report);  // last - first; 0 with fewer than two
double meanFramesPerSecond(const ScanReport& report);  // 0 when the duration is not positive
double meanTrianglesPerFrame(const ScanReport& report);

struct ScanCallbacks {
  void* context;
  void (*problem)(void* context, const OpenedRecording& recording, const Problem& problem);
};

// Reads the whole recording (from its header to where the player stops,
// then looks at the segment files beyond); progress on standard error.
void scanRecording(OpenedRecording& recording, ScanReport& report, const ScanCallbacks& callbacks);

// A blend mode's name: "opaque", "alpha blended", "colour unchanged", or
// for modes 3 to 7 "as the previous triangle" (the last 0, 1 or 2 stays).
const char* blendModeName(int mode);

}  // namespace drec
