#include "uIncomingReader.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "uCommon.h"
#include "uDbProvider.h"
#include "uHttpClient.h"
#include "uLogger.h"
#include "uQorJob.h"
#include "uText.h"
#include "uUtm.h"

std::string KindSelection(const std::vector<std::string>& kinds, const std::string& attribute) {
    if (kinds.empty()) return "//url[false()]";
    std::string any;
    for (const std::string& kind : kinds) {
        // translate() folds only the letters of the kind itself, which is all the
        // comparison needs.
        const std::string upper = UpperAscii(kind);
        if (!any.empty()) any += " or ";
        any += "contains(translate(text(), " + XPathLiteral(LowerAscii(kind)) + ", " +
               XPathLiteral(upper) + "), " + XPathLiteral(upper + "/") + ")";
    }
    if (kinds.size() > 1) any = "(" + any + ")";
    if (!attribute.empty()) any = "@*[name() = " + XPathLiteral(attribute) + "] and " + any;
    return "//url[" + any + "]";
}

int64_t IncomingUrlNumber(const std::string& url) {
    std::string s = Trim(url);
    const size_t slash = s.rfind('/');
    if (slash != std::string::npos) s = s.substr(slash + 1);
    int64_t v = -1;
    return TryStrToInt64(s, v) ? v : -1;
}

std::optional<TIncomingList> TIncomingList::News(TDateTime& lastLook,
                                                 const TIncomingListTexts& texts) {
    if (!(UTMBuffer()->LastNewsMoment() > lastLook)) {
        if (!texts.NoNews.empty()) Logger().Debug(texts.NoNews);
        return std::nullopt;
    }
    return Read(lastLook, texts.Unreadable);
}

TIncomingList TIncomingList::Read(TDateTime& lastLook, const std::string& unreadable) {
    std::shared_ptr<TUTMBuffer> utm = UTMBuffer();
    IBuffer buffer = NewBuffer();
    if (utm->ReadIncomingDocs(buffer) != 200) throw EQorJobException(unreadable);
    lastLook = utm->LastNewsMoment();
    return TIncomingList(LoadXmlFrom(buffer->Data()));
}

TOnError TIncomingReader::OnError(const std::exception&) const {
    return TOnError::SkipDocument;
}

bool TIncomingReader::Takes(const std::string&) {
    return true;
}

void TIncomingReader::Recorded(const std::string&) {}

void TIncomingReader::Fetching(const std::string&) {}

void TIncomingReader::FetchFailed(const std::string&, const EHttpProtocolException&) {}

TQorHttpJob::TMarkLines TIncomingReader::MarkLines() const {
    return TQorHttpJob::TMarkLines::OwnTransaction;
}

std::vector<TXmlNode> TIncomingReader::Addresses(const TIncomingList& list) const {
    const TIncomingSelection selection = Selection();
    TXmlNodeList nodes =
        list.Xml().selectNodes(KindSelection(selection.Kinds, selection.WithAttribute));
    if (nodes.length() == 0 && !selection.OrElseKinds.empty())
        nodes = list.Xml().selectNodes(KindSelection(selection.OrElseKinds));
    std::vector<TXmlNode> entries(nodes.begin(), nodes.end());
    if (selection.ByNumber) {
        std::vector<std::pair<int64_t, TXmlNode>> numbered;
        numbered.reserve(entries.size());
        for (const TXmlNode& entry : entries)
            numbered.emplace_back(IncomingUrlNumber(entry.text()), entry);
        std::stable_sort(numbered.begin(), numbered.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (size_t i = 0; i < entries.size(); ++i) entries[i] = numbered[i].second;
    }
    return entries;
}

bool TIncomingReader::ReadFrom(const TIncomingList& list) {
    for (const TXmlNode& entry : Addresses(list)) {
        FJob.CheckForAbort();
        if (!ReadOne(entry)) return false;
    }
    return true;
}

void TIncomingReader::Refused(const std::string& url, const std::exception& e) const {
    // The operator sees every document that is left in the UTM, and why.
    Logger().Error(std::string(FJob.ClassName()) + ": документ " + url + " не принят", e);
}

bool TIncomingReader::ReadOne(const TXmlNode& entry) {
    const std::string url = entry.text();
    if (!Takes(url)) return true;
    try {
        if (FJob.UrlMarkedForDelete(url)) {
            Recorded(url);
            return true;
        }
        Fetching(url);
        std::string body;
        try {
            body = FJob.Http().Get(url);
        } catch (const EHttpProtocolException& e) {
            FetchFailed(url, e);
            return true;
        } catch (const EHttpAnswerTooLarge& e) {
            // It stays in the UTM for the operator whatever the reader's policy; the
            // documents after it are read.
            Refused(url, e);
            return true;
        }
        return Take({url, entry, LoadXmlFrom(body)}) != THandled::Last;
    } catch (const EQorJobAbort&) {
        throw;
    } catch (const std::exception& e) {
        if (IsConnectionLostError(e) || OnError(e) == TOnError::EndRun) throw;
        Refused(url, e);
        return true;
    }
}

THandled TIncomingReader::Take(const TIncomingDocument& doc) {
    TDbTransaction tx;
    const THandled handled = Handle(doc, tx);
    if (handled == THandled::Stored) {
        // The mark goes first: when it fails, nothing has been archived either.
        FJob.MarkForDelete(doc.Url, tx, MarkLines());
        FJob.SaveXmlToFs(doc.Xml, doc.Url);
    }
    // Anything else is rolled back as tx goes.
    if (handled == THandled::Stored || handled == THandled::Noted) tx.Commit();
    return handled;
}
