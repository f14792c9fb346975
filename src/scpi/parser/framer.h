// SPDX-License-Identifier: MIT
#pragma once
// Splits the bytes of one connection into program messages. A message ends at LF (a CR just before it is
// dropped), except inside a definite-length block (#<n><length><bytes>), whose bytes may be anything. A
// message holds at most kMaxLine bytes besides its blocks, and a block at most kMaxBlock; beyond that the
// message is dropped up to its end and reported as an error in its place, so memory stays bounded whatever
// a client sends and the messages after it are read as usual.

#include "parser/errors.h"

#include <QByteArray>
#include <QByteArrayView>
#include <optional>
#include <vector>

namespace scpi {

class Framer {
  public:
    static constexpr qsizetype kMaxLine = 4096;
    static constexpr qsizetype kMaxBlock = 64 * 1024;

    struct Message {
        QByteArray text;            // without its end; empty when dropped
        std::optional<Error> error; // why it was dropped (-363, -223)
    };

    std::vector<Message> feed(QByteArrayView bytes);
    // Bytes of the message under way that are held.
    qsizetype held() const { return text_.size(); }

  private:
    enum class State { Text, Quoted, Hash, Digits, Block, Indefinite, SkipBlock, Drop };
    void take(char byte, std::vector<Message>& out);
    void drop(ErrorCode code);
    void end(std::vector<Message>& out);

    State state_ = State::Text;
    QByteArray text_;
    qsizetype outside_ = 0;  // bytes of the message outside blocks
    char quote_ = 0;         // the quote that opened the string under way
    int digits_ = 0;         // of the block's length still to come
    qint64 remaining_ = 0;   // block bytes still to come
    qint64 length_ = 0;      // the block's length as declared so far
    bool blockLast_ = false; // the message's last byte was a block's
    ErrorCode dropped_ = ErrorCode::NoError;
};

} // namespace scpi
