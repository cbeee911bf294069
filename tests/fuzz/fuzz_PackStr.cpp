// The password packing: any text unpacks without a crash, and a password without blanks
// or a ";" at its ends comes back from its packed form unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "uDbProvider.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    (void)UNPACK_STR(text);
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    const bool bPlain =
        !text.empty() && !blank(text.front()) && !blank(text.back()) && text.back() != ';';
    if (bPlain && UNPACK_STR(PACK_STR(text)) != text) std::abort();
    return 0;
}
