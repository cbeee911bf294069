#include "uMaintenanceJobs.h"

#include <chrono>
#include <cstdint>
#include <thread>
#include <unordered_map>

#include "uCommon.h"
#include "uDbProvider.h"
#include "uHttpClient.h"
#include "uIncomingReader.h"
#include "uLogger.h"
#include "uText.h"
#include "uUtm.h"
#include "uXml.h"

namespace {

constexpr uint32_t kRefreshPauseMs = 1000;
constexpr uint32_t kPauseSliceMs = 50;

constexpr const char* kLinksSql =
    "SELECT * FROM S_EGAIS_UTM_LINKS WHERE (FSRAR_ID = :FSRAR_ID) AND (LAST_MODIFIED < :DATE) ";
constexpr const char* kDeleteLinkSql = "delete from S_EGAIS_UTM_LINKS WHERE ID = :ID";

// The string value XPath gives text() of an element: its first text (or CDATA) child.
std::string FirstText(const TXmlNode& element) {
    for (TXmlNode child = element.firstChild(); child; child = child.nextSibling()) {
        TXmlNodeType t = child.nodeType();
        if (t == ntText || t == ntCDataSection) return child.nodeValue();
    }
    return "";
}

// A trie of the links with failure links; walking a text through it visits, at each
// position, the longest link prefix that ends there.
class TLinkAutomaton {
public:
    explicit TLinkAutomaton(const std::vector<std::string>& links) {
        FFail.push_back(0);
        FChildren.emplace_back();
        for (const std::string& link : links) {
            int node = 0;
            for (unsigned char c : link) {
                int next = Edge(node, c);
                if (next < 0) {
                    next = int(FFail.size());
                    FFail.push_back(0);
                    FChildren.emplace_back();
                    FEdges.emplace(Key(node, c), next);
                    FChildren[size_t(node)].push_back({c, next});
                }
                node = next;
            }
            FTerminal.push_back(node);
        }
        // Failure links in breadth-first order, so that each one points to a node of
        // smaller depth that is already done.
        FOrder.push_back(0);
        for (size_t i = 0; i < FOrder.size(); ++i) {
            int v = FOrder[i];
            for (auto [c, u] : FChildren[size_t(v)]) {
                FOrder.push_back(u);
                if (v == 0) continue;
                int f = FFail[size_t(v)];
                while (f != 0 && Edge(f, c) < 0) f = FFail[size_t(f)];
                int target = Edge(f, c);
                FFail[size_t(u)] = target >= 0 && target != u ? target : 0;
            }
        }
        FVisited.assign(FFail.size(), false);
    }

    void Walk(const std::string& text) {
        int node = 0;
        for (unsigned char c : text) {
            while (node != 0 && Edge(node, c) < 0) node = FFail[size_t(node)];
            int next = Edge(node, c);
            node = next >= 0 ? next : 0;
            FVisited[size_t(node)] = true;
        }
    }

    // A link occurs in a walked text when its node, or a node whose failure chain
    // passes through it, was visited.
    std::vector<bool> Found() {
        for (size_t i = FOrder.size(); i-- > 1;) {
            int v = FOrder[i];
            if (FVisited[size_t(v)]) FVisited[size_t(FFail[size_t(v)])] = true;
        }
        std::vector<bool> found;
        found.reserve(FTerminal.size());
        for (int node : FTerminal) found.push_back(FVisited[size_t(node)]);
        return found;
    }

private:
    static uint64_t Key(int node, unsigned char c) { return (uint64_t(node) << 8) | c; }
    int Edge(int node, unsigned char c) const {
        auto it = FEdges.find(Key(node, c));
        return it == FEdges.end() ? -1 : it->second;
    }

    std::unordered_map<uint64_t, int> FEdges;
    std::vector<std::vector<std::pair<unsigned char, int>>> FChildren;
    std::vector<int> FFail;
    std::vector<int> FOrder;
    std::vector<int> FTerminal;  // the node of each link
    std::vector<bool> FVisited;
};

void DeleteLinkRow(const TVariant& id) {
    // Its own transaction, committed at once; a failure leaves the row for a later run.
    NewQuery(TTxMode::Short)->Run(kDeleteLinkSql, {{"ID", id}});
}

struct TLinkRow {
    TVariant Id;
    std::string Link;
};

}  // namespace

std::vector<bool> LinksListed(const TXmlDocument& AList, const std::vector<std::string>& ALinks) {
    TXmlNodeList urls = AList.selectNodes("//url");
    TLinkAutomaton automaton(ALinks);
    for (const TXmlNode& url : urls) automaton.Walk(FirstText(url));
    std::vector<bool> found = automaton.Found();
    // The empty link is contained in every text, even in the empty one.
    for (size_t i = 0; i < ALinks.size(); ++i)
        if (ALinks[i].empty()) found[i] = urls.length() > 0;
    return found;
}

void TEgaisRefreshJob::DoJob() {
    Logger().Debug("TEgaisRefreshJob.DoJob ->");
    CheckForAbort();
    UTMBuffer()->Refresh(*FHttp);
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRefreshPauseMs);
    while (!OwnerStopRequested() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(kPauseSliceMs));
    Logger().Debug("TEgaisRefreshJob.DoJob <-");
}

void TEgaisGarbageRemoverJob::DoJob() {
    Logger().Debug("TEgaisGarbageRemoverJob.DoJob ->");
    CheckForAbort();
    const TIncomingList list =
        TIncomingList::Read(dtUtmNewsMoment, "Не удалось прочитать входящие документы УТМ");
    CheckForAbort();

    std::vector<TLinkRow> rows;
    {
        auto fsrarId = GetSettingProperty("FSRAR_ID");
        TQueryPtr q = NewQuery(TTxMode::Short);
        q->Run(kLinksSql,
               {{"DATE", Now()}, {"FSRAR_ID", fsrarId ? TVariant(*fsrarId) : TVariant::Null()}});
        Logger().Debug("TEgaisGarbageRemoverJob.DoJob: Список ссылок для удаления получен.");
        for (; !q->Eof(); q->Next()) rows.push_back({q->FieldByName("ID"), q->Text("UTM_LINK")});
    }
    std::vector<std::string> links;
    links.reserve(rows.size());
    for (const TLinkRow& row : rows) links.push_back(row.Link);
    const std::vector<bool> listed = LinksListed(list.Xml(), links);

    size_t count = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        ++count;
        try {
            CheckForAbort();
            const std::string& link = rows[i].Link;
            const std::string lower = LowerAscii(link);
            if (lower.find("/opt/in") != std::string::npos) {
                DeleteLinkRow(rows[i].Id);
                continue;
            }
            Logger().Debug("Удалим ссылку {} из УТМ...", lower);
            DeleteDocumentFromUtm(link);
            const int code = FHttp->ResponseCode();
            if (code == 404 || code == -1) Logger().Debug("Ссылка {} успешно удалена.", lower);
            if (!listed[i]) {
                Logger().Debug("Ссылка {} удалена.", lower);
                DeleteLinkRow(rows[i].Id);
                continue;
            }
            // Still in the list of this run: the row stays until a later list drops it.
            if (code != 200) throw EQorJobException("unable to delete document from utm");
            CheckForAbort();
        } catch (const EQorJobAbort&) {
            throw;
        } catch (const std::exception& e) {
            Logger().Debug(ClassName(), e);
        }
    }
    Logger().Debug("TEgaisGarbageRemoverJob: обработано {} ссылок.", count);
    Logger().Debug("TEgaisGarbageRemoverJob.DoJob <-");
}
