#pragma once
// The two jobs that keep the exchange with the UTM in order without handling any
// document themselves: the refresh of the shared list of incoming documents, and the
// garbage remover, which deletes the processed documents from the UTM and forgets
// their links once the UTM no longer lists them.
#include <string>
#include <vector>

#include "uQorJob.h"

class TXmlDocument;

// Fetches the UTM's list of incoming documents into UTMBuffer once per run, then
// pauses a second (less when the thread is told to stop). Its time limit is always
// 2000 ms; it has no database connection.
class TEgaisRefreshJob : public TQorHttpJob {
public:
    const char* ClassName() const override { return "TEgaisRefreshJob"; }
    void DoJob() override;
};

// Works through this organisation's rows of S_EGAIS_UTM_LINKS recorded before the
// run: a link to a document the UTM holds for the service is deleted from the UTM,
// and its row is removed once the list read at the start of the run no longer shows
// the link; rows of /opt/in addresses are removed without asking the UTM. Errors of
// one row are logged at debug level and the next row follows; an abort ends the run.
class TEgaisGarbageRemoverJob : public TQorJob {
public:
    const char* ClassName() const override { return "TEgaisGarbageRemoverJob"; }
    void DoJob() override;
};

// For each link, whether the list shows it as "//url[contains(text(), link)]" would:
// some url element's first text node contains the link. Answered for all links in
// one pass over the list (Aho-Corasick over the links), so a run costs time in
// proportion to the sizes of the list and of the links, not their product.
std::vector<bool> LinksListed(const TXmlDocument& AList, const std::vector<std::string>& ALinks);
