// The stand-in servers under the name the script's suite still uses; they
// are tests/support/test_server.h's.
#pragma once

#include "standin/status_reply.h"
#include "tests/support/test_server.h"

namespace velder::plain {
using Options = support::ServerOptions;
using Server = support::TestServer;
}  // namespace velder::plain
