// lumacro3-phone: the reference phone client on the command line.
#include "phone/commands.h"

#include <algorithm>
#include <exception>
#include <iostream>

using namespace phone::cli;

namespace {

std::vector<Command> allCommands() {
    return {discoverCommand(), connectCommand(), sendCommand(), watchCommand(), recordCommand(), liveCommand(),
            pushCommand(), urlCommand(), pptCommand(), playCommand(), liveSendCommand(),
            audioSendCommand()};
}

void printUsage(std::ostream& out, const std::vector<Command>& commands) {
    out << "usage: lumacro3-phone COMMAND [options]\n\ncommands:\n";
    for (const auto& c : commands) {
        std::string name = "  " + c.name;
        name.resize(std::max<size_t>(name.size() + 1, 12), ' ');
        out << name << c.summary << "\n";
    }
    out << "\n\"lumacro3-phone COMMAND --help\" describes the options of one command.\n"
        << "Exit codes: 0 done, 1 failed, 2 bad command line.\n";
}

void printCommandUsage(std::ostream& out, const Command& c) {
    out << "usage: lumacro3-phone " << c.name << " " << c.synopsis << "\n\n"
        << c.summary << "\n\noptions:\n"
        << describeOptions(c.options);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<Command> commands = allCommands();
    std::vector<std::string> words(argv + 1, argv + argc);
    if (words.empty()) {
        printUsage(std::cerr, commands);
        return kExitUsage;
    }
    if (words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
        printUsage(std::cout, commands);
        return kExitOk;
    }
    const Command* command = nullptr;
    for (const auto& c : commands)
        if (c.name == words[0]) command = &c;
    if (!command) {
        std::cerr << "lumacro3-phone: unknown command \"" << words[0] << "\"\n";
        printUsage(std::cerr, commands);
        return kExitUsage;
    }
    words.erase(words.begin());

    try {
        ParsedArgs args = ParsedArgs::parse(words, command->options);
        if (args.flag("help")) {
            printCommandUsage(std::cout, *command);
            return kExitOk;
        }
        const size_t count = args.positional().size();
        if (count < command->minPositional || count > command->maxPositional)
            throw UsageError(count < command->minPositional ? "missing arguments"
                                                            : "unexpected argument \"" +
                                                                  args.positional().back() + "\"");
        return command->run(args, std::cout, std::cerr);
    } catch (const UsageError& e) {
        std::cerr << "lumacro3-phone " << command->name << ": " << e.what() << "\n"
                  << "usage: lumacro3-phone " << command->name << " " << command->synopsis << "\n";
        return kExitUsage;
    } catch (const std::exception& e) {
        // A field of the wrong type from the PC (or any other surprise) is a
        // failed command, not an abort.
        std::cerr << "lumacro3-phone " << command->name << ": " << e.what() << "\n";
        return kExitFailure;
    }
}
