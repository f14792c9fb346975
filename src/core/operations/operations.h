// SPDX-License-Identifier: MIT
#pragma once
// The operator's filter operations as sequences on a line: which value is read when, how it is limited,
// what is written back, which command goes out. The window passes its boxes; merovask-ctl passes the values
// given on its command line.

#include "device/limits.h"
#include "line/line.h"

#include <QString>
#include <cstdint>

namespace filter {

// A box that an operation reads when it comes to it and rewrites with the value that it sends.
class Field {
  public:
    virtual ~Field() = default;
    virtual QString text() const = 0;
    virtual void setText(const QString& text) = 0;
};

// A field that holds its text itself.
class TextField : public Field {
  public:
    explicit TextField(QString text = {}) : text_(std::move(text)) {}
    QString text() const override { return text_; }
    void setText(const QString& text) override { text_ = text; }

  private:
    QString text_;
};

// "Send", "Increase", "Decrease": the box's whole value (0 when it does not convert) limited to its kind,
// written back, and sent through the console as command(value). Returns the value sent.
std::int32_t tune(devlink::Line& line, Field& box, LimitKind kind, QString (*command)(std::int32_t));

// "Calibration": Z through the console.
void calibrate(devlink::Line& line);

// "Setting": the start and end wavelengths and the stay time, each limited, written back and sent through the
// console, with 500 ms after each of the first two, whose time-outs are disarmed. One working value serves
// all three: a text that does not convert takes the value sent before it.
void scanSetting(devlink::Line& line, Field& start, Field& end, Field& stay);

// "Scan": the span limited to 1..30 and sent through the console; its box keeps what was typed. Returns the
// value sent.
std::int32_t scan(devlink::Line& line, const QString& span);

// Output index + 1 of the 1x4 switch (A..D) through the console.
void selectOutput(devlink::Line& line, int index);

} // namespace filter
