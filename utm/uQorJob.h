#pragma once
// Bases of the exchange jobs. TQorHttpJob gives a job a UTM client rebuilt for every run,
// whose transfers a stop request or the time limit interrupts, and the shared
// bookkeeping in the database: the UTM documents already processed (S_EGAIS_UTM_LINKS,
// later deleted from the UTM by the garbage remover) and the short messages to the back
// office. TQorJob adds the thread's database connection for the run and the archive of
// exchanged XML documents.
#include <cstdint>
#include <memory>
#include <string>

#include "uDateTime.h"
#include "uQorAbstractJob.h"

class TDbTransaction;
class THttpClient;
class TQuery;
class TXmlDocument;

class TQorHttpJob : public TQorAbstractJob {
public:
    TQorHttpJob();
    ~TQorHttpJob() override;

    // Replaces the client by a new one whose progress callback is DoHttp.
    void InitHttpObj();
    // Start tick, a new client, the connect time-out (ConnectTimeoutFor the limit) and
    // the accepted character set "UTF-8".
    void DoBefore() override;
    // "Thread were stopped or terminated" when the owning thread is told to stop, then
    // the time-limit check.
    void CheckForAbort() override;
    // The client's progress callback during a transfer: an abort raised here ends the
    // transfer and the request raises it again.
    virtual void DoHttp();

    // A quarter of the run's time limit when that exceeds 2000 ms, else 2000 ms.
    static uint32_t ConnectTimeoutFor(uint32_t iLimitJobRunningTime);

    // Sends DELETE for the URL and never raises, except the abort of the run: the
    // client's ResponseCode() then tells what happened (-1 when no answer came).
    void DeleteDocumentFromUtm(const std::string& sUrl);
    // True when S_EGAIS_UTM_LINKS records the link under any organisation.
    bool UrlMarkedForDelete(const std::string& AUrl);
    // Records the link for this organisation (FSRAR_ID) in its own committed
    // transaction; returns the row's ID.
    int64_t MarkForDelete(const std::string& sUrl);
    // The same through the caller's query, inside the caller's transaction, which the
    // caller commits together with its other changes.
    int64_t MarkForDelete(const std::string& sUrl, TQuery& Query);
    // The same in the caller's transaction, logged with the lines of the form given:
    // operators follow a job's documents by the lines that job has always written.
    enum class TMarkLines { OwnTransaction, CallersQuery };
    int64_t MarkForDelete(const std::string& sUrl, TDbTransaction& tx, TMarkLines lines);
    void SendMessageToBackOffice(const std::string& sMsg);

    THttpClient& Http() { return *FHttp; }
    TDateTime UtmNewsMoment() const { return dtUtmNewsMoment; }

protected:
    // The news moment of the UTM list this job saw at its last reading of the list.
    TDateTime dtUtmNewsMoment;
    std::unique_ptr<THttpClient> FHttp;
};

class TQorJob : public TQorHttpJob {
public:
    // TQorHttpJob's DoBefore, then the thread's database connection is opened.
    void DoBefore() override;
    // The connection is closed, then the finish tick.
    void DoAfter() override;

    // Saves an exchanged document in the day folder of the program folder (documents
    // sent to the UTM, whose name holds "/opt/in/", in its opt/in/ folder) as the last
    // two parts of AName joined by "_" (".../opt/out/WayBill_v3/42" gives
    // WayBill_v3_42.xml). A taken name is followed by _1 .. _10; when all are taken
    // nothing is saved. AlreadyExists tells whether the plain name was taken.
    void SaveXmlToFs(const TXmlDocument& AXml, const std::string& AName, bool& AlreadyExists);
    void SaveXmlToFs(const TXmlDocument& AXml, const std::string& AName);
    // The same for a document kept as received text.
    void SaveXmlToFs(const std::string& AXml, const std::string& AName, bool& AlreadyExists);
    // A debug copy in Debug.XML/ of the program folder as AName_<tick count>.xml.
    void DebugSaveXml(const TXmlDocument& AXml, const std::string& AName);

    // The file name SaveXmlToFs gives a document of that name.
    static std::string XmlFileName(const std::string& AName);
};
