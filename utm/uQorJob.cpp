#include "uQorJob.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "uCommon.h"
#include "uDbProvider.h"
#include "uHttpClient.h"
#include "uLogger.h"
#include "uPlatform.h"
#include "uXml.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kMinConnectTimeoutMs = 2000;

constexpr const char* kUrlMarkedSql =
    "select count(*) as RESULT from S_EGAIS_UTM_LINKS \r\nwhere UTM_LINK = :UTM_LINK";
constexpr const char* kMarkForDeleteSql =
    "EXECUTE BLOCK (UTM_LINK VARCHAR(300) = :UTM_LINK, FSRAR_ID VARCHAR(30) = :FSRAR_ID) "
    "RETURNS(ID INTEGER) \r\nAS \r\nBEGIN \r\n  UPDATE OR INSERT INTO "
    "S_EGAIS_UTM_LINKS(UTM_LINK, FSRAR_ID) \r\n  VALUES(:UTM_LINK, :FSRAR_ID) MATCHING "
    "(UTM_LINK, FSRAR_ID) RETURNING ID INTO :ID; \r\n  SUSPEND; \r\nEND ";
constexpr const char* kSendMessageSql =
    "insert into S_P_RMK_SHORT_MESSAGES (SENDER, RECEIVER, SHORT_MESSAGE, MESSAGE_STATE) "
    "\r\nvalues('QOR-service', 'BackOffice', :MSG_TEXT, 0)";

TVariant FsrarId() {
    auto id = GetSettingProperty("FSRAR_ID");
    return id ? TVariant(*id) : TVariant::Null();
}

// Runs the upsert on the query and returns the row's ID.
int64_t RunMarkForDelete(TQuery& q, const std::string& sUrl) {
    q.Run(kMarkForDeleteSql, {{"UTM_LINK", sUrl}, {"FSRAR_ID", FsrarId()}});
    const std::optional<int64_t> id = q.Eof() ? std::nullopt : q.Int64("ID");
    if (!id) throw EQorJobException("unable to mark for deleting");
    return *id;
}

int64_t LoggedMark(TQuery& q, const std::string& sUrl, TQorHttpJob::TMarkLines lines) {
    const bool bOwn = lines == TQorHttpJob::TMarkLines::OwnTransaction;
    Logger().Debug("{}{})", (bOwn ? "TQorHttpJob.MarkForDelete(" : "TQorHttpJob.MarkForDelete2("),
                   sUrl);
    const int64_t id = RunMarkForDelete(q, sUrl);
    Logger().Debug("{}{}", (bOwn ? "TQorHttpJob.MarkForDelete: Utm_link id = " : "Utm_link id: "),
                   id);
    return id;
}

std::string TwoDigits(int v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

// The day folder of today, with "opt/in/" below it for documents sent to the UTM.
fs::path ArchiveFolder(const std::string& AName) {
    TDateTimeParts today = DecodeDateTime(Now());
    fs::path folder = platform::ProgramFolder() / std::to_string(today.Year) /
                      TwoDigits(today.Month) / TwoDigits(today.Day);
    if (AName.find("/opt/in/") != std::string::npos) folder = folder / "opt" / "in";
    return folder;
}

using TWriter = std::function<void(const fs::path&)>;

void SaveUnderFreeName(const std::string& AName, bool& AlreadyExists, const TWriter& write) {
    Logger().Debug("TQorJob.SaveXmlToFs ->");
    const fs::path folder = ArchiveFolder(AName);
    const std::string fileName = TQorJob::XmlFileName(AName);
    try {
        fs::create_directories(folder);
        fs::path target = folder / fileName;
        AlreadyExists = fs::exists(target);
        if (AlreadyExists) {
            const std::string stem = fileName.substr(0, fileName.size() - 4);  // without ".xml"
            target.clear();
            for (int n = 1; n <= 10 && target.empty(); ++n) {
                fs::path candidate = folder / (stem + "_" + std::to_string(n) + ".xml");
                if (!fs::exists(candidate)) target = candidate;
            }
        }
        if (!target.empty()) write(target);  // all ten taken: nothing is saved
    } catch (const std::exception& e) {
        Logger().Debug("File: \"" + (folder / fileName).string() + "\"", e);
        throw;
    }
    Logger().Debug("TQorJob.SaveXmlToFs <-");
}

}  // namespace

TQorHttpJob::TQorHttpJob() {
    InitHttpObj();
}

TQorHttpJob::~TQorHttpJob() = default;

void TQorHttpJob::InitHttpObj() {
    FHttp = std::make_unique<THttpClient>();
    FHttp->SetOnProgress([this] { DoHttp(); });
}

uint32_t TQorHttpJob::ConnectTimeoutFor(uint32_t iLimitJobRunningTime) {
    uint32_t quarter = iLimitJobRunningTime / 4;
    return quarter > kMinConnectTimeoutMs ? quarter : kMinConnectTimeoutMs;
}

void TQorHttpJob::DoBefore() {
    TQorAbstractJob::DoBefore();
    InitHttpObj();
    FHttp->SetConnectTimeout(ConnectTimeoutFor(FLimitJobRunningTime));
    FHttp->SetAcceptCharset("UTF-8");
    FHttp->SetPostTimeout(GetUtmPostTimeoutMs());
    FHttp->SetMaxAnswerSize(GetMaxDocumentSizeBytes());
}

void TQorHttpJob::CheckForAbort() {
    if (OwnerStopRequested()) throw EQorJobAbort("Thread were stopped or terminated");
    TQorAbstractJob::CheckForAbort();
}

void TQorHttpJob::DoHttp() {
    CheckForAbort();
}

void TQorHttpJob::DeleteDocumentFromUtm(const std::string& sUrl) {
    Logger().Debug("TQorHttpJob.DeleteDocumentFromUtm ->");
    Logger().Debug("DeleteDocument URL: {}", sUrl);
    try {
        FHttp->Delete(sUrl);
    } catch (const EQorJobAbort&) {
        throw;  // a stop or the time limit ends the run, as everywhere
    } catch (const std::exception&) {
        // Error statuses and network failures are the caller's to read from the client's
        // response code.
    }
    Logger().Debug("TQorHttpJob.DeleteDocumentFromUtm <-");
}

bool TQorHttpJob::UrlMarkedForDelete(const std::string& AUrl) {
    return NewQuery(TTxMode::Short)->Value(kUrlMarkedSql, {{"UTM_LINK", AUrl}}).AsInt64() > 0;
}

int64_t TQorHttpJob::MarkForDelete(const std::string& sUrl) {
    return LoggedMark(*NewQuery(TTxMode::Short), sUrl, TMarkLines::OwnTransaction);
}

int64_t TQorHttpJob::MarkForDelete(const std::string& sUrl, TQuery& Query) {
    return LoggedMark(Query, sUrl, TMarkLines::CallersQuery);
}

int64_t TQorHttpJob::MarkForDelete(const std::string& sUrl, TDbTransaction& tx, TMarkLines lines) {
    return LoggedMark(tx.Statement(kMarkForDeleteSql), sUrl, lines);
}

void TQorHttpJob::SendMessageToBackOffice(const std::string& sMsg) {
    Logger().Debug("TQorHttpJob.SendMessageToBackOffice >> ");
    TQueryPtr q = NewQuery(TTxMode::Short);
    Logger().Debug("TQorHttpJob: Отправляем в офис сообщение \"{}\"", sMsg);
    q->Run(kSendMessageSql, {{"MSG_TEXT", sMsg}});
    Logger().Debug("TQorHttpJob.SendMessageToBackOffice <<");
}

void TQorJob::DoBefore() {
    TQorHttpJob::DoBefore();
    GetDbProvider().LockConnection();
}

void TQorJob::DoAfter() {
    try {
        GetDbProvider().UnlockConnection();
    } catch (...) {
        TQorHttpJob::DoAfter();
        throw;
    }
    TQorHttpJob::DoAfter();
}

std::string TQorJob::XmlFileName(const std::string& AName) {
    size_t delim = AName.find_last_of("\\:");
    std::string tail = delim == std::string::npos ? AName : AName.substr(delim + 1);
    std::vector<std::string> parts;
    std::string part;
    for (char ch : tail) {
        if (ch == '/' || ch == '\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += ch;
        }
    }
    if (!part.empty()) parts.push_back(part);
    std::string name;
    for (size_t i = parts.size() > 2 ? parts.size() - 2 : 0; i < parts.size(); ++i)
        name += (name.empty() ? "" : "_") + parts[i];
    return name + ".xml";
}

void TQorJob::SaveXmlToFs(const TXmlDocument& AXml, const std::string& AName, bool& AlreadyExists) {
    SaveUnderFreeName(AName, AlreadyExists, [&](const fs::path& p) { AXml.save(p.string()); });
}

void TQorJob::SaveXmlToFs(const TXmlDocument& AXml, const std::string& AName) {
    bool already = false;
    SaveXmlToFs(AXml, AName, already);
}

void TQorJob::SaveXmlToFs(const std::string& AXml, const std::string& AName, bool& AlreadyExists) {
    SaveUnderFreeName(AName, AlreadyExists, [&](const fs::path& p) {
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(AXml.data(), std::streamsize(AXml.size()));
        out.close();
        if (!out) throw Exception("Unable to write " + p.string());
    });
}

void TQorJob::DebugSaveXml(const TXmlDocument& AXml, const std::string& AName) {
    fs::path folder = platform::ProgramFolder() / "Debug.XML";
    fs::create_directories(folder);
    AXml.save(
        (folder / (AName + "_" + std::to_string(platform::GetTickCount()) + ".xml")).string());
}
