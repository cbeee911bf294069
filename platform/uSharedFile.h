#pragma once
// Named shared memory in the runtime folder: a file of a fixed size mapped shared, so
// that every process that maps the same name sees the same bytes. Serves the status
// channel and the named manual-reset event.
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// The status channel's primitives: a named shared file of `size` bytes in the runtime
// folder, kept open as a descriptor (raises EOSError); and a write of `len` bytes at
// offset 0 through a fresh shared mapping of its first page, always unmapped again
// (the file must be at least one page long).
int OpenSharedFile(const std::string& name, size_t size);
void WriteSharedBytes(int fd, const void* buf, size_t len);

class TSharedFile {
public:
    // Creates the file (or opens it when it exists) with at least `size` bytes and maps
    // it; raises EOSError on failure.
    TSharedFile(const std::string& name, size_t size);
    ~TSharedFile();
    TSharedFile(const TSharedFile&) = delete;
    TSharedFile& operator=(const TSharedFile&) = delete;

    uint8_t* Data() const { return FData; }
    size_t Size() const { return FSize; }

private:
    uint8_t* FData = nullptr;
    size_t FSize = 0;
};

// A named manual-reset event: one byte, 1 when signalled. Nobody waits on it inside the
// service; other processes read it.
class TNamedEvent {
public:
    explicit TNamedEvent(const std::string& name) : FFile(name, 1) {}
    void Set() { __atomic_store_n(FFile.Data(), uint8_t(1), __ATOMIC_SEQ_CST); }
    void Reset() { __atomic_store_n(FFile.Data(), uint8_t(0), __ATOMIC_SEQ_CST); }
    bool IsSet() const { return __atomic_load_n(FFile.Data(), __ATOMIC_SEQ_CST) != 0; }

private:
    TSharedFile FFile;
};

}  // namespace platform
