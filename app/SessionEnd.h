#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

// Turns SIGTERM, SIGHUP and SIGINT (the desktop session ending, the terminal closing, Ctrl-C in
// the terminal that started the window) into a call on the user-interface thread, so that the
// window can stop a running conversion, which removes its temporary file, and close as Exit
// does. The handler only writes a byte to a pipe; a socket notifier reads it inside the event
// loop, including the nested loop of a running batch. A second signal of the same kind takes the
// default action, so a program that does not react can still be ended.
//
// One exists at a time; the handlers are removed again when it goes.
class CSessionEnd : public QObject {
    Q_OBJECT
public:
    explicit CSessionEnd(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
    ~CSessionEnd() override;

    CSessionEnd(const CSessionEnd&) = delete;
    CSessionEnd& operator=(const CSessionEnd&) = delete;

private:
    void OnReadable();

    std::function<void(int)> m_onSignal;
    QSocketNotifier* m_notifier = nullptr;
};
