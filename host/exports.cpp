#include "host/exports.h"

#include "host/console_probe.h"
#include "platform/window_search.h"
#include "query/status_query.h"

extern "C" {

std::int32_t VELDER_CALL GetInfo(WindowHandle, WindowHandle, char* data, char*, HostBool,
                                 HostBool) {
    return velder::QueryStatus(data);
}

std::int32_t VELDER_CALL IsQuakeActive(WindowHandle, WindowHandle, char* data, char*, HostBool,
                                       HostBool) {
    return velder::ProbeConsole(data, velder::platform::TopLevelWindowExists);
}
}
