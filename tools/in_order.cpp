#include "tools/in_order.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace velder::tools {

void QueryInOrder(const std::vector<std::string>& addresses, int jobs, const QueryFunction& query,
                  const AnswerSink& sink) {
    const std::size_t total = addresses.size();
    if (total == 1 || jobs <= 1) {
        // Nothing runs beside: no thread to start.
        for (const std::string& address : addresses) {
            sink(query(address));
        }
        return;
    }
    std::vector<std::optional<ServerAnswer>> answers(total);
    std::mutex mutex;
    std::condition_variable done;
    std::size_t next = 0;  // the next address a worker takes

    const auto work = [&] {
        while (true) {
            std::size_t index;
            {
                std::lock_guard lock(mutex);
                if (next == total) {
                    return;
                }
                index = next++;
            }
            ServerAnswer answer = query(addresses[index]);
            {
                std::lock_guard lock(mutex);
                answers[index] = std::move(answer);
            }
            done.notify_one();
        }
    };

    const std::size_t workers =
        std::min<std::size_t>(total, static_cast<std::size_t>(std::max(jobs, 1)));
    std::vector<std::thread> threads;
    threads.reserve(workers);
    for (std::size_t i = 0; i < workers; ++i) {
        threads.emplace_back(work);
    }
    for (std::size_t shown = 0; shown < total; ++shown) {
        ServerAnswer answer;
        {
            std::unique_lock lock(mutex);
            done.wait(lock, [&] { return answers[shown].has_value(); });
            answer = std::move(*answers[shown]);
            answers[shown].reset();
        }
        sink(answer);
    }
    for (std::thread& t : threads) {
        t.join();
    }
}

}  // namespace velder::tools
