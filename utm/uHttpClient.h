#pragma once
// The HTTP client of the exchange jobs (libcurl): GET, multipart POST and DELETE with a
// connect time-out, a read time-out (the longest silence allowed while waiting for
// data), the accepted character set, and a progress callback that may abort a transfer
// by raising.
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "Exception.h"

// The peer answered with an HTTP error status; the message is the status line
// ("HTTP/1.1 404 Not Found").
class EHttpProtocolException : public Exception {
public:
    EHttpProtocolException(int code, const std::string& statusLine, std::string body)
        : Exception(statusLine), FErrorCode(code), FErrorMessage(std::move(body)) {}
    const char* ClassName() const override { return "EHttpProtocolException"; }
    int ErrorCode() const { return FErrorCode; }
    const std::string& ErrorMessage() const { return FErrorMessage; }  // the answer's body

private:
    int FErrorCode;
    std::string FErrorMessage;
};

// No answer: the peer cannot be reached, the connection broke or a time-out passed.
QOR_DECLARE_EXCEPTION(EHttpConnectionError, Exception)

// The answer is larger than the client takes (SetMaxAnswerSize).
class EHttpAnswerTooLarge : public EHttpConnectionError {
public:
    using EHttpConnectionError::EHttpConnectionError;
    const char* ClassName() const override { return "EHttpAnswerTooLarge"; }
};

// The peer answered with a success status, then the rest of its answer was lost (the
// connection broke, a time-out passed). For a post the peer has taken the request.
class EHttpAnswerCut : public EHttpConnectionError {
public:
    EHttpAnswerCut(int code, const std::string& message)
        : EHttpConnectionError(message), FStatus(code) {}
    const char* ClassName() const override { return "EHttpAnswerCut"; }
    int Status() const { return FStatus; }

private:
    int FStatus;
};

class THttpClient {
public:
    // Called many times a second while a transfer runs; whatever it raises ends the
    // transfer and is raised again by the request.
    using TProgress = std::function<void()>;

    THttpClient();
    ~THttpClient();
    THttpClient(const THttpClient&) = delete;
    THttpClient& operator=(const THttpClient&) = delete;

    void SetConnectTimeout(uint32_t ms) { FConnectTimeout = ms; }
    uint32_t ConnectTimeout() const { return FConnectTimeout; }
    void SetReadTimeout(uint32_t ms) { FReadTimeout = ms; }
    // The longest a post may take from start to answer, 0: no limit. A UTM that takes a
    // document and never answers must not hold a job for its whole run.
    void SetPostTimeout(uint32_t ms) { FPostTimeout = ms; }
    // The largest answer taken, in bytes, 0: any; a larger one raises EHttpAnswerTooLarge
    // before or while it arrives, so that one huge document cannot exhaust the memory.
    void SetMaxAnswerSize(uint64_t bytes) { FMaxAnswerSize = bytes; }
    uint32_t ReadTimeout() const { return FReadTimeout; }
    void SetAcceptCharset(std::string value) { FAcceptCharset = std::move(value); }
    const std::string& AcceptCharset() const { return FAcceptCharset; }
    void SetOnProgress(TProgress value) { FOnProgress = std::move(value); }

    // Each request raises EHttpProtocolException for a status other than 2xx and
    // EHttpConnectionError when no answer arrived, and returns the body otherwise.
    std::string Get(const std::string& url);
    // A multipart/form-data body with one file field.
    std::string PostFile(const std::string& url, const std::string& field,
                         const std::string& fileName, const std::string& content,
                         const std::string& contentType = "text/xml");
    std::string Delete(const std::string& url);

    // The status of the last request, -1 when no answer arrived.
    int ResponseCode() const { return FResponseCode; }
    const std::string& ResponseText() const { return FResponseText; }

private:
    struct Request;
    std::string Perform(Request& r);

    uint32_t FConnectTimeout = 0;  // 0: libcurl's default
    uint32_t FReadTimeout = 0;     // 0: no limit
    uint32_t FPostTimeout = 0;     // 0: no limit
    uint64_t FMaxAnswerSize = 0;   // 0: no limit
    std::string FAcceptCharset;
    TProgress FOnProgress;
    int FResponseCode = -1;
    std::string FResponseText;
};
