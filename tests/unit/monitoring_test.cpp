#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <thread>

#include "monitoring/message_queue.h"
#include "monitoring/monitor_feed.h"
#include "monitoring/notifier.h"
#include "settings/monitoring_settings.h"
#include "tests/support/temp_dir.h"

namespace varnholt {
namespace {

using testing::WorkingFolder;

// [Monitoring] values: defaults, and each bad value refused with a sentence
// that names the key and never shows the password.
TEST(MonitoringSettings, KeysAreCheckedAndNamed) {
    WorkingFolder folder;
    folder.Write("ca.pem", "-----BEGIN CERTIFICATE-----\n");
    folder.Write("mqtt.txt", "bench3\ns3cret-pw\n");
    folder.Write("loose.txt", "bench3\ns3cret-pw\n");
    folder.Write("nul.txt", std::string("bench3\ns3cret\0pw\n", 17));
    folder.Write("huge.txt", "bench3\n" + std::string(70000, 'x') + "\n");
#ifndef _WIN32
    ::chmod("mqtt.txt", 0600);
    ::chmod("loose.txt", 0644);
    ::chmod("nul.txt", 0600);
    ::chmod("huge.txt", 0600);
    ::mkfifo("fifo.txt", 0600);
#endif
    struct Case {
        std::string text;
        const char* refusal;  // nullptr: accepted
        int port;
    };
    const Case cases[] = {
        {"", nullptr, 1883},
        {"MqttHost=broker.lab\n", nullptr, 1883},
        {"MqttHost=broker.lab\nMqttCaFile=ca.pem\n", nullptr, 8883},
        {"MqttHost=broker.lab\nMqttCaFile=ca.pem\nMqttPort=18883\n", nullptr, 18883},
        {"MqttHost=broker.lab\nMqttPort=abc\n",
         "[Monitoring] MqttPort = 'abc' is not a port number", 0},
        {"MqttHost=broker.lab\nMqttPort=0\n", "[Monitoring] MqttPort = '0' is not a port number",
         0},
        {"MqttHost=broker.lab\nMqttPort=65536\n", "[Monitoring] MqttPort = '65536' is not", 0},
        {"MqttHost=broker.lab\nMqttCaFile=none.pem\n",
         "[Monitoring] MqttCaFile = 'none.pem' names no file", 0},
        {"MqttHost=broker.lab\nMqttCredentials=none.txt\n",
         "[Monitoring] MqttCredentials = 'none.txt' names no file", 0},
        {"MqttHost=broker.lab\nMqttTopic=lab/#\n",
         "[Monitoring] MqttTopic = 'lab/#' is not a topic", 0},
        // Refused by the broker at every publish: never accepted here.
        {"MqttHost=broker.lab\nMqttTopic=lab/a\tb\n",
         "[Monitoring] MqttTopic = 'lab/a<TAB>b' is not a topic", 0},
        {"MqttHost=broker.lab\nMqttTopic=lab/\x01\n",
         "[Monitoring] MqttTopic = 'lab/<01>' is not a topic", 0},
        {"MqttHost=broker.lab\nMqttTopic=lab/\xff\n",
         "[Monitoring] MqttTopic = 'lab/\xc3\xbf' is not a topic", 0},
        {"MqttHost=broker.lab\nMqttTopic=$SYS/varnholt\n",
         "[Monitoring] MqttTopic = '$SYS/varnholt' is not", 0},
        {"MqttHost=broker.lab\nMqttTopic=lab/Pr\xc3\xbc"
         "fstand\n",
         nullptr, 1883},
        {"MqttHost=broker.lab\nMqttCredentials=huge.txt\n",
         "[Monitoring] MqttCredentials = 'huge.txt' is larger than 64 KiB", 0},
        {"MqttHost=broker.lab\nMqttCredentials=mqtt.txt\n", nullptr, 1883},
        {"BenchName=bench-3\n", nullptr, 1883},
        {"BenchName=Pr\xc3\xbc"
         "fstand 3\n",
         nullptr, 1883},
        {"BenchName=\n", "[Monitoring] BenchName = '' is empty", 0},
        {"BenchName=a\tb\n", "[Monitoring] BenchName = 'a<TAB>b' holds a control character", 0},
        {"BenchName=\xff\n", "[Monitoring] BenchName = '\xc3\xbf' is not valid UTF-8 text", 0},
        {"BenchName=" + std::string(65, 'b') + "\n",
         "[Monitoring] BenchName = "
         "'bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb' is "
         "longer than 64 bytes",
         0},
#ifndef _WIN32
        {"MqttHost=broker.lab\nMqttCredentials=loose.txt\n",
         "[Monitoring] MqttCredentials = 'loose.txt' can be read by other users", 0},
        {"NotifyCommand=ca.pem\n", "[Monitoring] NotifyCommand = 'ca.pem' is not a program", 0},
        {"MqttHost=broker.lab\nMqttCredentials=nul.txt\n",
         "[Monitoring] MqttCredentials = 'nul.txt' holds a NUL byte", 0},
        // Never opened: the start-up would wait for a writer for good.
        {"MqttHost=broker.lab\nMqttCredentials=fifo.txt\n",
         "[Monitoring] MqttCredentials = 'fifo.txt' is a named pipe (FIFO)", 0},
        {"MqttHost=broker.lab\nMqttCaFile=fifo.txt\n",
         "[Monitoring] MqttCaFile = 'fifo.txt' is a named pipe (FIFO)", 0},
#endif
    };
    for (const Case& c : cases) {
        const IniFile ini = ParseIniText("[Monitoring]\n" + c.text);
        std::string errorText;
        const auto settings = ReadMonitoringSettings(ini, errorText);
        EXPECT_EQ(errorText.find("s3cret"), std::string::npos) << errorText;
        if (c.refusal == nullptr) {
            ASSERT_TRUE(settings) << c.text << errorText;
            EXPECT_EQ(settings->port, c.port) << c.text;
        } else {
            EXPECT_FALSE(settings) << c.text;
            EXPECT_EQ(errorText.rfind(std::string("kestrane.ini: ") + c.refusal, 0), 0u)
                << errorText;
        }
    }
    std::string errorText;
    const auto withCredentials = ReadMonitoringSettings(
        ParseIniText("[Monitoring]\nMqttHost=b\nMqttCredentials=mqtt.txt\n"), errorText);
    ASSERT_TRUE(withCredentials);
    // Without BenchName the bench is named by its folder.
    EXPECT_EQ(withCredentials->bench, std::filesystem::path(folder.path()).filename().string());
    EXPECT_EQ(withCredentials->user, "bench3");
    EXPECT_EQ(withCredentials->password, "s3cret-pw");
}

TEST(MonitoringSettings, DefaultTopicLevelsFromAnyName) {
    const std::pair<std::string, std::string> cases[] = {
        {"bench-3", "bench-3"},
        {"", "bench"},
        {"a b\tc", "a_b_c"},
        {"x/#+", "x___"},
        {"$SYS", "_SYS"},
        {"Pr\xc3\xbc"
         "fstand",
         "Pr\xc3\xbc"
         "fstand"},
        {"bad\xff", "bad_"},
        {"ctl\x01\x7f", "ctl__"},
    };
    for (const auto& [name, level] : cases) {
        EXPECT_EQ(TopicLevel(name), level) << name;
        EXPECT_TRUE(IsPublishableTopic("varnholt/" + TopicLevel(name))) << name;
    }
}

// The messages a run gives, in order, as dashboards read them.
TEST(MonitorFeed, RunEventsBecomeStatusRowsAndEvents) {
    std::vector<std::string> sent, notified;
    MonitorFeed feed(
        "1.2.0",
        [&](const MonitorMessage& m) {
            sent.push_back(m.subtopic + (m.retain ? " retained " : " ") + m.payload);
        },
        [&](const std::string& event, const std::string& log, int64_t count,
            const std::string& text, const std::string& unit) {
            notified.push_back(event + "|" + log + "|" + std::to_string(count) + "|" + text + "|" +
                               unit);
        },
        "bench-3", "lab-pc-7");
    EXPECT_EQ(feed.StatusPayload(0).rfind("{\"state\": \"idle\", \"log\": null, \"unit\": \"\", "
                                          "\"lot\": \"\", \"cycle\": 0, "
                                          "\"failures\": 0, \"since\": \"",
                                          0),
              0u);
    const int64_t started = LocalSeconds(2026, 12, 8, 15 * 3600 + 7 * 60 + 9);
    feed.OnRunStarted({TestLogKind::PowerCutTest, "powercut_log3.txt", started, "SN-0012", "L7"});
    feed.OnRowWritten({TestLogKind::PowerCutTest, "powercut_log3.txt", 1, false, started + 5,
                       "OpenShutter Error: E2<TAB>JAM", 210, 190, "SN-0012"});
    feed.dropped = [] { return uint64_t{7}; };
    feed.OnRowWritten({TestLogKind::PowerCutTest, "powercut_log3.txt", 2, true, started + 86400,
                       "PowerOn Error: -222,\"x\"", -1, -1, "SN-0012"});
    feed.OnLineChanged({false, "/dev/ttyUSB0", "Serial port 2 (/dev/ttyUSB0) was disconnected"});
    feed.OnRunEnded({TestLogKind::PowerCutTest, "powercut_log3.txt", true,
                     "PowerOn Error: -222,\"x\"", 2, "SN-0012", "failure"});
    ASSERT_EQ(sent.size(), 10u);
    // The fields a board reads come after those dashboards read, in order:
    // the bench's name and PC, when the status was made (UTC), how the last
    // run ended.
    const auto boardFields = [](const std::string& lastEnd) {
        return std::regex(
            ", \"bench\": \"bench-3\", \"host\": \"lab-pc-7\", \"updated\": "
            "\"20[0-9]{2}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z\", "
            "\"last_end\": " +
            lastEnd + "(, \"dropped\": [0-9]+)?\\}$");
    };
    const auto status = [](const std::string& sentText) {
        return sentText.substr(0, sentText.find(", \"bench\""));
    };
    EXPECT_TRUE(std::regex_search(sent[0], boardFields("null"))) << sent[0];
    EXPECT_EQ(status(sent[0]),
              "status retained {\"state\": \"powercut\", \"log\": \"powercut_log3.txt\", "
              "\"unit\": \"SN-0012\", \"lot\": \"L7\", \"cycle\": 0, \"failures\": 0, \"since\": "
              "\"2026-12-08T15:07:09\", "
              "\"version\": \"1.2.0\"");
    EXPECT_EQ(sent[1].rfind("events {\"event\": \"started\", \"log\": \"powercut_log3.txt\", ", 0),
              0u);
    EXPECT_EQ(sent[2],
              "rows {\"log\": \"powercut_log3.txt\", \"unit\": \"SN-0012\", \"count\": 1, "
              "\"status\": \"SUCCESS\", "
              "\"time\": \"2026-12-08T15:07:14\", \"error\": \"OpenShutter Error: E2<TAB>JAM\"}");
    EXPECT_EQ(status(sent[3]),
              "status retained {\"state\": \"powercut\", \"log\": \"powercut_log3.txt\", "
              "\"unit\": \"SN-0012\", \"lot\": \"L7\", \"cycle\": 1, \"failures\": 1, \"since\": "
              "\"2026-12-08T15:07:09\", "
              "\"version\": \"1.2.0\"");
    EXPECT_EQ(sent[4],
              "rows {\"log\": \"powercut_log3.txt\", \"unit\": \"SN-0012\", \"count\": 2, "
              "\"status\": \"FAILURE\", "
              "\"time\": \"2026-12-09T15:07:09\", \"error\": \"PowerOn Error: -222,\\\"x\\\"\"}");
    EXPECT_NE(sent[5].find("\"cycle\": 2, \"failures\": 2, "), std::string::npos);
    EXPECT_NE(sent[5].find(", \"dropped\": 7}"), std::string::npos);
    EXPECT_EQ(sent[6],
              "events {\"event\": \"line_dropped\", \"log\": \"powercut_log3.txt\", \"text\": "
              "\"Serial port 2 (/dev/ttyUSB0) was disconnected\"}");
    EXPECT_EQ(sent[7].rfind("events {\"event\": \"failure\", ", 0), 0u);
    EXPECT_EQ(sent[8].rfind("events {\"event\": \"ended\", ", 0), 0u);
    EXPECT_EQ(
        sent[9].rfind("status retained {\"state\": \"idle\", \"log\": \"powercut_log3.txt\", "
                      "\"unit\": \"SN-0012\", \"lot\": \"L7\", \"cycle\": 2, \"failures\": 2, ",
                      0),
        0u);
    EXPECT_TRUE(std::regex_search(sent[9], boardFields("\"failure\""))) << sent[9];
    EXPECT_EQ(feed.OfflinePayload(),
              "{\"state\": \"offline\", \"bench\": \"bench-3\", \"host\": \"lab-pc-7\"}");
    EXPECT_EQ(notified, (std::vector<std::string>{
                            "line_dropped|powercut_log3.txt|2|Serial port 2 (/dev/ttyUSB0) was "
                            "disconnected|SN-0012",
                            "failure|powercut_log3.txt|2|PowerOn Error: -222,\"x\"|SN-0012",
                            "ended|powercut_log3.txt|2|PowerOn Error: -222,\"x\"|SN-0012"}));
}

TEST(MessageQueue, PastTheLimitTheOldestGoAndAreCounted) {
    MessageQueue queue(10000);
    for (int i = 0; i < 10005; ++i) queue.Put({"rows", std::to_string(i), false});
    EXPECT_EQ(queue.Size(), 10000u);
    EXPECT_EQ(queue.Dropped(), 5u);
    MonitorMessage first;
    ASSERT_TRUE(queue.Take(first, std::chrono::milliseconds(0)));
    EXPECT_EQ(first.payload, "5");
    queue.PutBack(first);
    MonitorMessage again;
    ASSERT_TRUE(queue.Take(again, std::chrono::milliseconds(0)));
    EXPECT_EQ(again.payload, "5");
}

// The link's backoff: a new message looks again without ending the wait;
// the program's end (done, then Wake) ends it at once.
TEST(MessageQueue, ABackoffWaitEndsOnTheEndNotOnAMessage) {
    using namespace std::chrono;
    MessageQueue queue;
    std::atomic<bool> stopping{false};
    std::atomic<int> looks{0};
    const auto start = steady_clock::now();
    std::thread waiter([&] {
        queue.WaitUntil(start + seconds(20), [&] {
            ++looks;
            return stopping.load();
        });
    });
    std::this_thread::sleep_for(milliseconds(100));
    queue.Put({"rows", "1", false});
    std::this_thread::sleep_for(milliseconds(100));
    const int afterMessage = looks;
    stopping = true;
    queue.Wake();
    waiter.join();
    EXPECT_GE(afterMessage, 2) << "a new message did not wake the wait";
    EXPECT_LT(steady_clock::now() - start, seconds(5)) << "the end did not cut the wait short";
    EXPECT_EQ(queue.Size(), 1u);
}

// The notify command: arguments as text (no shell), once per interval for
// each event kind with the held calls counted into the next, ended with
// whatever it started when it runs too long or the program ends, and given
// nothing of the program's own: no descriptor but the null device.
TEST(Notifier, ArgumentsStayTextCallsAreLimitedAndLongRunsEnded) {
#ifdef _WIN32
    GTEST_SKIP() << "the test's notify command is a POSIX shell script";
#else
    WorkingFolder folder;
    const std::string script = folder.path() + "/notify.sh";
    std::filesystem::create_directory("calls");
    // "ended": records its arguments, its descriptors and where its input
    // comes from; "failure": fails; "line_dropped": leaves a sleeper in its
    // group and ends at once.
    folder.Write("notify.sh", "#!/bin/sh\nfor a in \"$@\"; do printf '%s|' \"$a\"; done > " +
                                  folder.path() +
                                  "/calls/$$\n"
                                  "[ \"$1\" = ended ] && { ls /proc/$$/fd > " +
                                  folder.path() +
                                  "/fds.$$; "
                                  "readlink /proc/$$/fd/0 > " +
                                  folder.path() +
                                  "/stdin.$$; "
                                  "head -c 100000 /dev/zero; }\n"
                                  "[ \"$1\" = failure ] && exit 3\n"
                                  "[ \"$1\" = line_dropped ] && { sleep 30 & echo $! > " +
                                  folder.path() + "/sleeper; }\nexit 0\n");
    ::chmod(script.c_str(), 0755);
    // A descriptor of ours without close-on-exec, as libraries leave them.
    const int ours = ::open(script.c_str(), O_RDONLY);
    ASSERT_GE(ours, 3);
    std::vector<std::string> trouble;
    std::mutex troubleMutex;
    {
        using std::chrono::milliseconds;
        Notifier notifier(script, milliseconds(800), milliseconds(500), [&](const std::string& t) {
            std::lock_guard<std::mutex> lock(troubleMutex);
            trouble.push_back(t);
        });
        notifier.Notify("ended", "cycle_log1.txt", 12, "x; rm -rf / $(touch pwned)");
        notifier.Notify("ended", "cycle_log1.txt", 13, "held");
        notifier.Notify("ended", "cycle_log1.txt", 14, "held");
        notifier.Notify("failure", "cycle_log1.txt", 14, "other kind", "SN-0012");
        notifier.Notify("line_dropped", "", 14, "sleeps");
        std::this_thread::sleep_for(milliseconds(1200));
        notifier.Notify("ended", "cycle_log2.txt", 3, "after the interval");
        std::this_thread::sleep_for(milliseconds(1500));
    }
    ::close(ours);
    std::vector<std::string> calls;
    for (const auto& call : std::filesystem::directory_iterator("calls")) {
        calls.push_back(folder.Read("calls/" + call.path().filename().string()));
        const std::string pid = call.path().filename().string();
        if (calls.back().rfind("ended|", 0) != 0) continue;
        // The shell's own (its script, from 10 up) and 0 to 2: nothing of ours.
        const std::string fds = "\n" + folder.Read("fds." + pid);
        EXPECT_EQ(fds.find("\n" + std::to_string(ours) + "\n"), std::string::npos) << fds;
        EXPECT_EQ(fds.find("\n3\n"), std::string::npos) << fds;
        EXPECT_EQ(folder.Read("stdin." + pid), "/dev/null\n");
    }
    std::sort(calls.begin(), calls.end());
    EXPECT_EQ(calls,
              (std::vector<std::string>{"ended|cycle_log1.txt|12|x; rm -rf / $(touch pwned)|",
                                        "ended|cycle_log2.txt|3|after the interval|2|",
                                        "failure|cycle_log1.txt|14|other kind|0|SN-0012|",
                                        "line_dropped||14|sleeps|"}));
    EXPECT_FALSE(std::filesystem::exists("pwned"));
    EXPECT_EQ(trouble,
              (std::vector<std::string>{"Monitoring: the notify command failed (failure)"}));
    // The sleeper its call left behind was ended with its group at the half
    // second, long before its 30 s.
    const pid_t sleeper = std::stoi(folder.Read("sleeper"));
    EXPECT_NE(::kill(sleeper, 0), 0);
#endif
}

// A command still running when the program ends is ended with it.
TEST(Notifier, NothingOutlivesTheProgram) {
#ifdef _WIN32
    GTEST_SKIP() << "the test's notify command is a POSIX shell script";
#else
    WorkingFolder folder;
    const std::string script = folder.path() + "/notify.sh";
    folder.Write("notify.sh", "#!/bin/sh\necho $$ > " + folder.path() + "/pid\nexec sleep 30\n");
    ::chmod(script.c_str(), 0755);
    const auto ended = [&] {
        Notifier notifier(script);
        notifier.Notify("ended", "cycle_log1.txt", 1, "stop");
        for (int i = 0; i < 100 && !std::filesystem::exists("pid"); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return std::chrono::steady_clock::now();
    }();
    const auto took = std::chrono::steady_clock::now() - ended;
    const pid_t pid = std::stoi(folder.Read("pid"));
    EXPECT_NE(::kill(-pid, 0), 0);
    EXPECT_LT(took, std::chrono::milliseconds(1500));
#endif
}

// Descriptors a library opened without close-on-exec (a socket pair, a
// stream) are marked, one by one or all at once.
TEST(Notifier, DescriptorsAreKeptFromChildren) {
#ifdef _WIN32
    GTEST_SKIP() << "handles are never inherited: CreateProcessW is told so";
#else
    WorkingFolder folder;
    const auto inherited = [](int fd) { return (::fcntl(fd, F_GETFD) & FD_CLOEXEC) == 0; };
    int pair[2];
    ASSERT_EQ(::pipe(pair), 0);
    std::FILE* stream = std::fopen("trace.txt", "ab");
    ASSERT_NE(stream, nullptr);
    ASSERT_TRUE(inherited(pair[0]) && inherited(pair[1]) && inherited(::fileno(stream)));
    KeepFromChildren(stream);
    EXPECT_FALSE(inherited(::fileno(stream)));
    EXPECT_TRUE(inherited(pair[0]));
    KeepFromChildren();
    EXPECT_FALSE(inherited(pair[0]));
    EXPECT_FALSE(inherited(pair[1]));
    std::fclose(stream);
    ::close(pair[0]);
    ::close(pair[1]);
#endif
}

}  // namespace
}  // namespace varnholt
