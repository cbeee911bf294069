#include "uUtm.h"

#include "Exception.h"
#include "uCommon.h"
#include "uHttpClient.h"

namespace {

constexpr uint32_t kListReadTimeoutMs = 90000;
// A list of the same size is stored and announced again once this many whole seconds
// have passed since the last news.
constexpr int64_t kSameSizeNewsSeconds = 91;

std::string UtmBaseUrl() {
    return "http://" + GetUtmHost() + ":" + GetUtmPort();
}

std::mutex gUtmBufferLock;  // guards gUtmBuffer (the pointer; the list locks itself)
std::shared_ptr<TUTMBuffer> gUtmBuffer;

}  // namespace

std::string IncomingDocsUrl(bool AsRefreshedUrl) {
    return UtmBaseUrl() + (AsRefreshedUrl ? "/opt/out?refresh=true" : "/opt/out");
}

std::string OutGoingUrl() {
    return UtmBaseUrl() + "/opt/in";
}

std::string OutGoingDocsUrlEx(const std::string& sNameBase) {
    return UtmBaseUrl() + "/opt/in/" + sNameBase;
}

std::string OutGoingDocsUrl(bool AsAct) {
    return OutGoingDocsUrlEx(AsAct ? "WayBillAct" : "WayBill");
}

std::string OutgoingPartnerUrl() {
    return OutGoingDocsUrlEx("QueryClients_v2");
}

IBuffer NewBuffer() {
    return std::make_shared<TBuffer>();
}

TUTMBuffer::TUTMBuffer(TClock clock) : FClock(clock ? std::move(clock) : TClock(&Now)) {}

TUTMBuffer::~TUTMBuffer() = default;

int TUTMBuffer::Refresh(THttpClient& FHttp) {
    {
        std::lock_guard<std::mutex> g(FLock);
        if (!bReady) return 0;
    }
    FHttp.SetReadTimeout(kListReadTimeoutMs);
    std::string list;
    try {
        list = FHttp.Get(IncomingDocsUrl(true));
    } catch (...) {
        // The status of a refused request is kept for the readers; the list stays.
        std::lock_guard<std::mutex> g(FLock);
        iLastResponseCode = FHttp.ResponseCode();
        throw;
    }
    const TDateTime now = FClock();
    const int code = FHttp.ResponseCode();
    std::lock_guard<std::mutex> g(FLock);
    dtLastReadMoment = now;
    iLastResponseCode = code;
    if (code != 200) throw Exception("Не удалось выполнить HTTP запрос...");
    bEmpty = false;
    const bool unchanged = list.size() == IncDocs.Size() &&
                           SecondsBetween(dtLastNewsMoment, now) < kSameSizeNewsSeconds;
    if (!unchanged) {
        dtLastNewsMoment = now;
        IncDocs.Data().swap(list);
    }
    return code;
}

TDateTime TUTMBuffer::LastNewsMoment() const {
    std::lock_guard<std::mutex> g(FLock);
    return dtLastNewsMoment;
}

int TUTMBuffer::ReadIncomingDocs(const IBuffer& ABuffer) const {
    std::lock_guard<std::mutex> g(FLock);
    if (bEmpty) return iLastResponseCode;
    ABuffer->Clear();
    ABuffer->Data() = IncDocs.Data();
    return 200;
}

TDateTime TUTMBuffer::LastReadMoment() const {
    std::lock_guard<std::mutex> g(FLock);
    return dtLastReadMoment;
}

int TUTMBuffer::LastResponseCode() const {
    std::lock_guard<std::mutex> g(FLock);
    return iLastResponseCode;
}

void TUTMBuffer::Close() {
    std::lock_guard<std::mutex> g(FLock);
    bReady = false;
}

std::shared_ptr<TUTMBuffer> UTMBuffer() {
    std::lock_guard<std::mutex> g(gUtmBufferLock);
    if (!gUtmBuffer) gUtmBuffer = std::make_shared<TUTMBuffer>();
    return gUtmBuffer;
}

void InitUTMBuffer(TUTMBuffer::TClock clock) {
    auto fresh = std::make_shared<TUTMBuffer>(std::move(clock));
    std::lock_guard<std::mutex> g(gUtmBufferLock);
    if (gUtmBuffer) gUtmBuffer->Close();
    gUtmBuffer = std::move(fresh);
}

void DoneUTMBuffer() {
    std::shared_ptr<TUTMBuffer> old;
    {
        std::lock_guard<std::mutex> g(gUtmBufferLock);
        old.swap(gUtmBuffer);
    }
    if (old) old->Close();
}
