#include "platform/error_box.h"

#include "platform/console.h"

#include <cstdio>

namespace sheetmend {

void ShowErrorBox(int32_t code, const char* text) {
    char message[1024];
    if (code == 4)
        std::snprintf(message, sizeof message, "Bad memory.");
    else
        std::snprintf(message, sizeof message, "Error: %s", text ? text : "");
    ConsoleErrorf("%s\n", message);
}

}  // namespace sheetmend
