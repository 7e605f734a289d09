// Writing a file without ever leaving a half-written one: the data goes to a
// temporary file beside the target, which is renamed into place only when
// every byte was written. RasterImage::Save and the PDF writer both save this
// way.
#pragma once

#include <functional>
#include <string>

namespace sheetmend {

class ByteStream;

// Writes the whole file to the stream it is given; false on failure (it
// reports its own reason).
using StreamWriter = std::function<bool(ByteStream*)>;

struct SafeWriteOutcome {
    // False when the target (or its temporary file) could not be created at
    // all; `systemError` then holds the errno value.
    bool created = true;
    int systemError = 0;
    // The reason for a failure found here rather than by the writer; empty
    // when the writer itself failed.
    std::string error;

    void SetCannotCreate(const char* fileName, int errorNumber);
};

// True when `fileName` holds exactly what `write` produced.
bool WriteFileSafely(const char* fileName, const StreamWriter& write, SafeWriteOutcome& outcome);

}  // namespace sheetmend
