#pragma once
// The one way a job reads the documents the UTM holds for it, as the request queue is
// the one way it sends them. The shared list is opened once per run, and only when it
// has news since the job's last look; a reader takes from it the addresses of its
// document kinds, passes over those already recorded, fetches each document and hands
// it to its Handle; a document it has dealt with is stored, archived and its address
// marked for deletion in one transaction. A reader gives its kinds (TIncomingSelection),
// its error policy (OnError) and Handle; everything else is written here, once.
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "uDateTime.h"
#include "uQorJob.h"
#include "uXml.h"

class EHttpProtocolException;
class TDbTransaction;

// The XPath that selects the url elements of the list whose address holds "<kind>/"
// for one of the kinds, letter case ignored ("WayBill_v4" takes ".../WAYBILL_V4/12"
// and ".../waybill_v4/12", not ".../WayBill_v3/12"); with an attribute name, only
// elements that carry that attribute. No kinds select nothing.
std::string KindSelection(const std::vector<std::string>& kinds,
                          const std::string& attribute = std::string());

// The number after the last "/" of the trimmed address; -1 when there is none.
int64_t IncomingUrlNumber(const std::string& url);

// The labels of a job's opening of the list.
struct TIncomingListTexts {
    std::string NoNews;      // logged (debug) when the list has no news; "" logs nothing
    std::string Unreadable;  // the EQorJobException raised when no list was received yet
};

// The UTM's list of incoming documents as one run of a job read it.
class TIncomingList {
public:
    // The shared list, read and parsed, when it has changed since lastLook (which then
    // takes its news moment); nothing, after logging texts.NoNews, when it has not.
    static std::optional<TIncomingList> News(TDateTime& lastLook, const TIncomingListTexts& texts);
    // The shared list whether or not it has news; lastLook takes its news moment.
    static TIncomingList Read(TDateTime& lastLook, const std::string& unreadable);

    // A list parsed already.
    explicit TIncomingList(TXmlDocument xml) : FXml(std::move(xml)) {}

    const TXmlDocument& Xml() const { return FXml; }

private:
    TXmlDocument FXml;
};

// Which addresses of the list a reader takes.
struct TIncomingSelection {
    std::vector<std::string> Kinds;  // as the UTM names them in addresses: "WayBill_v4"
    std::string WithAttribute;       // only url elements that carry it ("replyId"); "": any
    // Taken, whatever their attributes, when the selection above finds nothing.
    std::vector<std::string> OrElseKinds;
    // In the order of IncomingUrlNumber (equal numbers keep the list's order); else in
    // the list's order.
    bool ByNumber = false;
};

// One fetched document.
struct TIncomingDocument {
    std::string Url;
    TXmlNode Entry;  // its url element in the list, with attributes such as replyId
    TXmlDocument Xml;
};

// What Handle made of a document.
enum class THandled {
    Stored,  // done: its address is marked, it is archived, and all is committed together
    Kept,    // it stays in the UTM; whatever the transaction holds is rolled back
    Noted,   // it stays in the UTM; what the transaction holds is committed
    Last,    // it stays, the transaction is rolled back, and the reader reads no further
};

// What an error of one document does to the run.
enum class TOnError { SkipDocument, EndRun };

class TIncomingReader {
public:
    explicit TIncomingReader(TQorJob& job) : FJob(job) {}
    virtual ~TIncomingReader() = default;
    TIncomingReader(const TIncomingReader&) = delete;
    TIncomingReader& operator=(const TIncomingReader&) = delete;

    virtual TIncomingSelection Selection() const = 0;
    // Deals with one document, writing what it stores in tx.
    virtual THandled Handle(const TIncomingDocument& doc, TDbTransaction& tx) = 0;
    // Errors of one document that the reader lets pass are logged at debug level under
    // the job's class name. The job's abort and a lost database connection end the run
    // whatever this says. All errors skip the document unless a reader says otherwise.
    virtual TOnError OnError(const std::exception& e) const;

    // Asked first for every selected address: false passes it over without a word.
    virtual bool Takes(const std::string& url);
    // The reader's log lines: an address passed over because it is recorded already, a
    // fetch about to start, a fetch the UTM answered with an error status (the document
    // stays, the next one follows). None by default.
    virtual void Recorded(const std::string& url);
    virtual void Fetching(const std::string& url);
    virtual void FetchFailed(const std::string& url, const EHttpProtocolException& e);
    // The lines the mark of a stored document's address is logged with: those of the
    // mark in a transaction of its own unless a reader's documents were always logged
    // otherwise.
    virtual TQorHttpJob::TMarkLines MarkLines() const;

    // The addresses of the list the reader takes, in the order it reads them.
    std::vector<TXmlNode> Addresses(const TIncomingList& list) const;
    // Reads every document of those addresses, each under the error policy; false when
    // Handle ended the reading.
    bool ReadFrom(const TIncomingList& list);
    // Handles a fetched document in a transaction of its own and finishes it as Handle
    // says; errors go to the caller.
    THandled Take(const TIncomingDocument& doc);

protected:
    TQorJob& Job() const { return FJob; }

private:
    // One address: false when Handle ended the reading.
    bool ReadOne(const TXmlNode& entry);
    // The error line of a document left in the UTM.
    void Refused(const std::string& url, const std::exception& e) const;

    TQorJob& FJob;
};
