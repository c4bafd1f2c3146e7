// The yardstick for kova-check on formats it cannot compare byte for byte:
// a plain libsndfile read of every sample into integers, and nothing else.

#include <sndfile.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: kova_sndfile_read FILE\n");
        return 2;
    }
    SF_INFO info{};
    SNDFILE* sf = sf_open(argv[1], SFM_READ, &info);
    if (!sf) {
        std::fprintf(stderr, "kova_sndfile_read: %s\n", sf_strerror(nullptr));
        return 1;
    }
    // The same block of values kova-check reads in.
    std::vector<int> values(256 * 1024);
    const sf_count_t frames = static_cast<sf_count_t>(values.size()) / info.channels;
    unsigned long long sum = 0;
    sf_count_t n;
    while ((n = sf_readf_int(sf, values.data(), frames)) > 0)
        sum += static_cast<unsigned>(values[0]);  // keeps the read from being optimised away
    sf_close(sf);
    return sum == 1 ? 1 : 0;
}
