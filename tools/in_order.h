// Runs many blocking queries on a few threads and hands their answers on in
// the order the servers were given, each as soon as it and all before it are done.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/views.h"

namespace velder::tools {

using QueryFunction = std::function<ServerAnswer(const std::string& address)>;
using AnswerSink = std::function<void(const ServerAnswer& answer)>;

// Calls `query` once for every address, at most `jobs` at a time, and `sink`
// once for every answer, in the order of `addresses`, on the calling thread.
void QueryInOrder(const std::vector<std::string>& addresses, int jobs, const QueryFunction& query,
                  const AnswerSink& sink);

}  // namespace velder::tools
