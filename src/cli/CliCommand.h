#pragma once

#include <functional>
#include <string>
#include <vector>

// The subcommands of vexmira-cli. Each command lives in a file of its own and registers
// itself with a TCliCommandRegistration at namespace scope, so adding a command touches
// no other file.
struct TCliCommand {
    std::string Name;
    std::string Usage; // one line: the arguments after the command's name
    // Runs the command with argv[0] = the command's name; returns the exit code. The
    // command creates the Qt application object it needs itself.
    std::function<int(int argc, char** argv)> Run;
};

std::vector<TCliCommand>& CliCommands();

struct TCliCommandRegistration {
    explicit TCliCommandRegistration(TCliCommand command) {
        CliCommands().push_back(std::move(command));
    }
};
