#include "uSingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "uPlatform.h"

namespace platform {

TSingleInstance::TSingleInstance(const std::string& name) {
    auto path = RuntimeFolder() / name;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return;
    }
    FFd = fd;
}

TSingleInstance::~TSingleInstance() {
    if (FFd >= 0) ::close(FFd);  // closing releases the lock; the file stays for the next run
}

}  // namespace platform
