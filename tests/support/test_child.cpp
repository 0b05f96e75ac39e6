// A small program that the process tests start, copy under other names, wait for and end.
//   test_child print N       writes whole numbered text lines, N bytes or a little more, then exits
//   test_child sleep MS      sleeps MS milliseconds, then exits
//   test_child args FILE ... writes each argument on its own line into FILE
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "print") == 0) {
        const long n = std::atol(argv[2]);
        std::string text;
        for (int line = 0; long(text.size()) < n; ++line) {
            text += "line " + std::to_string(line) + " \xc3\xa9t\xc3\xa9 ✓\n";
        }
        std::fwrite(text.data(), 1, text.size(), stdout);
        const int linger = argc >= 4 ? std::atoi(argv[3]) : 0;
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(linger));
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "sleep") == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(argv[2])));
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "args") == 0) {
        FILE* f = std::fopen(argv[2], "wb");
        if (!f) {
            return 2;
        }
        for (int i = 3; i < argc; ++i) {
            std::fprintf(f, "%s\n", argv[i]);
        }
        std::fclose(f);
        return 0;
    }
    return 3;
}
