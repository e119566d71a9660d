// The command line and run control of tapestamp.
#ifndef TAPESTAMP_CLI_CLI_HPP_
#define TAPESTAMP_CLI_CLI_HPP_

namespace tapestamp {

// Runs the whole program on the command line and returns the exit status, 0 or 1.
int run(int argc, char** argv);

}  // namespace tapestamp

#endif  // TAPESTAMP_CLI_CLI_HPP_
