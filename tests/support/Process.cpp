#include "Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "TestSupport.h"

extern char** environ;

namespace qortest {

Process::Process(const std::string& program, const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);

    std::map<std::string, std::string> all;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        auto eq = kv.find('=');
        if (eq != std::string::npos) all[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    for (const auto& [k, v] : env) all[k] = v;
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : all) envStrings.push_back(k + "=" + v);
    std::vector<char*> envp, argv;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    for (auto& s : argStrings) argv.push_back(s.data());
    argv.push_back(nullptr);

    // The child starts with no blocked signals, whatever the test runner blocks.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);

    int rc = posix_spawn(&FPid, program.c_str(), &fa, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    FIn = in[1];
    FOut = out[0];
    FErr = err[0];
    if (rc != 0) throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
    fcntl(FOut, F_SETFL, O_NONBLOCK);
    fcntl(FErr, F_SETFL, O_NONBLOCK);
}

Process::~Process() {
    if (!FEnded && FPid > 0) {
        ::kill(FPid, SIGKILL);
        Wait(std::chrono::seconds(10));
    }
    for (int fd : {FIn, FOut, FErr})
        if (fd >= 0) ::close(fd);
}

void Process::Signal(int sig) {
    if (!FEnded) ::kill(FPid, sig);
}

void Process::WriteInput(const std::string& text) {
    if (FIn >= 0 && ::write(FIn, text.data(), text.size()) < 0) {
        // The child may have ended already; its exit code tells the test.
    }
}

void Process::CloseInput() {
    if (FIn >= 0) ::close(FIn);
    FIn = -1;
}

void Process::Drain() {
    char buf[4096];
    for (auto [fd, text] : {std::pair{FOut, &FOutText}, std::pair{FErr, &FErrText}}) {
        ssize_t n;
        while ((n = ::read(fd, buf, sizeof buf)) > 0) text->append(buf, size_t(n));
    }
}

bool Process::Running() {
    if (FEnded) return false;
    int status = 0;
    pid_t r = ::waitpid(FPid, &status, WNOHANG);
    if (r == FPid) {
        FEnded = true;
        FExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return !FEnded;
}

int Process::Wait(std::chrono::milliseconds timeout) {
    auto until = std::chrono::steady_clock::now() + timeout;
    while (Running()) {
        Drain();
        if (std::chrono::steady_clock::now() >= until) return -1;
        pollfd fds[2] = {{FOut, POLLIN, 0}, {FErr, POLLIN, 0}};
        ::poll(fds, 2, 20);  // wakes on output, else looks at the child again
    }
    Drain();
    return FExitCode;
}

std::string Process::Output() {
    Drain();
    return FOutText;
}

std::string Process::Errors() {
    Drain();
    return FErrText;
}

bool WaitForFileText(const std::string& path, const std::string& text,
                     std::chrono::milliseconds timeout) {
    return WaitUntil([&] { return ReadFile(path).find(text) != std::string::npos; }, timeout);
}

int CountInFile(const std::string& path, const std::string& text) {
    std::string s = ReadFile(path);
    int n = 0;
    for (size_t p = s.find(text); p != std::string::npos; p = s.find(text, p + text.size())) ++n;
    return n;
}

}  // namespace qortest
