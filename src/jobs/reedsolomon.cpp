// SPDX-License-Identifier: GPL-3.0-or-later
#include "reedsolomon.h"

TReedSolomon16::TReedSolomon16(int parity) : m_parity(parity), m_exp(2 * 65535 + 1), m_log(65536, 0)
{
    uint32_t x = 1;
    for (uint32_t i = 0; i < 65535; ++i) {
        m_exp[i] = m_exp[i + 65535] = uint16_t(x);
        m_log[x] = i;
        x <<= 1;
        if (x & 0x10000)
            x ^= 0x1100B;
    }
    m_exp[2 * 65535] = m_exp[0];
}

bool TReedSolomon16::Mends(int n, const std::vector<uint16_t> &s,
                           std::vector<std::pair<int, uint16_t>> &mends) const
{
    mends.clear();
    bool whole = true;
    for (const uint16_t v : s)
        whole = whole && v == 0;
    if (whole)
        return true;
    // Berlekamp-Massey: the error locator Λ(x), its roots the inverses of the wrong symbols' places.
    std::vector<uint16_t> lambda{1}, before{1};
    int errors = 0, shift = 1;
    uint16_t lastDiscrepancy = 1;
    for (int k = 0; k < m_parity; ++k) {
        uint16_t d = s[size_t(k)];
        for (int i = 1; i <= errors && i < int(lambda.size()); ++i)
            d ^= multiply(lambda[size_t(i)], s[size_t(k - i)]);
        if (d == 0) {
            ++shift;
            continue;
        }
        const uint16_t factor = multiply(d, inverse(lastDiscrepancy));
        std::vector<uint16_t> next = lambda;
        if (next.size() < before.size() + size_t(shift))
            next.resize(before.size() + size_t(shift), 0);
        for (size_t i = 0; i < before.size(); ++i)
            next[i + size_t(shift)] ^= multiply(factor, before[i]);
        if (2 * errors <= k) {
            before = lambda;
            errors = k + 1 - errors;
            lastDiscrepancy = d;
            shift = 1;
        } else {
            ++shift;
        }
        lambda = std::move(next);
    }
    while (lambda.size() > 1 && lambda.back() == 0)
        lambda.pop_back();
    const int degree = int(lambda.size()) - 1;
    if (degree != errors || 2 * degree > m_parity)
        return false;
    // Ω(x) = S(x)Λ(x) mod x^parity.
    std::vector<uint16_t> omega(size_t(m_parity), 0);
    for (int i = 0; i < m_parity; ++i)
        for (int j = 0; j <= i && j <= degree; ++j)
            omega[size_t(i)] ^= multiply(lambda[size_t(j)], s[size_t(i - j)]);
    // Chien search over the codeword's places (symbol i stands for the power n-1-i), Forney for the values.
    for (int i = 0; i < n && int(mends.size()) < degree; ++i) {
        const uint32_t power = uint32_t(n - 1 - i) % 65535;
        const uint16_t xInverse = m_exp[(65535 - power) % 65535];
        uint16_t value = 0, derivative = 0, omegaValue = 0, xPower = 1;
        for (int j = 0; j <= degree; ++j) {
            value ^= multiply(lambda[size_t(j)], xPower);
            if (j % 2 == 1)
                derivative ^= multiply(lambda[size_t(j)], multiply(xPower, inverse(xInverse)));
            xPower = multiply(xPower, xInverse);
        }
        if (value != 0)
            continue;
        xPower = 1;
        for (int j = 0; j < m_parity; ++j) {
            omegaValue ^= multiply(omega[size_t(j)], xPower);
            xPower = multiply(xPower, xInverse);
        }
        if (derivative == 0)
            return false;
        // e = X · Ω(X⁻¹) / Λ'(X⁻¹), X = α^power (the first root is α^0).
        mends.emplace_back(i, multiply(multiply(m_exp[power], omegaValue), inverse(derivative)));
    }
    return int(mends.size()) == degree;
}
