#include "tools/drec/problems.hpp"

#include "tools/drec/json_writer.hpp"

namespace drec {
namespace {

long long ll(int64_t value) { return static_cast<long long>(value); }

}  // namespace

const char* problemKindName(ProblemKind kind) {
  switch (kind) {
    case ProblemKind::HeaderCutShort: return "header_cut_short";
    case ProblemKind::ScreenSize: return "screen_size";
    case ProblemKind::TextureMissing: return "texture_missing";
    case ProblemKind::TextureUndecodable: return "texture_undecodable";
    case ProblemKind::TextureUnusable: return "texture_unusable";
    case ProblemKind::TextureCutShort: return "texture_cut_short";
    case ProblemKind::SegmentGap: return "segment_gap";
    case ProblemKind::ChunkCutShort: return "chunk_cut_short";
    case ProblemKind::LengthNegative: return "length_negative";
    case ProblemKind::LengthOverLimit: return "length_over_limit";
    case ProblemKind::InflateFailed: return "inflate_failed";
    case ProblemKind::RecordsOverLimit: return "records_over_limit";
    case ProblemKind::InvalidRecordType: return "invalid_record_type";
    case ProblemKind::RecordPastChunk: return "record_past_chunk";
    case ProblemKind::UnreadSegment: return "unread_segment";
  }
  return "unknown";
}

std::string problemFile(const OpenedRecording& recording, const Problem& problem) {
  return segmentName(recording.segmentTemplate, problem.segment);
}

std::string problemMessage(const OpenedRecording& recording, const Problem& problem) {
  std::string text;
  const std::string& name = recording.segmentTemplate;
  const std::string texture =
      problem.slot > 0 ? texturePath(recording.texturesDirectory, recording.header.keys[problem.slot]) : "";
  switch (problem.kind) {
    case ProblemKind::HeaderCutShort:
      appendFormat(text, "header cut short: %lld of its %lld bytes present", ll(problem.value),
                   ll(problem.limit));
      break;
    case ProblemKind::ScreenSize:
      appendFormat(text, "unusable screen size %lld x %lld: the player refuses the recording",
                   ll(problem.value), ll(problem.limit));
      break;
    case ProblemKind::TextureMissing:
      appendFormat(text, "texture slot %d: file missing: %s", problem.slot, texture.c_str());
      break;
    case ProblemKind::TextureUndecodable:
      appendFormat(text, "texture slot %d: %s cannot be decoded: %s", problem.slot, texture.c_str(),
                   problem.detail);
      break;
    case ProblemKind::TextureUnusable:
      appendFormat(text, "texture slot %d: %s gives no texture: %s", problem.slot, texture.c_str(),
                   problem.detail);
      break;
    case ProblemKind::TextureCutShort:
      appendFormat(text, "texture slot %d: %s cut short: %lld of %lld pixel rows present", problem.slot,
                   texture.c_str(), ll(problem.value), ll(problem.limit));
      break;
    case ProblemKind::SegmentGap:
      appendFormat(text, "gap in the segment numbering: %s is missing, %s exists",
                   segmentName(name, problem.otherSegment).c_str(),
                   segmentName(name, problem.value).c_str());
      if (problem.frame >= 0) text += "; the chunk here continues in the missing segment and the recording ends";
      break;
    case ProblemKind::ChunkCutShort:
      appendFormat(text, "chunk cut short: %lld of its %lld compressed bytes present; not walked",
                   ll(problem.value), ll(problem.limit));
      if (problem.otherSegment >= 0)
        appendFormat(text, "; it continues in %s, which does not exist",
                     segmentName(name, problem.otherSegment).c_str());
      break;
    case ProblemKind::LengthNegative:
      appendFormat(text, "length word %lld out of range (0 to %d): the recording ends here",
                   ll(problem.value), kMaxCompressedLength);
      break;
    case ProblemKind::LengthOverLimit:
      appendFormat(text, "length word %lld out of range (0 to %d): the player stops the program here",
                   ll(problem.value), kMaxCompressedLength);
      break;
    case ProblemKind::InflateFailed:
      appendFormat(text, "chunk of %lld compressed bytes does not decompress (%s); skipped",
                   ll(problem.value), problem.detail ? problem.detail : "its data ends early");
      break;
    case ProblemKind::RecordsOverLimit:
      appendFormat(text, "chunk decompresses to more than %lld bytes; skipped", ll(problem.limit));
      break;
    case ProblemKind::InvalidRecordType:
      appendFormat(text,
                   "invalid record type %lld at byte %lld of the chunk's %lld decompressed bytes; "
                   "the rest of the chunk is skipped",
                   ll(problem.value & 0xFF), ll(problem.recordOffset),
                   ll(problem.limit));
      break;
    case ProblemKind::RecordPastChunk:
      appendFormat(text,
                   "%s record at byte %lld runs past the end of the chunk's %lld decompressed bytes",
                   problem.value == kRecordTriangle ? "triangle" : "frame mark",
                   ll(problem.recordOffset), ll(problem.limit));
      break;
    case ProblemKind::UnreadSegment: {
      const std::string last = segmentName(name, problem.otherSegment);
      text = "segment file never read: ";
      switch (problem.unreadReason) {
        case UnreadReason::Gap:
          text += segmentName(name, problem.otherSegment + 1) + " is missing";
          break;
        case UnreadReason::Stopped:
          text += "the recording ends at the damage in " + last;
          break;
        case UnreadReason::ShorterSegment:
          text += last + " is shorter than " + segmentName(name, 0) + ", so the recording ends there";
          break;
        case UnreadReason::ExactEnd:
          text += "the recording ends exactly at the end of " + last;
          break;
      }
      break;
    }
  }
  if (problem.playerMessage[0]) appendFormat(text, " [player: \"%s\"]", problem.playerMessage);
  return text;
}

std::string problemLine(const OpenedRecording& recording, const Problem& problem) {
  std::string line = problemFile(recording, problem);
  appendFormat(line, ": byte %lld, frame %s: ", ll(problem.offset),
               decimalOrDash(problem.frame).c_str());
  line += problemMessage(recording, problem);
  line += '\n';
  return line;
}

void writeProblemFields(JsonWriter& json, const OpenedRecording& recording, const Problem& problem) {
  jsonField(json, "kind", problemKindName(problem.kind));
  jsonField(json, "file", problemFile(recording, problem));
  jsonField(json, "offset", problem.offset);
  jsonField(json, "frame", nullUnless(problem.frame >= 0, problem.frame));
  jsonField(json, "text", problemMessage(recording, problem));
  jsonField(json, "player_message", nullUnless<const char*>(problem.playerMessage[0] != 0, problem.playerMessage));
}

}  // namespace drec
