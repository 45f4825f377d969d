// taskagent: runs jobs for the program that must outlive it.
#include "taskagent/taskagent.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return taskagent::runCommandLine(args);
}
