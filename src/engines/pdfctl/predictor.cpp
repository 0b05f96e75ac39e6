#include "predictor.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace pdfctl {

Predictor::Predictor(size_t rowBytes, size_t pixelBytes)
    : m_bpp(std::max<size_t>(1, std::min(pixelBytes, rowBytes))), m_previous(rowBytes, 0),
      m_candidates(5, std::vector<uint8_t>(rowBytes + 1)) {
    for (size_t type = 0; type < 5; ++type) {
        m_candidates[type][0] = uint8_t(type);
    }
}

const std::vector<uint8_t>& Predictor::filter(const uint8_t* row) {
    const size_t n = m_previous.size();
    const size_t bpp = m_bpp;
    const uint8_t* up = m_previous.data();
    uint8_t* none = m_candidates[0].data() + 1;
    uint8_t* sub = m_candidates[1].data() + 1;
    uint8_t* upf = m_candidates[2].data() + 1;
    uint8_t* avg = m_candidates[3].data() + 1;
    uint8_t* pae = m_candidates[4].data() + 1;
    std::memcpy(none, row, n);
    // The first pixel has no left neighbour (taken as 0).
    for (size_t i = 0; i < bpp; ++i) {
        sub[i] = row[i];
        upf[i] = uint8_t(row[i] - up[i]);
        avg[i] = uint8_t(row[i] - (up[i] >> 1));
        pae[i] = uint8_t(row[i] - up[i]);
    }
    for (size_t i = bpp; i < n; ++i) {
        const int a = row[i - bpp];
        const int b = up[i];
        const int c = up[i - bpp];
        sub[i] = uint8_t(row[i] - a);
        upf[i] = uint8_t(row[i] - b);
        avg[i] = uint8_t(row[i] - ((a + b) >> 1));
        const int pa = std::abs(b - c);
        const int pb = std::abs(a - c);
        const int pc = std::abs(a + b - 2 * c);
        const int predicted = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
        pae[i] = uint8_t(row[i] - predicted);
    }
    uint32_t best = UINT32_MAX;
    size_t bestType = 0;
    for (size_t type = 0; type < 5; ++type) {
        const uint8_t* f = m_candidates[type].data() + 1;
        uint32_t sum = 0;
        for (size_t i = 0; i < n; ++i) {
            sum += uint32_t(std::abs(int(int8_t(f[i]))));
        }
        if (sum < best) {
            best = sum;
            bestType = type;
        }
    }
    std::memcpy(m_previous.data(), row, n);
    return m_candidates[bestType];
}

} // namespace pdfctl
