// Runs the built tapestamp binary as a user would and captures what it does.
#ifndef TAPESTAMP_TESTS_SUPPORT_RUN_TOOL_HPP_
#define TAPESTAMP_TESTS_SUPPORT_RUN_TOOL_HPP_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

struct run_input {
  std::optional<std::string> stdin_file;   // stdin redirected from this file
  std::optional<std::string> stdin_pipe;   // else these bytes through a pipe (else /dev/null)
  std::size_t pipe_chunk = 0;              // write the pipe in pieces of this size (0: at once)
  std::optional<std::string> stdout_file;  // stdout into this file instead of being captured
  bool stdout_append = false;              // ... opened for appending, as by ">>"
  std::vector<std::string> env;            // added to TZ=UTC and LC_ALL=C, e.g. "TZ=..."
  long stdin_offset = 0;                   // stdin_file's descriptor stands at this offset

  // Runs the tool through this command, e.g. one that drops privileges ("setpriv ...").
  std::vector<std::string> prefix;

  // Faults and pacing of the tool's surroundings.
  std::vector<int> closed_fds;   // standard descriptors (0, 1, 2) the tool starts without
  bool sigpipe_ignored = false;  // the tool inherits SIGPIPE ignored instead of at its default
  // Captured stdout: once this many bytes are in, the read end is closed (a reader that
  // goes away). 0: read to the end.
  std::size_t stdout_limit = 0;
  // A slow reader: stdout is read in pieces of this size (0: as much as there is), with this
  // pause before each read.
  std::size_t stdout_read_size = 0;
  int stdout_read_pause_us = 0;
  // The capacity of the stdout pipe in bytes (0: the system's default).
  std::size_t stdout_pipe_size = 0;
  // Once stdout has delivered `pause_at_output` bytes (> 0), reading stops until the pipe is
  // full, so that the tool is held in a write; then on_pause runs once and reading goes on.
  std::size_t pause_at_output = 0;
  std::function<void()> on_pause;
};

struct run_result {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or 128 + the signal that ended the process
};

// Runs the binary with argv[0] "tapestamp" and the given arguments. With the variable
// TAPESTAMP_EXEC_PREFIX set (e.g. "valgrind -q --error-exitcode=99"), the run goes
// through that prefix.
run_result run_tool(const std::vector<std::string>& args, const run_input& input = {});

// A fresh directory, removed with everything in it at the end of the scope.
class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Writes `input` to a file in `dir` and runs the tool on it: `args`, then the file's path.
run_result run_on_file(const temp_dir& dir, const std::vector<std::uint8_t>& input,
                       std::vector<std::string> args, const run_input& options = {});

void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes);
void write_file(const std::string& path, const std::string& text);
std::string read_file(const std::string& path);
std::string as_string(const std::vector<std::uint8_t>& bytes);

}  // namespace test_support

#endif  // TAPESTAMP_TESTS_SUPPORT_RUN_TOOL_HPP_
