#pragma once
// The service's view of the operating system: its folders, the tick counter and
// the calling thread's identifier. Tests redirect the folders through the
// environment and replace the tick source to make the counter wrap.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace platform {

// The program folder: $QOREGAIS_HOME when set, else the folder of the executable.
// Holds QorEgais.ini, LOG/, the archive day folders and Debug.XML/.
std::filesystem::path ProgramFolder();
// The base name of the service's files ("QorEgais"): QorEgais.ini, QorEgais.log.
std::string ProgramBaseName();
// Path of the .ini file in the program folder.
std::filesystem::path IniFilePath();
// Folder of the single-instance lock, the status channel and the named event:
// $QOREGAIS_RUNTIME_DIR when set, else /dev/shm.
std::filesystem::path RuntimeFolder();

// Milliseconds since an arbitrary start, truncated to 32 bits. Elapsed times are
// unsigned differences of two counts, so a wrap of the counter is harmless.
uint32_t GetTickCount();
inline uint32_t TicksElapsed(uint32_t from, uint32_t to) {
    return to - from;
}
// Replaces the tick source (nullptr restores CLOCK_MONOTONIC).
void SetTickSource(std::function<uint32_t()> source);

// Operating-system identifier of the calling thread.
uint32_t CurrentThreadId();

void SleepMs(uint32_t ms);

}  // namespace platform
