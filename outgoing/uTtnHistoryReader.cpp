#include "uTtnHistoryReader.h"

#include "uHttpClient.h"
#include "uLogger.h"
#include "uXml.h"

TIncomingSelection TTtnHistoryReader::Selection() const {
    TIncomingSelection selection;
    selection.Kinds = {"TTNHISTORYF2REG"};
    return selection;
}

THandled TTtnHistoryReader::Handle(const TIncomingDocument&, TDbTransaction&) {
    return THandled::Stored;
}

TOnError TTtnHistoryReader::OnError(const std::exception& e) const {
    const bool bDocumentsOwn = dynamic_cast<const EQorJobException*>(&e) ||
                               dynamic_cast<const EHttpProtocolException*>(&e) ||
                               dynamic_cast<const EXmlException*>(&e);
    return bDocumentsOwn ? TOnError::SkipDocument : TOnError::EndRun;
}

void TTtnHistoryReader::Fetching(const std::string& url) {
    Logger().Error("TWithdrawSendedWaybillJob: загружаем " + url);
}

void TTtnHistoryReader::FetchFailed(const std::string&, const EHttpProtocolException& e) {
    Logger().Debug(Job().ClassName(), e);
}
