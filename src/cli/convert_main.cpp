// pellicor-convert: the command line alone, for machines without a display.
// It is `pellicor --convert`; --convert itself may be given or left out.
#include "command_line.h"
#include "convert_options.h"

#include <cstring>
#include <vector>

int main(int argc, char** argv) {
    static char name[] = "pellicor-convert";
    static char convert[] = "--convert";
    std::vector<char*> arguments(argv, argv + argc);
    if (arguments.empty()) arguments.push_back(name);
    bool given = false;
    for (std::size_t i = 1; i < arguments.size() && std::strcmp(arguments[i], "--") != 0; ++i)
        given = given || std::strcmp(arguments[i], convert) == 0;
    if (!given) arguments.insert(arguments.begin() + 1, convert);
    const int count = static_cast<int>(arguments.size());
    arguments.push_back(nullptr);
    return runWithoutWindow(count, arguments.data()).value_or(kExitUsage);
}
