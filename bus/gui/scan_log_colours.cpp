#include "bus/gui/scan_log_colours.hpp"

#include <algorithm>

namespace {

struct Pass {
    const char* word;
    int searchesPerSlave;  // 0: a fixed number of searches
    int fixedSearches;
    int before;  // characters coloured ahead of the word
    int after;   // characters coloured behind the word
    QColor colour;
};

// Each hit is coloured over its span; the next search starts right behind the
// word itself, so marks closer together than their spans are all found.
void RunPass(const QString& text, long long searches, const Pass& pass,
             std::vector<ColourSpan>& out) {
    const QString word = QString::fromLatin1(pass.word);
    qsizetype from = 0;
    for (long long i = 0; i < searches; ++i) {
        const qsizetype hit = text.indexOf(word, from, Qt::CaseInsensitive);
        // A miss leaves the start where it was, so every later search misses too.
        if (hit < 0) break;
        const qsizetype start = std::max<qsizetype>(0, hit - pass.before);
        const qsizetype end = std::min<qsizetype>(text.size(), hit + word.size() + pass.after);
        out.push_back({static_cast<int>(start), static_cast<int>(end - start), pass.colour});
        from = hit + word.size();
    }
}

}  // namespace

std::vector<ColourSpan> ScanLogColourSpans(const QString& text, int slaveCount) {
    static const Pass kPasses[] = {
        {"ONline", 4, 0, 0, 0, QColor(0, 0, 255)},
        {"OFFline", 4, 0, 8, 0, QColor(255, 0, 0)},
        {"ZR", 1, 0, 0, 2, QColor(255, 0, 255)},
        {"(", 0, 50, 0, 5, QColor(255, 0, 100)},
    };
    std::vector<ColourSpan> spans;
    for (const Pass& pass : kPasses) {
        const long long searches = pass.searchesPerSlave > 0
                                       ? 1LL * pass.searchesPerSlave * std::max(0, slaveCount)
                                       : pass.fixedSearches;
        RunPass(text, searches, pass, spans);
    }
    return spans;
}
