// Runs the built tapestamp binary as a user would and captures what it does.
#ifndef TAPESTAMP_TESTS_SUPPORT_RUN_TOOL_HPP_
#define TAPESTAMP_TESTS_SUPPORT_RUN_TOOL_HPP_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

struct run_input {
  std::optional<std::string> stdin_file;   // stdin redirected from this file
  std::optional<std::string> stdin_pipe;   // else these bytes through a pipe (else /dev/null)
  std::size_t pipe_chunk = 0;              // write the pipe in pieces of this size (0: at once)
  std::optional<std::string> stdout_file;  // stdout into this file instead of being captured
  std::vector<std::string> env;            // added to TZ=UTC and LC_ALL=C, e.g. "TZ=..."
  long stdin_offset = 0;                   // stdin_file's descriptor stands at this offset
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

void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes);
void write_file(const std::string& path, const std::string& text);
std::string read_file(const std::string& path);
std::string as_string(const std::vector<std::uint8_t>& bytes);

}  // namespace test_support

#endif  // TAPESTAMP_TESTS_SUPPORT_RUN_TOOL_HPP_
