// What velder-async.dll's exports do, on the text as bytes: start a query or
// a list on a worker under a new ticket, take a ticket's result, cancel one.
// Exchange hands them the export's buffer in that form.
#pragma once

#include <cstdint>

#include "host/query_board.h"
#include "velder/velder.h"

namespace velder::async {

// What an export leaves in its buffer: text, or a server's answer, whose
// bytes each stand for the character of the same number.
enum class ResultForm { kText, kBytes };

ResultForm StartQuery(WindowHandle mainWindow, char* data);
ResultForm StartList(WindowHandle mainWindow, char* data);
ResultForm TakeQuery(WindowHandle mainWindow, char* data);
ResultForm TakeList(WindowHandle mainWindow, char* data);
ResultForm Cancel(WindowHandle mainWindow, char* data);

// Runs `work` on the export's text as bytes, and leaves its reply in the
// host's form. An ANSI host's buffer is worked on in place. A UTF-16 one is
// read into bytes on this thread's stack (as UTF-8) and written back: an
// answer byte for byte, any other text as the characters it spells.
std::int32_t Exchange(WindowHandle mainWindow, char* data,
                      ResultForm (*work)(WindowHandle mainWindow, char* data));

// Hands the finished job back to the board; the launcher tells the script.
void Finish(QueryJob* job);

// A new session, under the shared lock: every ticket dropped, every signal
// on its way emptied.
void NewSession();

}  // namespace velder::async
