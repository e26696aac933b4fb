// Where the scan page colours its scan log: motor online and offline marks,
// bridge names and the bracketed numbers, found by a bounded number of searches
// so one refresh costs at most 9 x slave count + 50 searches.
#pragma once

#include <QColor>
#include <QString>
#include <vector>

struct ColourSpan {
    int start = 0;
    int length = 0;
    QColor colour;

    bool operator==(const ColourSpan&) const = default;
};

// `text` is the view's text (one character per line end). The spans come in
// the order they are to be applied; later spans paint over earlier ones.
std::vector<ColourSpan> ScanLogColourSpans(const QString& text, int slaveCount);
