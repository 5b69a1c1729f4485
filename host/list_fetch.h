// A list request's worker: the masters' lists fetched (or taken as kept)
// and merged into the request's file, and the ticket's result.
#pragma once

namespace velder::async {

// Runs the list job `argument` (a QueryJob whose buffer holds
// "<host:port>[,<host:port>...] <file>", checked by ListStart) and hands it
// back to the board.
void RunList(void* argument);

}  // namespace velder::async
