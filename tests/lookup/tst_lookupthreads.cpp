// The lookup workers' hand-over between threads, run under ThreadSanitizer: rapid requests,
// switching sources while lookups run, reverse searches and rewrites beside a worker in the
// same plug-in, and the end of the program while lookups hang. Without Qt Test, whose watchdog
// thread (uninstrumented Qt code) would give false reports.
#include "lists/ListPrompts.h"
#include "lookup/LookupSources.h"
#include "tests/lookup/LookupServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

namespace {

int failures = 0;

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "FAIL: %s\n", what);
        ++failures;
    }
}

template <typename Condition> bool processEventsUntil(Condition condition, int timeoutMs = 20000)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    testing::LookupServer server;
    for (int i = 0; i < 50; ++i)
        server.answer("04" + std::to_string(i), "Caller " + std::to_string(i) + "\nStreet");
    server.behave("0999", testing::LookupServer::Behaviour::Hang);
    ScriptedPrompts prompts;
    QList<LookupResult> results;

    {
        LookupSources sources(prompts);
        sources.OnLookupResult = [&results](const LookupResult &result) { results.append(result); };
        sources.SelectBuiltIn(server.baseUrl());
        // Requests faster than the worker serves them: each one it takes is delivered.
        for (int i = 0; i < 50; ++i) {
            sources.StartLookup(QStringLiteral("04%1").arg(i));
            QCoreApplication::processEvents();
        }
        check(processEventsUntil([&] { return results.size() > 0 && server.busy() == 0; }),
              "lookups delivered");
        check(processEventsUntil([&] { return results.last().number == "0449"; }),
              "the newest request is served last");
        for (const LookupResult &result : results)
            check(result.name == "Caller " + result.number.mid(2), "name of its number");

        // Switching while lookups run, back and forth, with reverse searches and rewrites in
        // the same plug-in.
        int searches = 0;
        sources.LoadNumberPlugin(QStringLiteral(TEST_PLUGIN_DIR "/found.so"));
        for (int i = 0; i < 20; ++i) {
            sources.StartLookup(QStringLiteral("04%1").arg(i));
            if (i % 2)
                sources.SelectPlugin(QStringLiteral(TEST_PLUGIN_DIR "/found.so"));
            else
                sources.SelectBuiltIn(server.baseUrl());
            sources.ReverseSearch(QStringLiteral("0441"), &app,
                                  [&searches](bool answered, const QString &text) {
                                      searches += answered && text.startsWith("Caller 41") !=
                                                                  text.startsWith("Found 0441");
                                  });
            check(sources.ModifyNumber(QStringLiteral("0441")) == QStringLiteral("90441"),
                  "rewritten beside the lookups");
            QCoreApplication::processEvents();
        }
        check(processEventsUntil([&] { return server.busy() == 0 && searches == 20; }),
              "switching settles, every search answered");

        // The program ends while one lookup hangs and a stopped worker finishes another.
        server.answer("0998", "Slow", 500);
        sources.SelectBuiltIn(server.baseUrl());
        sources.StartLookup(QStringLiteral("0998"));
        check(processEventsUntil([&] { return server.busy() == 1; }), "slow lookup");
        sources.SelectBuiltIn(server.baseUrl());
        sources.StartLookup(QStringLiteral("0999"));
        check(processEventsUntil([&] { return server.busy() == 2; }), "hanging lookup");
    }
    check(prompts.messages.isEmpty(), "no messages");
    std::fprintf(stderr, "%lld results\n", static_cast<long long>(results.size()));
    return failures == 0 ? 0 : 1;
}
