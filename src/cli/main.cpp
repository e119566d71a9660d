#include "cli/cli.hpp"

int main(int argc, char** argv) { return tapestamp::run(argc, argv); }
