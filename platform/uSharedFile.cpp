#include "uSharedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Exception.h"
#include "uPlatform.h"

namespace platform {

int OpenSharedFile(const std::string& name, size_t size) {
    auto path = RuntimeFolder() / name;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) RaiseLastOSError("open " + path.string());
    struct stat st {};
    if (::fstat(fd, &st) != 0 || (size_t(st.st_size) < size && ::ftruncate(fd, off_t(size)) != 0)) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        RaiseLastOSError("ftruncate " + path.string());
    }
    return fd;
}

void WriteSharedBytes(int fd, const void* buf, size_t len) {
    // One page: the channel is 4096 bytes and a write is at most 255.
    const size_t view = 4096;
    if (len > view) throw EOSError(EINVAL, "WriteSharedBytes: length exceeds the channel");
    void* p = ::mmap(nullptr, view, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) RaiseLastOSError("mmap");
    std::memcpy(p, buf, len);
    ::munmap(p, view);
}

TSharedFile::TSharedFile(const std::string& name, size_t size) {
    int fd = OpenSharedFile(name, size);
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    int saved = errno;
    ::close(fd);  // the mapping keeps the file
    if (p == MAP_FAILED) {
        errno = saved;
        RaiseLastOSError("mmap " + name);
    }
    FData = static_cast<uint8_t*>(p);
    FSize = size;
}

TSharedFile::~TSharedFile() {
    if (FData) ::munmap(FData, FSize);
}

}  // namespace platform
