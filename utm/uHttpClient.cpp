#include "uHttpClient.h"

#include <curl/curl.h>

#include <chrono>
#include <mutex>

namespace {

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct MultiDeleter {
    void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};
struct MimeDeleter {
    void operator()(curl_mime* m) const { curl_mime_free(m); }
};
struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

using Clock = std::chrono::steady_clock;

}  // namespace

struct THttpClient::Request {
    std::string Url;
    std::string Method;
    curl_mime* Mime = nullptr;  // owned by the caller
    std::string Body;
    std::string StatusLine;
    Clock::time_point LastData = Clock::now();

    static size_t OnBody(char* data, size_t size, size_t n, void* self) {
        auto* r = static_cast<Request*>(self);
        r->Body.append(data, size * n);
        r->LastData = Clock::now();
        return size * n;
    }
    static size_t OnHeader(char* data, size_t size, size_t n, void* self) {
        auto* r = static_cast<Request*>(self);
        std::string line(data, size * n);
        if (line.rfind("HTTP/", 0) == 0) {  // a new status line (after 100 Continue, too)
            while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
            r->StatusLine = line;
        }
        r->LastData = Clock::now();
        return size * n;
    }
};

THttpClient::THttpClient() {
    GlobalInit();
}

THttpClient::~THttpClient() = default;

namespace {

// An option libcurl refuses (an unknown option, no memory) fails the request here rather
// than sending it with defaults.
template <typename T>
void SetOpt(CURL* h, CURLoption option, T value) {
    const CURLcode rc = curl_easy_setopt(h, option, value);
    if (rc != CURLE_OK)
        throw EHttpConnectionError(std::string("curl_easy_setopt: ") + curl_easy_strerror(rc));
}

void CheckMime(CURLcode rc) {
    if (rc != CURLE_OK)
        throw EHttpConnectionError(std::string("curl_mime: ") + curl_easy_strerror(rc));
}

}  // namespace

std::string THttpClient::Get(const std::string& url) {
    Request r;
    r.Url = url;
    r.Method = "GET";
    return Perform(r);
}

std::string THttpClient::Delete(const std::string& url) {
    Request r;
    r.Url = url;
    r.Method = "DELETE";
    return Perform(r);
}

std::string THttpClient::PostFile(const std::string& url, const std::string& field,
                                  const std::string& fileName, const std::string& content,
                                  const std::string& contentType) {
    std::unique_ptr<CURL, EasyDeleter> owner(curl_easy_init());  // curl_mime needs an easy handle
    if (!owner) throw EHttpConnectionError("curl_easy_init failed");
    std::unique_ptr<curl_mime, MimeDeleter> mime(curl_mime_init(owner.get()));
    curl_mimepart* part = mime ? curl_mime_addpart(mime.get()) : nullptr;
    if (!part) throw EHttpConnectionError("curl_mime_addpart failed");
    CheckMime(curl_mime_name(part, field.c_str()));
    CheckMime(curl_mime_filename(part, fileName.c_str()));
    CheckMime(curl_mime_type(part, contentType.c_str()));
    CheckMime(curl_mime_data(part, content.data(), content.size()));
    Request r;
    r.Url = url;
    r.Method = "POST";
    r.Mime = mime.get();
    return Perform(r);
}

std::string THttpClient::Perform(Request& r) {
    FResponseCode = -1;
    FResponseText.clear();
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!easy || !multi) throw EHttpConnectionError("curl initialisation failed");
    CURL* h = easy.get();
    SetOpt(h, CURLOPT_URL, r.Url.c_str());
    SetOpt(h, CURLOPT_NOSIGNAL, 1L);
    SetOpt(h, CURLOPT_WRITEFUNCTION, &Request::OnBody);
    SetOpt(h, CURLOPT_WRITEDATA, &r);
    SetOpt(h, CURLOPT_HEADERFUNCTION, &Request::OnHeader);
    SetOpt(h, CURLOPT_HEADERDATA, &r);
    SetOpt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    if (FConnectTimeout) SetOpt(h, CURLOPT_CONNECTTIMEOUT_MS, long(FConnectTimeout));
    std::unique_ptr<curl_slist, SlistDeleter> headers;
    if (!FAcceptCharset.empty()) {
        headers.reset(curl_slist_append(nullptr, ("Accept-Charset: " + FAcceptCharset).c_str()));
        SetOpt(h, CURLOPT_HTTPHEADER, headers.get());
    }
    if (r.Method == "POST" && FPostTimeout) SetOpt(h, CURLOPT_TIMEOUT_MS, long(FPostTimeout));
    if (FMaxAnswerSize) SetOpt(h, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(FMaxAnswerSize));
    if (r.Method == "POST") {
        SetOpt(h, CURLOPT_MIMEPOST, r.Mime);
    } else if (r.Method == "DELETE") {
        SetOpt(h, CURLOPT_CUSTOMREQUEST, "DELETE");
    }

    if (CURLMcode mc = curl_multi_add_handle(multi.get(), h); mc != CURLM_OK)
        throw EHttpConnectionError(curl_multi_strerror(mc));
    // The transfer runs here, in our own loop, so that the progress callback and the
    // read time-out are looked at every 50 ms and nothing is raised through libcurl.
    std::exception_ptr aborted;
    std::string failure;
    r.LastData = Clock::now();
    for (;;) {
        int running = 0;
        CURLMcode mc = curl_multi_perform(multi.get(), &running);
        if (mc != CURLM_OK) {
            failure = curl_multi_strerror(mc);
            break;
        }
        if (running == 0) break;
        if (FOnProgress) {
            try {
                FOnProgress();
            } catch (...) {
                aborted = std::current_exception();
                break;
            }
        }
        if (FReadTimeout && Clock::now() - r.LastData > std::chrono::milliseconds(FReadTimeout)) {
            failure = "Read timed out.";
            break;
        }
        curl_multi_poll(multi.get(), nullptr, 0, 50, nullptr);
    }
    CURLcode result = CURLE_OK;
    bool done = false;
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi.get(), &left))
        if (msg->msg == CURLMSG_DONE) {
            result = msg->data.result;
            done = true;
        }
    curl_multi_remove_handle(multi.get(), h);
    if (aborted) std::rethrow_exception(aborted);
    long code = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
    if (failure.empty() && !done) failure = "the transfer did not finish";
    if (failure.empty() && result == CURLE_FILESIZE_EXCEEDED)
        throw EHttpAnswerTooLarge("the answer of " + r.Url + " is larger than " +
                                  std::to_string(FMaxAnswerSize) + " bytes");
    if (failure.empty() && result != CURLE_OK) failure = curl_easy_strerror(result);
    if (!failure.empty()) {
        if (code >= 200 && code <= 299) {
            FResponseCode = int(code);
            FResponseText = r.StatusLine;
            throw EHttpAnswerCut(int(code), r.StatusLine + ", then: " + failure);
        }
        throw EHttpConnectionError(failure);
    }

    FResponseCode = code > 0 ? int(code) : -1;
    FResponseText = r.StatusLine;
    if (FResponseCode < 0) throw EHttpConnectionError("no answer from " + r.Url);
    if (FResponseCode < 200 || FResponseCode > 299)
        throw EHttpProtocolException(FResponseCode, r.StatusLine, std::move(r.Body));
    return std::move(r.Body);
}
