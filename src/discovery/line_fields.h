#pragma once

#include <QStringView>

namespace sonavel {

// Walks the fields of one line of adb's output, separated by spaces and tabs, without copying
// them: the listings are parsed on every refresh and every table of the watcher.
class FieldCursor {
public:
    explicit FieldCursor(QStringView line) : line_(line) {}

    // The next field, or an empty view at the end of the line.
    QStringView next() {
        while (pos_ < line_.size() && isBlank(line_[pos_])) {
            ++pos_;
        }
        start_ = pos_;
        while (pos_ < line_.size() && !isBlank(line_[pos_])) {
            ++pos_;
        }
        return line_.mid(start_, pos_ - start_);
    }

    // Where the field last returned by next() begins in the line.
    qsizetype start() const { return start_; }

private:
    static bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }

    QStringView line_;
    qsizetype pos_ = 0;
    qsizetype start_ = 0;
};

}  // namespace sonavel
