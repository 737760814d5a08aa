#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace ventoral {

// SIGTERM, SIGINT and SIGHUP (a logout ends the session's processes with them) turned into a
// call on the main thread: the handler only writes a byte, the event loop does the rest.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(std::function<void(int signal)> onSignal,
                                QObject* parent = nullptr);
    ~TerminationSignals() override;
    bool isInstalled() const { return notifier_ != nullptr; }

private:
    void readSignal();

    std::function<void(int)> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace ventoral
