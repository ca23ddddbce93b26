// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Reed-Solomon codes over GF(2^16) (field polynomial x^16 + x^12 + x^3 + x + 1, 0x1100B; generator roots
// α^0 .. α^(parity-1)): a codeword is its data symbols, the first the highest power, then its parity
// symbols, shortened to any length up to 65,535. Up to parity/2 wrong symbols anywhere are found and mended.
class TReedSolomon16 {
public:
    explicit TReedSolomon16(int parity);

    int Parity() const { return m_parity; }
    // The syndromes of a codeword given as a reader (symbol i of n): all zero when it is whole.
    template <typename Symbol> std::vector<uint16_t> Syndromes(int n, Symbol symbol) const
    {
        std::vector<uint16_t> s(size_t(m_parity), 0);
        for (int i = 0; i < n; ++i) {
            const uint16_t c = symbol(i);
            for (int j = 0; j < m_parity; ++j)
                s[size_t(j)] = uint16_t(multiply(s[size_t(j)], m_exp[size_t(j)]) ^ c);
        }
        return s;
    }
    // The mends of a codeword of n symbols with these syndromes: each wrong symbol's index and the value to
    // add to it (exclusive or). False when there are more wrong symbols than the parity can find.
    bool Mends(int n, const std::vector<uint16_t> &syndromes,
               std::vector<std::pair<int, uint16_t>> &mends) const;

    uint16_t multiply(uint16_t a, uint16_t b) const
    {
        return a == 0 || b == 0 ? 0 : m_exp[size_t(m_log[a]) + m_log[b]];
    }

private:
    uint16_t inverse(uint16_t a) const { return m_exp[size_t(65535 - m_log[a])]; }

    int m_parity;
    std::vector<uint16_t> m_exp; // α^i, twice over, so that sums of logarithms need no reduction
    std::vector<uint32_t> m_log;
};
