#include "velder/velder.h"

#include "host/console_probe.h"
#include "platform/window_search.h"
#include "query/status_query.h"

extern "C" {

std::int32_t VELDER_CALL GetInfo(WindowHandle, WindowHandle, char* data, char*, HostBool,
                                 HostBool) {
    switch (velder::QueryStatus(data, kDataCapacity)) {
        case velder::QueryOutcome::kUnreadable:
        case velder::QueryOutcome::kAnswered:
            return RESULT_DATA;
        case velder::QueryOutcome::kNoResult:
            break;
    }
    return RESULT_CONTINUE;
}

std::int32_t VELDER_CALL IsQuakeActive(WindowHandle, WindowHandle, char* data, char*, HostBool,
                                       HostBool) {
    return velder::ProbeConsole(data, velder::platform::TopLevelWindowExists);
}
}
