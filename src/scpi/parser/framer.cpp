// SPDX-License-Identifier: MIT
#include "parser/framer.h"

namespace scpi {

std::vector<Framer::Message> Framer::feed(QByteArrayView bytes) {
    std::vector<Message> out;
    for (const char byte : bytes) {
        take(byte, out);
    }
    return out;
}

void Framer::drop(ErrorCode code) {
    dropped_ = code;
    text_.clear();
    text_.squeeze();
    state_ = State::Drop;
}

void Framer::end(std::vector<Message>& out) {
    Message message;
    if (dropped_ != ErrorCode::NoError) {
        message.error = Error{dropped_, {}};
    } else {
        message.text = std::exchange(text_, {});
        if (!blockLast_ && message.text.endsWith('\r')) {
            message.text.chop(1);
        }
    }
    out.push_back(std::move(message));
    text_.clear();
    state_ = State::Text;
    outside_ = 0;
    blockLast_ = false;
    dropped_ = ErrorCode::NoError;
}

void Framer::take(char byte, std::vector<Message>& out) {
    switch (state_) {
    case State::Block:
        text_ += byte;
        blockLast_ = true;
        if (--remaining_ == 0) {
            state_ = State::Text;
        }
        return;
    case State::SkipBlock:
        // Counted, not kept: the stream stays in step with what the client sends.
        if (--remaining_ == 0) {
            state_ = State::Drop;
        }
        return;
    case State::Drop:
        if (byte == '\n') {
            end(out);
        }
        return;
    case State::Indefinite:
        // #0: everything up to the message's end is the block's.
        if (byte == '\n') {
            end(out);
        } else if (text_.size() - outside_ >= kMaxBlock) {
            drop(ErrorCode::TooMuchData);
        } else {
            text_ += byte;
            blockLast_ = true;
        }
        return;
    case State::Hash:
        if (byte >= '1' && byte <= '9') {
            state_ = State::Digits;
            digits_ = byte - '0';
            length_ = 0;
        } else if (byte == '0') {
            state_ = State::Indefinite;
            text_ += byte;
            ++outside_;
            return;
        } else {
            // #H1F, #B101, #Q17 or a malformed block: the lexer reads it.
            state_ = State::Text;
            take(byte, out);
            return;
        }
        break;
    case State::Digits:
        if (byte >= '0' && byte <= '9') {
            length_ = length_ * 10 + (byte - '0');
            if (--digits_ == 0) {
                if (length_ > kMaxBlock) {
                    drop(ErrorCode::TooMuchData);
                    remaining_ = length_;
                    state_ = length_ > 0 ? State::SkipBlock : State::Drop;
                    return;
                }
                remaining_ = length_;
                state_ = length_ > 0 ? State::Block : State::Text;
            }
            break;
        }
        // Fewer digits than announced: the lexer reports the block.
        state_ = State::Text;
        take(byte, out);
        return;
    case State::Quoted:
        if (byte == quote_) {
            state_ = State::Text;
        } else if (byte == '\n') {
            end(out);
            return;
        }
        break;
    case State::Text:
        if (byte == '\n') {
            end(out);
            return;
        }
        if (byte == '"' || byte == '\'') {
            quote_ = byte;
            state_ = State::Quoted;
        } else if (byte == '#') {
            state_ = State::Hash;
        }
        break;
    }
    text_ += byte;
    blockLast_ = false;
    if (++outside_ > kMaxLine) {
        drop(ErrorCode::InputOverrun);
    }
}

} // namespace scpi
