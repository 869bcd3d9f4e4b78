#include "platform/child_process.hpp"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace drec {
namespace {

// A frame of 640 x 480 RGB is 900 KiB: a pipe of 1 MiB (the unprivileged
// limit) takes it whole, with fewer wake-ups of either program per frame.
constexpr int kInputPipeBytes = 1 << 20;

void keepTail(ChildErrorTail& tail, const char* bytes, size_t count) {
  const size_t capacity = sizeof tail.text;
  if (count >= capacity) {
    std::memcpy(tail.text, bytes + count - capacity, capacity);
    tail.length = capacity;
    return;
  }
  if (tail.length + count > capacity) {
    const size_t drop = tail.length + count - capacity;
    std::memmove(tail.text, tail.text + drop, tail.length - drop);
    tail.length -= drop;
  }
  std::memcpy(tail.text + tail.length, bytes, count);
  tail.length += count;
}

void closeErrors(ChildProcess& child) {
  close(child.errors);
  child.errors = -1;
}

// Reads what the child's standard error holds now, without waiting.
void readErrors(ChildProcess& child) {
  char buffer[4096];
  while (child.errors >= 0) {
    const ssize_t count = read(child.errors, buffer, sizeof buffer);
    if (count > 0) {
      keepTail(child.tail, buffer, static_cast<size_t>(count));
    } else if (count == 0) {
      closeErrors(child);
    } else if (errno != EINTR) {
      if (errno != EAGAIN) closeErrors(child);
      return;
    }
  }
}

bool isExecutableFile(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         access(path.c_str(), X_OK) == 0;
}

void closeBoth(int (&ends)[2]) {
  close(ends[0]);
  close(ends[1]);
}

}  // namespace

bool findProgram(const char* name, std::string& path) {
  if (std::strchr(name, '/')) {
    path = name;
    return isExecutableFile(path);
  }
  const char* search = std::getenv("PATH");
  if (!search) search = "/usr/local/bin:/usr/bin:/bin";
  const char* start = search;
  while (true) {
    const char* colon = std::strchr(start, ':');
    const size_t length = colon ? static_cast<size_t>(colon - start) : std::strlen(start);
    path.clear();
    if (length > 0)
      path.append(start, length);
    else
      path.push_back('.');
    path.push_back('/');
    path.append(name);
    if (isExecutableFile(path)) return true;
    if (!colon) return false;
    start = colon + 1;
  }
}

bool startChild(ChildProcess& child, const std::vector<std::string>& arguments, int& error) {
  child.pid = -1;
  child.input = -1;
  child.errors = -1;
  child.tail.length = 0;
  if (arguments.empty()) {
    error = EINVAL;
    return false;
  }
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  int input[2];
  int errors[2];
  if (pipe2(input, O_CLOEXEC) != 0) {
    error = errno;
    return false;
  }
  if (pipe2(errors, O_CLOEXEC) != 0) {
    error = errno;
    closeBoth(input);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, errors[1], 2);
  // Nothing else of ours (the recording's files, the display's connection)
  // stays open in the child.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  // Signals this program ignores (SIGPIPE) would stay ignored in the child.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(input[0]);
  close(errors[1]);
  if (spawned != 0) {
    error = spawned;
    close(input[1]);
    close(errors[0]);
    return false;
  }
  child.pid = pid;
  child.input = input[1];
  child.errors = errors[0];
  fcntl(child.input, F_SETFL, fcntl(child.input, F_GETFL) | O_NONBLOCK);
  fcntl(child.errors, F_SETFL, fcntl(child.errors, F_GETFL) | O_NONBLOCK);
  fcntl(child.input, F_SETPIPE_SZ, kInputPipeBytes);  // a smaller pipe works too
  return true;
}

ChildWrite writeToChild(ChildProcess& child, const uint8_t* bytes, size_t count, size_t& written,
                        int& error) {
  written = 0;
  if (child.input < 0) return ChildWrite::Closed;
  while (written < count) {
    const ssize_t taken = write(child.input, bytes + written, count - written);
    if (taken > 0) {
      written += static_cast<size_t>(taken);
      continue;
    }
    if (taken < 0 && errno == EPIPE) return ChildWrite::Closed;
    if (taken < 0 && errno == EINTR) return ChildWrite::Interrupted;
    if (taken < 0 && errno != EAGAIN) {
      error = errno;
      return ChildWrite::Failed;
    }
    pollfd waits[2] = {{child.input, POLLOUT, 0}, {child.errors, POLLIN, 0}};
    const nfds_t waitCount = child.errors >= 0 ? 2 : 1;
    if (poll(waits, waitCount, -1) < 0) {
      if (errno == EINTR) return ChildWrite::Interrupted;
      error = errno;
      return ChildWrite::Failed;
    }
    if (waitCount == 2 && waits[1].revents != 0) readErrors(child);
  }
  return ChildWrite::Written;
}

ChildEnd finishChild(ChildProcess& child) {
  ChildEnd end{};
  if (child.input >= 0) {
    close(child.input);
    child.input = -1;
  }
  while (child.errors >= 0) {
    pollfd wait{child.errors, POLLIN, 0};
    if (poll(&wait, 1, -1) < 0 && errno != EINTR) {
      closeErrors(child);
      break;
    }
    readErrors(child);
  }
  if (child.pid <= 0) return end;
  int status = 0;
  rusage usage{};
  while (wait4(child.pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) return end;
  }
  child.pid = -1;
  end.exited = WIFEXITED(status);
  end.status = end.exited ? WEXITSTATUS(status) : 0;
  end.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  end.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return end;
}

}  // namespace drec
