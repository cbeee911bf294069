#include "uIpc.h"

#include <unistd.h>

#include "Exception.h"
#include "uSharedFile.h"

TChannelHandle CreateChannel(const std::string& name) {
    return platform::OpenSharedFile(name, kStatusChannelSize);
}

void WriteTo(TChannelHandle h, const void* buf, size_t len) {
    if (len > 255) throw EOSError(22, "WriteTo: at most 255 bytes");
    platform::WriteSharedBytes(h, buf, len);
}

void ReleaseChannel(TChannelHandle h) {
    if (h != 0 && h != -1) ::close(h);
}
