// PLACEHOLDER: replaced by the real log implementation.
#include "uLogger.h"
void TLogger::Debug(const std::string&) {}
void TLogger::Error(const std::string&) {}
void TLogger::Error(const std::string&, const std::exception&) {}
bool TLogger::IsDebugEnabled() const { return false; }
TLogger& Logger() { static TLogger l; return l; }
void InitLogger() {}
void ShutdownLogger() {}
void SetLogLevel(const std::string&) {}
