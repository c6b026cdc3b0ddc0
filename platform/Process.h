// Starting programs. Every program is started with an argument vector, never through a shell.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The full path of the running program's own executable; empty when it cannot be found.
std::string OwnExecutablePath();

// Starts path with the arguments (argv[0] is path itself) in the current environment and
// directory, without inherited descriptors beyond standard input, output and error, and does not
// wait for it; it runs in a session of its own, so that it outlives us. 0 on success, otherwise
// the system's error code.
int StartDetached(const std::string& path, const std::vector<std::string>& arguments);

// Runs path with the arguments and waits for it to end; its exit status, or -1 when it could
// not be started or did not exit normally. Standard output and error are discarded unless
// output is given, which then receives standard output.
int RunAndWait(const std::string& path, const std::vector<std::string>& arguments,
               std::string* output = nullptr);

// A program started to run beside us, whose end we look for now and then: a service's start
// program, for one. It runs in a session of its own (a terminal's interrupt meant for us does not
// reach it) with standard input, output and error on the null device, and inherits no other
// descriptor. The object reaps the program once it has ended, so that no finished child lingers.
class ChildProcess {
public:
    // Starts path with the arguments (argv[0] is path itself); nothing when it could not be
    // started, with the system's error code in *error when given.
    static std::unique_ptr<ChildProcess>
    Start(const std::string& path, const std::vector<std::string>& arguments, int* error = nullptr);
    // A program still running is left to run: it belongs to no one once we are gone, and the
    // system then takes care of it.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Whether the program is still running; never waits.
    bool Running();
    // The system's id of the program.
    int Id() const { return m_pid; }

private:
    explicit ChildProcess(int pid, std::intptr_t handle = -1) : m_pid(pid), m_handle(handle) {}
    int m_pid;
    std::intptr_t m_handle; // the process handle on Windows; unused on POSIX
    bool m_ended = false;
};

} // namespace platform
