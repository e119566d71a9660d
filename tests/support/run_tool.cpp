#include "run_tool.hpp"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace test_support {
namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

std::vector<std::string> split_words(const char* text) {
  std::vector<std::string> words;
  std::istringstream in(text == nullptr ? "" : text);
  for (std::string word; in >> word;) {
    words.push_back(word);
  }
  return words;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (std::string& s : strings) {
    result.push_back(s.data());
  }
  result.push_back(nullptr);
  return result;
}

// While a pause is on: true as long as the tool's stdout pipe is not yet full, so that
// reading it must wait. Once it is full the tool is held in a write; then on_pause runs and
// the pause ends.
bool wait_until_full(int fd, const run_input& input, bool& paused) {
  int queued = 0;
  const int capacity = ::fcntl(fd, F_GETPIPE_SZ);
  if (::ioctl(fd, FIONREAD, &queued) == 0 && queued < capacity) {
    ::usleep(1000);
    return true;
  }
  if (input.on_pause) {
    input.on_pause();
  }
  paused = false;
  return false;
}

}  // namespace

run_result run_tool(const std::vector<std::string>& args, const run_input& input) {
  std::vector<std::string> argv = input.prefix;
  const std::vector<std::string> env_prefix = split_words(std::getenv("TAPESTAMP_EXEC_PREFIX"));
  argv.insert(argv.end(), env_prefix.begin(), env_prefix.end());
  const bool prefixed = !argv.empty();
  std::string program = prefixed ? argv.front() : TAPESTAMP_BINARY;
  if (prefixed) {
    argv.push_back(TAPESTAMP_BINARY);
  } else {
    argv.push_back("tapestamp");
  }
  argv.insert(argv.end(), args.begin(), args.end());

  std::vector<std::string> env = {"TZ=UTC", "LC_ALL=C", "PATH=/usr/bin:/bin"};
  for (const char* keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(keep)) {
      env.push_back(std::string(keep) + "=" + value);
    }
  }
  // A variable the caller names replaces the default of the same name.
  for (const std::string& setting : input.env) {
    const std::string name = setting.substr(0, setting.find('=') + 1);
    std::erase_if(env, [&](const std::string& e) { return e.starts_with(name); });
    env.push_back(setting);
  }

  int out_pipe[2];
  int err_pipe[2];
  int in_pipe[2] = {-1, -1};
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) {
    fail("pipe");
  }
  // The test process ignores SIGPIPE (a tool that stops reading its stdin early must not
  // kill it); the tool itself starts with every signal at its default.
  static const bool sigpipe_ignored = [] { return std::signal(SIGPIPE, SIG_IGN) != SIG_ERR; }();
  (void)sigpipe_ignored;
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  if (!input.sigpipe_ignored) {
    sigaddset(&defaults, SIGPIPE);
  }
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int stdin_fd = -1;
  if (input.stdin_file && input.stdin_offset != 0) {
    // Opened here, so that the descriptor the tool gets stands at the offset asked for.
    stdin_fd = ::open(input.stdin_file->c_str(), O_RDONLY | O_CLOEXEC);
    if (stdin_fd < 0 || ::lseek(stdin_fd, input.stdin_offset, SEEK_SET) < 0) {
      fail("open " + *input.stdin_file);
    }
    posix_spawn_file_actions_adddup2(&actions, stdin_fd, 0);
  } else if (input.stdin_file) {
    posix_spawn_file_actions_addopen(&actions, 0, input.stdin_file->c_str(), O_RDONLY, 0);
  } else if (input.stdin_pipe) {
    if (::pipe2(in_pipe, O_CLOEXEC) != 0) {
      fail("pipe");
    }
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  if (input.stdout_file) {
    posix_spawn_file_actions_addopen(
        &actions, 1, input.stdout_file->c_str(),
        O_WRONLY | O_CREAT | (input.stdout_append ? O_APPEND : O_TRUNC), 0644);
  } else {
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  }
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  for (const int fd : input.closed_fds) {
    posix_spawn_file_actions_addclose(&actions, fd);
  }
  if (input.stdout_pipe_size != 0) {
    ::fcntl(out_pipe[1], F_SETPIPE_SZ, static_cast<int>(input.stdout_pipe_size));
  }

  std::vector<char*> argv_ptrs = pointers(argv);
  std::vector<char*> env_ptrs = pointers(env);
  pid_t pid = 0;
  const int spawned = prefixed ? posix_spawnp(&pid, program.c_str(), &actions, &attributes,
                                              argv_ptrs.data(), env_ptrs.data())
                               : posix_spawn(&pid, program.c_str(), &actions, &attributes,
                                             argv_ptrs.data(), env_ptrs.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  if (stdin_fd >= 0) {
    ::close(stdin_fd);
  }
  if (in_pipe[0] >= 0) {
    ::close(in_pipe[0]);
    ::fcntl(in_pipe[1], F_SETFL, O_NONBLOCK);
  }
  if (spawned != 0) {
    errno = spawned;
    fail("posix_spawn");
  }

  // Drains stdout and stderr while feeding stdin, so that no pipe fills up and stalls.
  run_result result;
  const std::string& feed = input.stdin_pipe ? *input.stdin_pipe : std::string();
  std::size_t fed = 0;
  int in_fd = in_pipe[1];
  int open_outputs = 2;
  pollfd fds[3] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}, {in_fd, POLLOUT, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  bool paused = false;
  bool pause_done = false;
  if (in_fd >= 0 && feed.empty()) {
    ::close(in_fd);
    in_fd = -1;
    fds[2].fd = -1;
  }
  while (open_outputs > 0 || in_fd >= 0) {
    if (::poll(fds, 3, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      fail("poll");
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        char buffer[65536];
        std::size_t wanted = sizeof buffer;
        if (i == 0) {
          if (paused && (fds[0].revents & POLLHUP) != 0) {
            paused = false;  // the tool closed its stdout before it filled the pipe
          }
          if (paused && wait_until_full(fds[0].fd, input, paused)) {
            continue;
          }
          if (input.stdout_read_size != 0) {
            wanted = std::min(wanted, input.stdout_read_size);
          }
          if (input.stdout_read_pause_us > 0) {
            ::usleep(static_cast<useconds_t>(input.stdout_read_pause_us));
          }
        }
        const ssize_t n = ::read(fds[i].fd, buffer, wanted);
        if (n > 0) {
          sinks[i]->append(buffer, static_cast<std::size_t>(n));
        }
        const bool reader_leaves =
            i == 0 && input.stdout_limit != 0 && result.out.size() >= input.stdout_limit;
        if (n <= 0 || reader_leaves) {
          ::close(fds[i].fd);
          fds[i].fd = -1;
          --open_outputs;
        }
        if (i == 0 && !pause_done && input.pause_at_output != 0 &&
            result.out.size() >= input.pause_at_output) {
          paused = pause_done = true;
        }
      }
    }
    if (in_fd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
      const std::size_t chunk =
          input.pipe_chunk == 0 ? feed.size() - fed : std::min(input.pipe_chunk, feed.size() - fed);
      const ssize_t n = ::write(in_fd, feed.data() + fed, chunk);
      if (n > 0) {
        fed += static_cast<std::size_t>(n);
      }
      if (n < 0 && errno != EAGAIN) {
        fed = feed.size();  // the reader went away
      }
      if (fed == feed.size()) {
        ::close(in_fd);
        in_fd = -1;
        fds[2].fd = -1;
      }
    }
    if (open_outputs == 0 && in_fd >= 0 && fed < feed.size()) {
      // The tool is done with its outputs but has not read all its input; stop feeding.
      ::close(in_fd);
      in_fd = -1;
      fds[2].fd = -1;
    }
  }

  int wait_status = 0;
  while (::waitpid(pid, &wait_status, 0) < 0) {
    if (errno != EINTR) {
      fail("waitpid");
    }
  }
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  return result;
}

temp_dir::temp_dir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tapestamp-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    fail("mkdtemp");
  }
  path_ = pattern;
}

temp_dir::~temp_dir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

run_result run_on_file(const temp_dir& dir, const std::vector<std::uint8_t>& input,
                       std::vector<std::string> args, const run_input& options) {
  const std::string path = dir.file("in.dv");
  write_file(path, input);
  args.push_back(path);
  return run_tool(args, options);
}

void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    fail("write " + path);
  }
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) {
    fail("write " + path);
  }
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    fail("read " + path);
  }
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string as_string(const std::vector<std::uint8_t>& bytes) {
  return {bytes.begin(), bytes.end()};
}

}  // namespace test_support
