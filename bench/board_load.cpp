// Many simulated benches for the lab board's benchmark: each publishes a row
// and a status every interval into one broker, as a bench does, over one
// connection (the broker's fan-out is not what is measured). At the end
// prints "BENCH CYCLE" for every bench, the last cycle it published.
#include <mosquitto.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char* argv[]) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: board_load HOST PORT BENCHES INTERVAL_MS SECONDS\n");
        return 2;
    }
    const int port = std::atoi(argv[2]), benches = std::atoi(argv[3]);
    const auto interval = std::chrono::milliseconds(std::atoi(argv[4]));
    const auto length = std::chrono::seconds(std::atoi(argv[5]));
    mosquitto_lib_init();
    mosquitto* mosq = mosquitto_new(nullptr, true, nullptr);
    mosquitto_max_inflight_messages_set(mosq, 0);  // no limit: the broker is local
    if (mosquitto_connect(mosq, argv[1], port, 30) != MOSQ_ERR_SUCCESS ||
        mosquitto_loop_start(mosq) != MOSQ_ERR_SUCCESS) {
        std::fprintf(stderr, "board_load: cannot reach the broker\n");
        return 1;
    }
    std::vector<long> cycle(static_cast<size_t>(benches), 0);
    const auto start = std::chrono::steady_clock::now();
    auto next = start;
    while (std::chrono::steady_clock::now() - start < length) {
        for (int i = 0; i < benches; ++i) {
            const long c = ++cycle[static_cast<size_t>(i)];
            const std::string root = "varnholt/load/bench-" + std::to_string(i);
            const std::string row = "{\"log\": \"cycle_log1.txt\", \"unit\": \"SN-" +
                                    std::to_string(i) + "\", \"count\": " + std::to_string(c) +
                                    ", \"status\": \"SUCCESS\", \"time\": "
                                    "\"2026-12-10T03:00:00\", \"error\": \"\"}";
            const std::string status =
                "{\"state\": \"cycle\", \"log\": \"cycle_log1.txt\", \"unit\": \"SN-" +
                std::to_string(i) + "\", \"lot\": \"L7\", \"cycle\": " + std::to_string(c) +
                ", \"failures\": 0, \"since\": \"2026-12-10T03:00:00\", \"version\": \"load\", "
                "\"bench\": \"bench-" +
                std::to_string(i) +
                "\", \"host\": \"load\", "
                "\"updated\": \"2026-12-10T03:00:00Z\", \"last_end\": null}";
            mosquitto_publish(mosq, nullptr, (root + "/rows").c_str(), static_cast<int>(row.size()),
                              row.data(), 1, false);
            mosquitto_publish(mosq, nullptr, (root + "/status").c_str(),
                              static_cast<int>(status.size()), status.data(), 1, true);
        }
        next += interval;
        std::this_thread::sleep_until(next);
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    mosquitto_disconnect(mosq);
    mosquitto_loop_stop(mosq, false);
    mosquitto_destroy(mosq);
    mosquitto_lib_cleanup();
    for (int i = 0; i < benches; ++i)
        std::printf("bench-%d %ld\n", i, cycle[static_cast<size_t>(i)]);
    return 0;
}
