#pragma once
// The UTM's addresses and the one shared copy of its list of incoming documents: the
// refresh job fetches the list every cycle, every job that reads incoming documents
// copies it from here instead of asking the UTM itself.
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "uDateTime.h"

class THttpClient;

// "http://" + UTM host + ":" + UTM port + the path of each resource.
// "/opt/out?refresh=true"; "/opt/out" when not AsRefreshedUrl.
std::string IncomingDocsUrl(bool AsRefreshedUrl = true);
// "/opt/in"
std::string OutGoingUrl();
// "/opt/in/" + sNameBase: posting a document of that kind.
std::string OutGoingDocsUrlEx(const std::string& sNameBase);
// "/opt/in/WayBillAct" when AsAct, else "/opt/in/WayBill".
std::string OutGoingDocsUrl(bool AsAct);
// "/opt/in/QueryClients_v2"
std::string OutgoingPartnerUrl();

// A growable byte buffer; shared, freed with its last reference.
class TBuffer {
public:
    std::string& Data() { return FData; }
    const std::string& Data() const { return FData; }
    size_t Size() const { return FData.size(); }
    void Clear() { FData.clear(); }

private:
    std::string FData;
};
using IBuffer = std::shared_ptr<TBuffer>;
IBuffer NewBuffer();

// The last list of incoming documents received from the UTM and the moment it last
// changed. A list of unchanged size counts as unchanged for at most 90 seconds; after
// that it is announced as news again, so that the readers look at it at least that often.
class TUTMBuffer {
public:
    using TClock = std::function<TDateTime()>;
    // clock: the local time (Now unless a test gives its own).
    explicit TUTMBuffer(TClock clock = {});
    ~TUTMBuffer();
    TUTMBuffer(const TUTMBuffer&) = delete;
    TUTMBuffer& operator=(const TUTMBuffer&) = delete;

    // Fetches the list with the given client (its read time-out becomes 90 s) and
    // returns the status. Request errors propagate; a status other than 200 raises
    // "Не удалось выполнить HTTP запрос...". The stored list stays as it was on any
    // failure. The request runs outside the lock, so readers never wait for the UTM.
    int Refresh(THttpClient& FHttp);
    TDateTime LastNewsMoment() const;
    // Copies the stored list into ABuffer and returns 200; before the first list was
    // received, leaves ABuffer alone and returns the last status (0 before any request,
    // -1 when no answer came).
    int ReadIncomingDocs(const IBuffer& ABuffer) const;

    TDateTime LastReadMoment() const;
    int LastResponseCode() const;
    // After Close, Refresh does nothing (program end).
    void Close();

private:
    TClock FClock;
    mutable std::mutex FLock;  // guards every field below
    TBuffer IncDocs;
    bool bReady = true;
    bool bEmpty = true;
    TDateTime dtLastReadMoment;
    TDateTime dtLastNewsMoment;
    int iLastResponseCode = 0;
};

// The process-wide list, created at program start by InitUTMBuffer (or at first use).
// The result keeps the list alive while the caller works with it.
std::shared_ptr<TUTMBuffer> UTMBuffer();
// Replaces the process-wide list by a new, empty one (program start, test fixtures).
void InitUTMBuffer(TUTMBuffer::TClock clock = {});
// Closes and releases the process-wide list (program end, test fixtures).
void DoneUTMBuffer();
