// SPDX-License-Identifier: MIT
#pragma once
// What merovask-ctl writes: replies on standard output (plain, timed or JSON), messages, progress and the
// upload's question on standard error.

#include <QElapsedTimer>
#include <QString>
#include <functional>

namespace ctl {

// Exit statuses.
enum Status : int {
    kDone = 0,
    kUsage = 1,
    kPortFailed = 2,
    kNoReply = 3,
    kRefused = 4,
};

// "merovask-ctl: <message>" on standard error.
void say(const QString& message);
// A usage error: the message and the pointer to --help; returns kUsage.
int usage(const QString& why);

// Prints each reply as one line, without its closing blank.
class ReplyPrinter {
  public:
    enum class Form { Plain, Timed, Json };
    ReplyPrinter(Form form, const QElapsedTimer& sinceStart) : form_(form), sinceStart_(sinceStart) {}

    // The command that the next replies answer (JSON names it).
    void sent(const QString& command);
    void print(const QByteArray& reply) const;

  private:
    Form form_;
    const QElapsedTimer& sinceStart_;
    QString lastCommand_;
};

// The operator's answer to a yes/no question, read from the terminal; false at the end of input.
bool confirmed(const QString& question);

// Progress of `total` commands: a bar on a terminal, a line per tenth otherwise.
std::function<void(int sent)> progress(int total);

} // namespace ctl
