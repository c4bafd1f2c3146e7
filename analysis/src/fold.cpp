#include "fold.h"

#include <cmath>

namespace kova::analysis::detail {

void Fold::add(const double* x, std::size_t n, int phase)
{
    std::size_t i = 0;
    if (!has_origin) {
        while (i < n && std::isnan(x[i])) {
            ++i;
            phase = phase + 1 == cycle ? 0 : phase + 1;
        }
        if (i == n)
            return;
        origin = x[i];
        has_origin = true;
    }
    double s[12] = {}, c[12] = {}, sq = 0.0;
    for (; i < n; ++i) {
        const double v = x[i] - origin;
        if (v == v) {  // not NaN
            s[phase] += v;
            c[phase] += 1.0;
            sq += v * v;
        }
        phase = phase + 1 == cycle ? 0 : phase + 1;
    }
    for (int p = 0; p < cycle; ++p) {
        sum[p] += s[p];
        count[p] += c[p];
        total += c[p];
    }
    sum_sq += sq;
}

double Fold::mean(int phase) const
{
    return count[phase] > 0 ? origin + sum[phase] / count[phase] : origin;
}

double Fold::spread() const
{
    double explained = 0.0;
    for (int p = 0; p < cycle; ++p)
        if (count[p] > 0)
            explained += sum[p] * sum[p] / count[p];
    const double dof = total - cycle;
    if (dof <= 0)
        return 0.0;
    const double r = (sum_sq - explained) / dof;
    return r > 0 ? std::sqrt(r) : 0.0;
}

}  // namespace kova::analysis::detail
