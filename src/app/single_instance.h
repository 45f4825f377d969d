// One running copy of the program per user: an exclusive flock on a file in
// the runtime folder, held for the life of the process. The file also holds
// the holder's pid so helpers can tell which process to wait for.
#pragma once

#include <string>
#include <sys/types.h>

namespace app {

class SingleInstance {
public:
    SingleInstance() = default;
    ~SingleInstance() { release(); }
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the lock and writes the own pid into the file. False when another
    // process (or another SingleInstance object) holds it, or when there is no
    // private runtime folder for the lock file. Calling it again
    // while holding the lock is harmless and returns true.
    bool acquire();
    // Clears the pid and drops the lock. The file stays: removing it would let
    // a second process lock a fresh file while a third still waits on the old one.
    void release();
    bool held() const { return fd_ >= 0; }

    // True when some lock holder exists (this process counts too).
    static bool isRunning();
    // Pid written by the holder; 0 when nobody holds the lock or the file is unreadable.
    static pid_t runningPid();
    // Empty when there is no private runtime folder.
    static std::string lockPath();

private:
    int fd_ = -1;
};

}  // namespace app
