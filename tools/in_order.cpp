#include "tools/in_order.h"

#include <algorithm>
#include <asio/post.hpp>
#include <asio/thread_pool.hpp>
#include <future>

namespace velder::tools {

void QueryInOrder(const std::vector<std::string>& addresses, int jobs, const QueryFunction& query,
                  const AnswerSink& sink) {
    if (addresses.size() <= 1 || jobs <= 1) {
        // Nothing runs beside: no thread to start.
        for (const std::string& address : addresses) {
            sink(query(address));
        }
        return;
    }
    asio::thread_pool pool(std::min<std::size_t>(addresses.size(), jobs));
    std::vector<std::future<ServerAnswer>> answers;
    answers.reserve(addresses.size());
    for (const std::string& address : addresses) {
        std::packaged_task<ServerAnswer()> task([&query, &address] { return query(address); });
        answers.push_back(task.get_future());
        asio::post(pool, std::move(task));
    }
    for (std::future<ServerAnswer>& answer : answers) {
        sink(answer.get());
    }
    pool.join();
}

}  // namespace velder::tools
