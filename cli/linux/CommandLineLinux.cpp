#include "cli/CommandLine.h"

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    return {argv, argv + argc};
}
