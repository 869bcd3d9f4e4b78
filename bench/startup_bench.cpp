// startup_bench: time from process start to the first present, with 32
// textures of 256 x 256 pixels, on the real start-up path.
//
// Writes a recording whose 32 texture slots are all used and 32 BMP files of
// 256 x 256 pixels at 24 bits beside it, in a temporary folder. Each run then
// starts this program afresh as a new process (fork and exec, so the dynamic
// loading of SDL and the GL driver counts) in its child mode, which runs the
// player's main flow (runPlayer) with the real seams of drec-player: real
// files, standard output (sent to /dev/null), the real GL table, and the real
// display (an SDL window with its GL context). The child stops at the first
// present, right after the swap returns: the window is mapped and the first
// frame (the cleared screen) shown. It reports its clock readings through a
// pipe; the monotonic clock is shared by both processes.
//
// Prints, over the runs, the best, median and worst of: the whole time from
// the fork to the end of the first present, and its parts (to main, opening
// the display, render set-up and loading the textures, the first present);
// and the child's peak resident memory at that point.
// Needs an X server: run under Xvfb with DISPLAY set.
//
// Usage: startup_bench [runs]   (default: 10)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "platform/console.hpp"
#include "platform/display.hpp"
#include "platform/files.hpp"
#include "player/playback.hpp"
#include "render/gl_api.hpp"
#include "tools/writer/bmp_writer.hpp"
#include "tools/writer/recording_writer.hpp"

namespace drec {
namespace {

constexpr char kRecordingName[] = "startup.rec";
constexpr int kTextureSide = 256;
constexpr int16_t kWidth = 640;
constexpr int16_t kHeight = 480;

// Clock readings of one child, in the order they are taken.
struct Readings {
  double main;          // entry to main
  double displayAsked;  // the flow asks for the display
  double displayOpen;   // window and context ready
  double presentAsked;  // the first present starts: textures loaded
  double presentDone;   // the swap has returned
  double residentMegabytes;  // peak resident memory of the child by then
};

TextureKey keyOfSlot(int slot) { return 0x5EED000000000000ull + static_cast<TextureKey>(slot) * 0x1111; }

bool writeInputs(const std::string& folder) {
  TextureTable keys{};
  for (int slot = 1; slot <= kTextureSlotCount; ++slot) keys[slot] = keyOfSlot(slot);
  RecordingWriter writer;
  beginRecording(writer, kWidth, kHeight, keys);
  for (int frame = 0; frame < 10; ++frame) {
    for (int slot = 0; slot <= kTextureSlotCount; ++slot) {
      const uint8_t x = static_cast<uint8_t>(slot * 6);
      const TriangleVertex vertices[3] = {{0, 0, x, 10, 40000, 0xFFFF},
                                          {255, 0, static_cast<uint8_t>(x + 30), 10, 40000, 0xFFFF},
                                          {0, 255, x, 60, 40000, 0xFFFF}};
      writeTriangle(writer, triangleState(slot, 0), vertices);
    }
    writeFrameMark(writer, static_cast<float>(frame) / 60.0f);
  }
  if (!writeBytesToFile(folder + "/" + kRecordingName, finishRecording(writer))) return false;

  BmpWriteSpec layout;
  layout.width = kTextureSide;
  layout.height = kTextureSide;
  layout.depth = 24;
  std::vector<uint32_t> pixels(static_cast<size_t>(kTextureSide * kTextureSide));
  for (int slot = 1; slot <= kTextureSlotCount; ++slot) {
    for (size_t i = 0; i < pixels.size(); ++i)
      pixels[i] = static_cast<uint32_t>((i * 2654435761u) ^ (static_cast<uint32_t>(slot) << 16)) & 0xFFFFFF;
    char name[64];
    std::snprintf(name, sizeof name, "/Video/TexDump/%016llX.bmp",
                  static_cast<unsigned long long>(keyOfSlot(slot)));
    if (!writeBytesToFile(folder + name, writeBmp(layout, pixels))) return false;
  }
  return true;
}

// The child: the player's flow with drec-player's real seams.
struct Child {
  Display display;
  Readings readings;
  int reportFd;
};

double childClock(void*) { return clockSeconds(); }
void childSleep(void*, int64_t milliseconds) { sleepMilliseconds(milliseconds); }
void childPresent(void* context) {
  Child& child = *static_cast<Child*>(context);
  child.readings.presentAsked = clockSeconds();
  presentDisplay(child.display);
  child.readings.presentDone = clockSeconds();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  child.readings.residentMegabytes = static_cast<double>(usage.ru_maxrss) / 1024.0;
  // The first present is where start-up ends: report and stop here.
  const bool sent = write(child.reportFd, &child.readings, sizeof child.readings) ==
                    static_cast<ssize_t>(sizeof child.readings);
  _exit(sent ? 0 : 1);
}
bool childKeyHeld(void* context, int scanCode) {
  return keyHeld(static_cast<Child*>(context)->display, scanCode);
}
KeyEntry childNextKey(void* context) { return nextKey(static_cast<Child*>(context)->display); }
bool childOpenDisplay(void* context, int width, int height) {
  Child& child = *static_cast<Child*>(context);
  child.readings.displayAsked = clockSeconds();
  const bool opened = openDisplay(child.display, width, height, "startup_bench");
  child.readings.displayOpen = clockSeconds();
  return opened;
}
void childConsoleKeyWait(void*) {}
bool childKeyCanArrive(void*) { return false; }

int runChild(const char* folder, int reportFd) {
  Child child{};
  child.readings.main = clockSeconds();
  child.reportFd = reportFd;
  if (chdir(folder) != 0) return 1;
  const PlaybackServices services{&child,        childClock,       childSleep,
                                  childPresent,  childKeyHeld,     childNextKey,
                                  childOpenDisplay, childConsoleKeyWait, childKeyCanArrive};
  runPlayer(kRecordingName, realFileAccess(), standardOutputConsole(), realGlApi(), services);
  return 1;  // only reached when the flow never presented
}

// Starts one child and returns its readings, with `launched` the clock just
// before the fork. False when the child failed or took over 60 s.
bool runOnce(const char* self, const std::string& folder, double& launched, Readings& readings) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return false;
  launched = clockSeconds();
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    close(pipeFds[0]);
    const int quiet = open("/dev/null", O_WRONLY);
    if (quiet >= 0) dup2(quiet, STDOUT_FILENO);
    char fdText[16];
    std::snprintf(fdText, sizeof fdText, "%d", pipeFds[1]);
    execl(self, self, "--child", folder.c_str(), fdText, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeFds[1]);
  pollfd waiting{pipeFds[0], POLLIN, 0};
  size_t got = 0;
  while (got < sizeof readings && poll(&waiting, 1, 60000) > 0) {
    const ssize_t n = read(pipeFds[0], reinterpret_cast<char*>(&readings) + got, sizeof readings - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  close(pipeFds[0]);
  if (got < sizeof readings) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  return got == sizeof readings && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct Figure {
  const char* name;
  std::vector<double> milliseconds;
};

void printFigure(Figure figure) {
  std::sort(figure.milliseconds.begin(), figure.milliseconds.end());
  const size_t n = figure.milliseconds.size();
  std::printf("  %-44s best %7.1f ms   median %7.1f ms   worst %7.1f ms\n", figure.name,
              figure.milliseconds[0], figure.milliseconds[n / 2], figure.milliseconds[n - 1]);
}

int runParent(const char* self, int runs) {
  const char* x = std::getenv("DISPLAY");
  if (!x || !*x) {
    std::printf("startup_bench needs an X server: run under Xvfb with DISPLAY set\n");
    return 1;
  }
  char pattern[] = "/tmp/drec-startup-bench-XXXXXX";
  if (!mkdtemp(pattern)) {
    std::printf("cannot make a temporary folder\n");
    return 1;
  }
  const std::string folder = pattern;
  if (!writeInputs(folder)) {
    std::printf("cannot write the recording and textures to %s\n", folder.c_str());
    std::filesystem::remove_all(folder);
    return 1;
  }
  std::printf("%d runs: a %d x %d recording with %d textures of %d x %d (24-bit BMP), from %s\n",
              runs, kWidth, kHeight, kTextureSlotCount, kTextureSide, kTextureSide, x);

  Figure total{"process start to first present shown", {}};
  Figure toMain{"  process start to main", {}};
  Figure toDisplay{"  main to asking for the display", {}};
  Figure display{"  opening the display (window, GL context)", {}};
  Figure textures{"  render set-up and loading 32 textures", {}};
  Figure present{"  the first present", {}};
  std::vector<double> resident;
  bool ok = true;
  // One run first, not counted, so that every counted run finds the files
  // and libraries in the page cache.
  for (int run = -1; run < runs && ok; ++run) {
    double launched = 0;
    Readings r{};
    ok = runOnce(self, folder, launched, r);
    if (!ok || run < 0) continue;
    total.milliseconds.push_back((r.presentDone - launched) * 1e3);
    toMain.milliseconds.push_back((r.main - launched) * 1e3);
    toDisplay.milliseconds.push_back((r.displayAsked - r.main) * 1e3);
    display.milliseconds.push_back((r.displayOpen - r.displayAsked) * 1e3);
    textures.milliseconds.push_back((r.presentAsked - r.displayOpen) * 1e3);
    present.milliseconds.push_back((r.presentDone - r.presentAsked) * 1e3);
    resident.push_back(r.residentMegabytes);
  }
  std::filesystem::remove_all(folder);
  if (!ok) {
    std::printf("a run did not reach its first present\n");
    return 1;
  }
  for (const Figure* figure : {&total, &toMain, &toDisplay, &display, &textures, &present})
    printFigure(*figure);
  std::sort(resident.begin(), resident.end());
  std::printf("  peak resident memory at the first present: median %.1f MiB\n",
              resident[resident.size() / 2]);
  return 0;
}

}  // namespace
}  // namespace drec

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--child") == 0)
    return drec::runChild(argv[2], std::atoi(argv[3]));
  const int runs = argc > 1 ? std::atoi(argv[1]) : 10;
  if (runs < 1 || runs > 1000) {
    std::printf("usage: startup_bench [runs, 1-1000]\n");
    return 2;
  }
  return drec::runParent("/proc/self/exe", runs);
}
