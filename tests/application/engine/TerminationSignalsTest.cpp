#include "application/engine/TerminationSignals.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <csignal>
#include <gtest/gtest.h>
#include <vector>

namespace ventoral {
namespace {

TEST(TerminationSignals, EachArrivesOnTheMainThread) {
    std::vector<int> received;
    {
        TerminationSignals handler([&](int signal) { received.push_back(signal); });
        ASSERT_TRUE(handler.isInstalled());
        for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
            std::raise(signal); // would end the process without the handler
        }
        QElapsedTimer waited;
        waited.start();
        while (received.size() < 3 && waited.elapsed() < 3000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
    }
    EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGINT, SIGHUP}));
}

} // namespace
} // namespace ventoral
