#pragma once
// The status channel: a named shared block of 4096 bytes whose byte 0 tells readers
// outside the service whether it runs (4) or has stopped (1).
#include <cstddef>
#include <string>

using TChannelHandle = int;

// Creates the channel, or opens it when it exists; raises EOSError.
TChannelHandle CreateChannel(const std::string& name);
// Copies len bytes (at most 255) to offset 0 of the channel; raises EOSError.
void WriteTo(TChannelHandle h, const void* buf, size_t len);
// Closes the handle unless it is 0 or -1.
void ReleaseChannel(TChannelHandle h);

inline constexpr const char* kStatusChannelName = "{5E3AF946-4976-4787-8607-F49D7A19E992}";
inline constexpr size_t kStatusChannelSize = 4096;
