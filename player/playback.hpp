// The player's main flow, from the recording's name to the final key:
// start-up, the chunk loop with its record walk, and the end sequence.
// Everything outside comes in through the file, console, GL and service
// tables, so that tests and fuzzers run the same flow on in-memory files with
// a fake clock and no window.
#pragma once
#include "platform/console.hpp"
#include "platform/files.hpp"
#include "platform/services.hpp"
#include "render/gl_api.hpp"

namespace drec {

constexpr const char kDefaultRecordingName[] = "Video/Stream/Recording_12_01_2013_13_41_13.%i.rec";

// Exit statuses: 0 played to its end (or the user quit), 1 the recording
// could not be played or something damaged was met.
constexpr int kExitPlayed = 0;
constexpr int kExitFailed = 1;

// Runs the whole flow for `recordingName` (empty: the default name).
int runPlayer(const char* recordingName, const FileAccess& files, const Console& console,
              const GlApi& gl, const PlaybackServices& services);

}  // namespace drec
