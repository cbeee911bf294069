#pragma once
// A child process of a whole-program test: started with its own environment, its
// standard output and error captured, stopped with a signal.
#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace qortest {

class Process {
public:
    // Starts `program` with `args`; `env` is added to (and overrides) this process's
    // environment. Standard input is a pipe that stays open until CloseInput().
    Process(const std::string& program, const std::vector<std::string>& args,
            const std::map<std::string, std::string>& env);
    ~Process();  // kills the child if it still runs
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    void Signal(int sig);
    void WriteInput(const std::string& text);
    void CloseInput();
    // Waits for the end; returns the exit code, or -1 when it did not end in time
    // (then the child is still running).
    int Wait(std::chrono::milliseconds timeout);
    bool Running();
    // Everything the child wrote so far.
    std::string Output();
    std::string Errors();

private:
    void Drain();

    int FPid = -1;
    int FIn = -1, FOut = -1, FErr = -1;
    int FExitCode = -1;
    bool FEnded = false;
    std::string FOutText, FErrText;
};

// Waits until the file holds `text` (polling: the file is written by another process).
bool WaitForFileText(const std::string& path, const std::string& text,
                     std::chrono::milliseconds timeout);
// How often `text` occurs in the file.
int CountInFile(const std::string& path, const std::string& text);

}  // namespace qortest
