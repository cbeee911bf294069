#include "uSharedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Exception.h"
#include "uPlatform.h"

namespace platform {

TSharedFile::TSharedFile(const std::string& name, size_t size) {
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
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    int saved = errno;
    ::close(fd);  // the mapping keeps the file
    if (p == MAP_FAILED) {
        errno = saved;
        RaiseLastOSError("mmap " + path.string());
    }
    FData = static_cast<uint8_t*>(p);
    FSize = size;
}

TSharedFile::~TSharedFile() {
    if (FData) ::munmap(FData, FSize);
}

}  // namespace platform
