// make_demo_take OUT.wav [EXPECTED.tsv]: writes the demonstration take as a 24-bit WAV file and, when
// asked, its notes (start in seconds and MIDI pitch, one per line).

#include "tools/demo_take.h"

#include <cstdio>
#include <sndfile.h>

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: make_demo_take OUT.wav [EXPECTED.tsv]\n");
        return 2;
    }
    const cvdemo::DemoTake take = cvdemo::makeDemoTake();
    SF_INFO info{};
    info.samplerate = static_cast<int>(take.sampleRate);
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    SNDFILE* file = sf_open(argv[1], SFM_WRITE, &info);
    if (file == nullptr) {
        std::fprintf(stderr, "make_demo_take: could not write %s: %s\n", argv[1], sf_strerror(nullptr));
        return 1;
    }
    const auto frames = static_cast<sf_count_t>(take.mono.size());
    const bool written = sf_writef_float(file, take.mono.data(), frames) == frames;
    sf_close(file);
    if (!written) {
        std::fprintf(stderr, "make_demo_take: could not write %s\n", argv[1]);
        return 1;
    }
    if (argc == 3) {
        std::FILE* expected = std::fopen(argv[2], "w");
        if (expected == nullptr) {
            std::fprintf(stderr, "make_demo_take: could not write %s\n", argv[2]);
            return 1;
        }
        for (const cvdemo::DemoNote& note : take.notes)
            std::fprintf(expected, "%.4f\t%.2f\n", note.startSeconds, note.midi);
        std::fclose(expected);
    }
    return 0;
}
