#pragma once
// The single running instance of the service: an exclusive lock on a file named after
// the instance mutex in the runtime folder. The lock dies with the process.
#include <string>

namespace platform {

class TSingleInstance {
public:
    // Takes the lock on RuntimeFolder()/name; Acquired() tells whether it was free.
    explicit TSingleInstance(const std::string& name);
    ~TSingleInstance();
    TSingleInstance(const TSingleInstance&) = delete;
    TSingleInstance& operator=(const TSingleInstance&) = delete;

    bool Acquired() const { return FFd >= 0; }

private:
    int FFd = -1;
};

}  // namespace platform
