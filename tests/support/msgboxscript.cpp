// SPDX-License-Identifier: MIT
#include "support/msgboxscript.h"

namespace testsupport {

MsgBoxScript::MsgBoxScript() {
    platform::setMsgBoxHandlerForTests(
        [this](const QString& text, int buttons) { return answer(text, buttons); });
}

MsgBoxScript::~MsgBoxScript() {
    platform::setMsgBoxHandlerForTests({});
}

void MsgBoxScript::expect(const QString& text, int answer) {
    queue_.emplace_back(text, answer);
}

void MsgBoxScript::allow(const QString& text, int answer) {
    allowed_.emplace_back(text, answer);
}

void MsgBoxScript::reset() {
    queue_.clear();
    allowed_.clear();
    shown_.clear();
    unexpected_.clear();
}

int MsgBoxScript::answer(const QString& text, int buttons) {
    shown_ << text;
    if (!queue_.empty() && queue_.front().first == text) {
        const int result = queue_.front().second;
        queue_.pop_front();
        return result;
    }
    for (const auto& [allowedText, result] : allowed_) {
        if (allowedText == text) {
            return result;
        }
    }
    unexpected_ << text;
    return buttons == platform::vbYesNo ? platform::vbNo : platform::vbOK;
}

bool MsgBoxScript::verify(QString* why) const {
    if (!unexpected_.isEmpty()) {
        *why = QStringLiteral("unexpected message box(es): ") + unexpected_.join(QStringLiteral(" | "));
        return false;
    }
    if (!queue_.empty()) {
        *why = QStringLiteral("expected message box never shown: ") + queue_.front().first;
        return false;
    }
    return true;
}

} // namespace testsupport
