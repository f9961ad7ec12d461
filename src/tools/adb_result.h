#pragma once

#include <QString>

namespace sonavel {

// The outcome of one adb command: its exit status (-1 when adb is missing or did not start) and
// its combined output text, untrimmed.
struct AdbResult {
    int status = -1;
    QString output;
};

}  // namespace sonavel
