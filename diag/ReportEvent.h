// ReportEvent.h: the event-reporting function of OSUtilities.dll.
#pragma once

#include <windows.h>

enum VEventType {
    VEventError = 1,
    VEventWarning = 2,
    VEventInformation = 4,
};

#ifndef OSUTILITIES_API
#define OSUTILITIES_API __declspec(dllimport)
#endif

// Writes one event to the event log. Never fails towards the caller.
// Both strings belong to the caller and are read during the call only.
extern "C" OSUTILITIES_API void __cdecl VReportEvent(VEventType type, unsigned long eventId, int line,
                                                    const wchar_t* file, const wchar_t* text);

namespace kalvora {

// A failure described by the event text.
constexpr unsigned long kEventFailure = 0xC000000BUL;
// One step of a registry enumeration failed (no text).
constexpr unsigned long kEventRegistryEnum = 0xC0001102UL;

}  // namespace kalvora

#define KALVORA_WIDEN_(x) L##x
#define KALVORA_WIDEN(x) KALVORA_WIDEN_(x)

// Reports an error event with a fixed or formatted text from the calling line.
#define KALVORA_REPORT(text) \
    VReportEvent(VEventError, ::kalvora::kEventFailure, __LINE__, KALVORA_WIDEN(__FILE__), (text))
// Reports a failed registry enumeration step from the calling line.
#define KALVORA_REPORT_ENUM() \
    VReportEvent(VEventError, ::kalvora::kEventRegistryEnum, __LINE__, KALVORA_WIDEN(__FILE__), nullptr)
