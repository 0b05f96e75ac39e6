#pragma once

// The PNG predictors of the Flate streams of decoded pictures.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pdfctl {

/// PNG row filters chosen per row by the smallest sum of absolute differences (the choice
/// libpng makes), which lets Flate compress photographs by about a third more. The loops are
/// kept free of branches so that the compiler vectorizes them.
class Predictor {
public:
    /// For rows of `rowBytes` bytes whose pixels are `pixelBytes` bytes apart (1 when smaller).
    Predictor(size_t rowBytes, size_t pixelBytes);

    /// The filtered row, its filter type byte first; valid until the next call.
    const std::vector<uint8_t>& filter(const uint8_t* row);

private:
    size_t m_bpp;
    std::vector<uint8_t> m_previous;
    std::vector<std::vector<uint8_t>> m_candidates;
};

} // namespace pdfctl
