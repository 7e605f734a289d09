// What a started program prints, when this thread's console text goes to a
// sink: its standard output and error are sent to two memory files, and
// their text joins the sink once the program has ended. Outside a capture
// the program shares our standard output and error, as always.
#pragma once

#include <spawn.h>

namespace sheetmend {

class ChildOutput {
  public:
    ChildOutput();
    ~ChildOutput();
    ChildOutput(const ChildOutput&) = delete;
    ChildOutput& operator=(const ChildOutput&) = delete;

    // Adds the redirections to the spawn actions. Standard output is left
    // alone when the caller already sends it elsewhere.
    void Redirect(posix_spawn_file_actions_t* actions, bool keepStandardOutput = true);
    // Moves what the program printed into the sink (standard output first).
    void Collect();

  private:
    int out_ = -1;
    int err_ = -1;
};

}  // namespace sheetmend
