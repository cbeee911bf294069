// Any bytes as the .ini file: it is read (UTF-8, else Windows-1251), a value is written
// and the file read again, without a crash and with the written value found.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "uIniFile.h"

namespace {
std::filesystem::path FuzzFile() {
    static const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                              ("qor-fuzz-ini-" + std::to_string(getpid()) + ".ini");
    return path;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto path = FuzzFile();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    TIniFile ini(path);
    (void)ini.ReadString("DATABASE", "DbName", "");
    ini.WriteString("QOR_SETTINGS", "FSRAR_ID", "030000000001");
    if (TIniFile(path).ReadString("QOR_SETTINGS", "FSRAR_ID", "") != "030000000001") std::abort();
    return 0;
}
