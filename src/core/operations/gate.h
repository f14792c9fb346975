// SPDX-License-Identifier: MIT
#pragma once
// Keeps operations of one line apart where they must not mix. The calibration upload pairs every slot command
// (X) with the value command (Y) that follows it, and waits between them with events running; anything the
// operator started inside those waits would fall between the pair, and a port closed and opened again would
// lose an X and write the next Y into the wrong slot. So while an exclusive operation runs, every other
// operation that a front end starts through the gate is refused: it does not run at all.

#include <QObject>
#include <QScopeGuard>
#include <utility>

namespace devlink {

class Gate : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;

    // An exclusive operation is running.
    bool closed() const { return closed_; }

    // Runs `operation` unless an exclusive one is running; true when it ran.
    template <class F> bool pass(F&& operation) {
        if (closed_) {
            return false;
        }
        std::forward<F>(operation)();
        return true;
    }

    // Runs `operation` with the gate closed to every other one, and returns what it returns. Not nested: the
    // gate refuses a second exclusive operation as any other.
    template <class F> decltype(auto) exclusive(F&& operation) {
        setClosed(true);
        const auto reopen = qScopeGuard([this] { setClosed(false); });
        return std::forward<F>(operation)();
    }

  signals:
    // The gate closed (an exclusive operation began) or opened again (it ended).
    void closedChanged(bool closed);

  private:
    void setClosed(bool closed) {
        closed_ = closed;
        emit closedChanged(closed);
    }

    bool closed_ = false;
};

} // namespace devlink
