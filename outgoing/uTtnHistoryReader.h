#pragma once
// The histories EGAIS sends of a waybill's registrations (TTNHISTORYF2REG): nothing is
// stored from them, each is archived and its address marked, so that the operators find
// a withdrawn waybill's history in the archive.
#include "uIncomingReader.h"

class TTtnHistoryReader : public TIncomingReader {
public:
    using TIncomingReader::TIncomingReader;

    TIncomingSelection Selection() const override;
    THandled Handle(const TIncomingDocument& doc, TDbTransaction& tx) override;
    // A document the UTM will not give, or that cannot be read, waits in the UTM while
    // the others are archived; any other error ends the run.
    TOnError OnError(const std::exception& e) const override;
    void Fetching(const std::string& url) override;
    void FetchFailed(const std::string& url, const EHttpProtocolException& e) override;
};
