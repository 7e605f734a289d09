#include "platform/child_output.h"

#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "platform/console.h"

namespace sheetmend {

namespace {

void MoveToSink(int fd, ConsoleStream stream, ConsoleSink& sink) {
    if (fd < 0 || lseek(fd, 0, SEEK_SET) != 0) return;
    std::string text;
    char buffer[8192];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    sink.Append(stream, text);
}

}  // namespace

ChildOutput::ChildOutput() {
    if (!CurrentConsoleSink()) return;
    out_ = memfd_create("sheetmend-child-out", MFD_CLOEXEC);
    err_ = memfd_create("sheetmend-child-err", MFD_CLOEXEC);
}

ChildOutput::~ChildOutput() {
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
}

void ChildOutput::Redirect(posix_spawn_file_actions_t* actions, bool keepStandardOutput) {
    if (out_ >= 0 && keepStandardOutput) posix_spawn_file_actions_adddup2(actions, out_, 1);
    if (err_ >= 0) posix_spawn_file_actions_adddup2(actions, err_, 2);
}

void ChildOutput::Collect() {
    ConsoleSink* sink = CurrentConsoleSink();
    if (!sink) return;
    MoveToSink(out_, ConsoleStream::kOut, *sink);
    MoveToSink(err_, ConsoleStream::kErr, *sink);
}

}  // namespace sheetmend
