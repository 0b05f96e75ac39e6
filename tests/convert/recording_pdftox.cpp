// A stand-in for the export library that writes into each RTF export what the converter told
// it beforehand. Built twice: as the current library and, with
// RECORDING_PDFTOX_WITHOUT_RECOGNITION, as an older one that has no text recognition switch.
#include "engines/pdftox.h"

#include <cstdio>

namespace {
int g_recognition = 1; // the library's default
} // namespace

int OpenPDF(const char*, const char*) {
    return 1;
}

int GetPageNum(int) {
    return 1;
}

int ExportRTF(int, const char* outputPath, int, int, ExportProgressFn) {
    std::FILE* file = std::fopen(outputPath, "w");
    if (!file) {
        return PDFTOX_WRITE_FAILED;
    }
    std::fprintf(file, "text recognition %d\n", g_recognition);
    return std::fclose(file) == 0 ? 1 : PDFTOX_WRITE_FAILED;
}

void ClosePDF(int) {}

#ifndef RECORDING_PDFTOX_WITHOUT_RECOGNITION
int SetTextRecognition(int on) {
    const int previous = g_recognition;
    g_recognition = on;
    return previous;
}
#endif
