#pragma once

// The functions that the CSV reader calls back: to check for an interrupt, to
// make a call that may block, and to note a cell without a number. The other
// headers of this folder use them without the reader.

#include <functional>
#include <string_view>

namespace csv {

// Called while the reader waits for the file (on EINTR), before every read of
// a chunk, every 64 KiB of text split into cells and every few thousand
// columns given room, so that the time between two calls stays short whatever
// the shape of the file. It may throw to abandon the read.
using InterruptCheck = std::function<void()>;

// Runs `system_call`, an open or a read of the file that may wait for another
// thread of the process (the writer of a FIFO or a pipe), and returns when it
// has returned. The call throws nothing and sets errno.
using BlockingCall = std::function<void(const std::function<void()>& system_call)>;

// Called with the text of a cell that holds no number, before NaN is appended
// for it. It may throw to abandon the read.
using OnUnreadableCell = std::function<void(std::string_view text)>;

}  // namespace csv
