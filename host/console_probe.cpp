#include "host/console_probe.h"

#include <cstring>

#include "velder/velder.h"

namespace velder {

std::int32_t ProbeConsole(char* data, WindowSearch search) {
    static constexpr char kFound[] = "TRUE";
    static constexpr char kMissing[] = "FALSE";
    if (search(kConsoleClass, kConsoleTitle)) {
        std::memcpy(data, kFound, sizeof kFound);
    } else {
        std::memcpy(data, kMissing, sizeof kMissing);
    }
    return RESULT_DATA;
}

}  // namespace velder
