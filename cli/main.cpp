// sheetmend [options] <in-file> [<out-file>]
#include <string>
#include <vector>

#include "cli/batch.h"

int main(int argc, char** argv) {
    std::vector<std::string> words(argv, argv + argc);
    return sheetmend::RunBatch(words);
}
