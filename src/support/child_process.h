// Starting other programs and owning the children: spawn() starts a child the
// caller owns through a ChildProcess; startDetached() starts a program that
// is not our child at all (it is double-forked, so init reaps it).
//
// Who reaps what:
// - A ChildProcess is the only owner of its child. wait() and terminate()
//   reap it. Its destructor never leaves a zombie and never blocks for ever:
//   a child still running is sent SIGTERM, gets `destroyGrace` to go, then
//   SIGKILL; one that even then has not been reaped (stuck in the kernel) is
//   handed to a list of released children.
// - release() gives up a child that is to go on running (for example past the
//   end of the owner's scope) to the same list. The list is reaped, without
//   blocking, whenever a child is spawned or a ChildProcess ends, and by
//   reapReleasedChildren(). When this process exits, init takes what is left.
// - A program that must outlive this process and is never waited for is
//   started with startDetached().
// No thread is started for any of this.
#pragma once

#include "support/proc_table.h"

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace support {

struct SpawnOptions {
    enum class Stream {
        Inherit,  // this process's own stream
        Null,     // /dev/null
        File,     // `file` (stdout: created or truncated, mode 0600; stderr: same file as stdout)
        Capture,  // stdout only: a pipe read through ChildProcess::readOutput()
    };
    // With a '/': a path (relative ones against `workDir` when that is set);
    // without: looked up in PATH.
    std::string program;
    std::vector<std::string> args;  // arguments after argv[0]
    std::string argv0;              // "" = `program`
    // "NAME=value" entries added to this process's environment (replacing a
    // variable of the same name).
    std::vector<std::string> env;
    std::string workDir;            // "" = the current folder; a missing one fails the start
    bool stdinNull = true;          // else the child shares our stdin
    Stream out = Stream::Null;
    Stream err = Stream::Null;      // File: the stdout file; Capture is taken as Null
    std::string file;               // for Stream::File
    bool newSession = false;        // own session and process group (setsid)
};

// How long terminate() and the destructor leave a child after SIGTERM before
// SIGKILL follows.
inline constexpr std::chrono::milliseconds kDefaultTermGrace{2000};

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    // Ends the child this handle owned (as the destructor does) before taking over.
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // True while the handle owns a child that has not been reaped.
    explicit operator bool() const { return pid_ > 0; }
    // The child's pid; 0 once reaped or released, or for an empty handle.
    pid_t pid() const { return pid_; }
    ProcessId id() const { return id_; }

    // Waits until the child ended and reaps it; true then. False when it is
    // still running after `timeout` (or there is no child).
    bool wait(std::chrono::milliseconds timeout);
    // Waits without a limit; false only for an empty handle.
    bool wait();
    // Reaps the child when it has ended, without waiting; true when it has.
    bool tryReap() { return wait(std::chrono::milliseconds(0)); }
    // Exit code of the reaped child; -1 while running, when killed by a signal
    // or when it was reaped by someone else.
    int exitCode() const { return exitCode_; }
    // Signal that ended the reaped child; 0 when it exited.
    int termSignal() const { return termSignal_; }

    // Sends a signal to the running child; false when there is none.
    bool signal(int sig);
    // SIGTERM, up to `grace` for the child to end, then SIGKILL. True when the
    // child has been reaped (also when it had ended before).
    bool terminate(std::chrono::milliseconds grace = kDefaultTermGrace);
    // How long the destructor and move-assignment give the child after SIGTERM.
    void setDestroyGrace(std::chrono::milliseconds grace) { destroyGrace_ = grace; }

    // Everything the child wrote to stdout (Stream::Capture) until it closed
    // it, at most `limit` bytes kept (the rest is read and dropped so the
    // child is never blocked). "" without a capture pipe; callable once.
    std::string readOutput(size_t limit = 64 * 1024 * 1024);

    // Gives the child up without ending it: it is reaped later (see above).
    // Returns its pid.
    pid_t release();

private:
    friend ChildProcess spawn(const SpawnOptions& options, std::string* error);
    void finish(int status);
    void closeFds();
    void destroy();

    pid_t pid_ = 0;
    ProcessId id_;
    int pidfd_ = -1;
    int output_ = -1;
    int exitCode_ = -1;
    int termSignal_ = 0;
    std::chrono::milliseconds destroyGrace_ = kDefaultTermGrace;
};

// Starts a child; an empty handle when it could not be started (no such
// program, not executable, missing work folder, ...), with the reason in
// `error` when given.
ChildProcess spawn(const SpawnOptions& options, std::string* error = nullptr);

// Starts a program that is not our child: in its own session, double-forked so
// that init reaps it, with default signal handling and only stdin, stdout and
// stderr open. Capture is taken as Null. False (with the reason) when it could
// not be executed.
bool startDetached(const SpawnOptions& options, std::string* error = nullptr);

// Reaps released children that have ended; returns how many are left.
size_t reapReleasedChildren();

}  // namespace support
