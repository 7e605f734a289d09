// A stand-in program for the process tests. It runs its arguments as a list
// of steps, each write done with a single system call so the reader sees
// predictable pieces:
//   write N Z   N bytes of 'x' with byte Z set to zero (Z < 0: none)
//   text S      the text S on standard output
//   err S       the text S on standard error
//   sleep MS    wait MS milliseconds
//   close       close standard output and standard error
//   exit C      end with status C
//   args ...    print every remaining argument as "<argument>\n"
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string step = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : ""; };
        if (step == "write") {
            const long n = std::atol(next());
            const long zero = std::atol(next());
            std::string data(static_cast<size_t>(n), 'x');
            if (zero >= 0 && zero < n) data[static_cast<size_t>(zero)] = '\0';
            if (write(1, data.data(), data.size()) < 0) return 3;
        } else if (step == "text" || step == "err") {
            const char* s = next();
            if (write(step == "text" ? 1 : 2, s, std::strlen(s)) < 0) return 3;
        } else if (step == "sleep") {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(next())));
        } else if (step == "close") {
            close(1);
            close(2);
        } else if (step == "exit") {
            return std::atoi(next());
        } else if (step == "args") {
            std::string out;
            for (++i; i < argc; ++i) out += std::string("<") + argv[i] + ">\n";
            if (write(1, out.data(), out.size()) < 0) return 3;
        }
    }
    return 0;
}
