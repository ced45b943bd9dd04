#include "cli/CliCommand.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

std::vector<TCliCommand>& CliCommands() {
    static std::vector<TCliCommand> commands;
    return commands;
}

namespace {

void PrintUsage(std::FILE* to) {
    std::vector<TCliCommand> commands = CliCommands();
    std::sort(commands.begin(), commands.end(),
              [](const TCliCommand& a, const TCliCommand& b) { return a.Name < b.Name; });
    std::fprintf(to, "usage: vexmira-cli <command> ...\ncommands:\n");
    for (const TCliCommand& c : commands)
        std::fprintf(to, "  %s %s\n", c.Name.c_str(), c.Usage.c_str());
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        PrintUsage(stdout);
        return 0;
    }
    for (const TCliCommand& c : CliCommands())
        if (c.Name == argv[1])
            return c.Run(argc - 1, argv + 1);
    std::fprintf(stderr, "vexmira-cli: unknown command \"%s\"\n", argv[1]);
    PrintUsage(stderr);
    return 2;
}
