#include "support/process.h"

namespace support {

namespace {

thread_local int tLastExitCode = -1;

constexpr unsigned kNoLimit = 0xFFFFFFFFu;

}  // namespace

std::vector<std::string> splitCommandLine(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;  // true also for a word that is just "" (an empty argument)
    bool quoted = false;
    for (const char c : line) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (c == ' ' || c == '\t' || c == '\n' || c == '\r')) {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word.push_back(c);
            inWord = true;
        }
    }
    if (inWord) words.push_back(std::move(word));
    return words;
}

ChildProcess simpleShellExecute(const std::string& file, const std::string& folder,
                                const std::string& parameters, bool show) {
    return spawnProcess(file, splitCommandLine(parameters), folder, show);
}

ChildProcess spawnProcess(const std::string& file, const std::vector<std::string>& args,
                          const std::string& folder, bool show) {
    SpawnOptions options;
    options.program = file;
    options.args = args;
    options.workDir = folder;
    options.stdinNull = !show;
    options.out = show ? SpawnOptions::Stream::Inherit : SpawnOptions::Stream::Null;
    options.err = options.out;
    return spawn(options);
}

bool waitForEvent(ChildProcess& child, unsigned int ms) {
    const bool ended = ms == kNoLimit ? child.wait() : child.wait(std::chrono::milliseconds(ms));
    if (ended)
        tLastExitCode = child.exitCode();
    return ended;
}

int lastExitCode() { return tLastExitCode; }

std::string runCmd(const std::string& program, const std::string& parameters,
                   const std::string& folder) {
    SpawnOptions options;
    options.program = program;
    options.args = splitCommandLine(parameters);
    options.workDir = folder;
    options.out = SpawnOptions::Stream::Capture;
    ChildProcess child = spawn(options);
    std::string output = child.readOutput();
    child.wait();
    return output;
}

}  // namespace support
