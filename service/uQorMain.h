#pragma once
// The program entry of the service: single instance, module start-up, the service
// module until a stop request, then its destruction.
int QorMain(int argc, char** argv);

inline constexpr const char* kInstanceMutexName = "{90FA5125-F795-4FE4-A976-35AD899585A0}";
