#pragma once
// Root of every error class of the system. Log lines print the class name of an error,
// so each class says its own name.
#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& msg) : std::runtime_error(msg) {}
    virtual const char* ClassName() const { return "Exception"; }
};

#define QOR_DECLARE_EXCEPTION(Name, Base)                        \
    class Name : public Base {                                   \
    public:                                                      \
        using Base::Base;                                        \
        const char* ClassName() const override { return #Name; } \
    };

// An operating-system call failed; carries errno and its text.
class EOSError : public Exception {
public:
    EOSError(int code, const std::string& what);
    int ErrorCode() const { return FErrorCode; }
    const char* ClassName() const override { return "EOSError"; }

private:
    int FErrorCode;
};

// Raises EOSError for the current errno, naming the failed call.
[[noreturn]] void RaiseLastOSError(const std::string& call);

// Class name of any error: our own classes say it; others give "Exception".
const char* ErrorClassName(const std::exception& e);
