// The fast shading correction against the per-pixel formula with its nine square roots:
// bit for bit, on random tables, pixels and positions, at every grid pitch.
#include "scanstate.h"
#include "shadingcorrection.h"
#include "shadingreference.h"

#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <vector>

class TestShading : public QObject
{
    Q_OBJECT

private slots:
    void matchesFormula_data();
    void matchesFormula();
    void neighboursOutsideTableTakeEdgeNode_data();
    void neighboursOutsideTableTakeEdgeNode();
    void pixelOnNodeTakesThatNode();
    void binEdgesCountLikeFormula();
};

namespace
{
// Corrects a piece both ways: the pixels and the histogram counts must be the same.
void CompareWithFormula(const std::vector<unsigned char> &raw, int width, int lines, int xstart,
                        int firstLine, int pitch)
{
    std::vector<unsigned char> fast(raw.size()), reference(raw.size());
    float bins[161] = {};
    std::memset(histval, 0, sizeof histval);
    ShadingCorrectPiece(raw.data(), fast.data(), width, lines, xstart, firstLine, pitch);
    shadingreference::Piece(raw.data(), reference.data(), width, lines, xstart, firstLine, pitch,
                            shadingdata, bins);
    QVERIFY(fast == reference);
    for (int b = 0; b < 161; ++b)
        QCOMPARE(histval[b], bins[b]);
}

void FlatTable(float factor)
{
    std::fill(&shadingdata[0][0], &shadingdata[0][0] + 48 * 42, factor);
}
} // namespace

void TestShading::matchesFormula_data()
{
    QTest::addColumn<int>("pitch");
    QTest::addColumn<int>("xstart");
    QTest::addColumn<int>("firstLine");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("lines");
    // Positions from the bed's corner (grid index 0 made 1) to past the table's far edge.
    QTest::newRow("25 um, bed corner") << 400 << 0 << 0 << 900 << 6;
    QTest::newRow("25 um, far edge") << 400 << 17900 << 15800 << 500 << 3;
    QTest::newRow("50 um, mid bed") << 200 << 1234 << 2345 << 700 << 8;
    QTest::newRow("200 um, whole bed width") << 50 << 0 << 1000 << 2300 << 5;
    QTest::newRow("200 um, past the table") << 50 << 2250 << 2050 << 200 << 5;
    // Lines not a whole number of blocks of eight, lines inside one grid cell, and a line
    // one pixel longer than the stretch corrected at a time (1024).
    QTest::newRow("50 um, one pixel") << 200 << 3333 << 777 << 1 << 3;
    QTest::newRow("100 um, seven pixels") << 100 << 2010 << 1500 << 7 << 4;
    QTest::newRow("100 um, eight pixels") << 100 << 2049 << 1500 << 8 << 4;
    QTest::newRow("100 um, nine pixels across a cell edge") << 100 << 2045 << 1500 << 9 << 4;
    QTest::newRow("25 um, inside one cell") << 400 << 5000 << 9000 << 150 << 3;
    QTest::newRow("25 um, one pixel past a stretch") << 400 << 3000 << 400 << 1025 << 2;
}

void TestShading::matchesFormula()
{
    QFETCH(int, pitch);
    QFETCH(int, xstart);
    QFETCH(int, firstLine);
    QFETCH(int, width);
    QFETCH(int, lines);
    QRandomGenerator rng(quint32(pitch * 7919 + xstart + firstLine));
    for (auto &column : shadingdata)
        for (float &f : column)
            f = 0.5f + float(rng.generateDouble());
    std::vector<unsigned char> raw;
    for (int i = 0; i < width * lines; ++i) {
        // Mostly mid-range values, some zeros and some at the top (capped after correction).
        const int pick = rng.bounded(20);
        const int v = pick == 0 ? 0 : (pick == 1 ? 65535 - rng.bounded(200) : rng.bounded(65536));
        raw.push_back(static_cast<unsigned char>(v >> 8));
        raw.push_back(static_cast<unsigned char>(v));
    }
    CompareWithFormula(raw, width, lines, xstart, firstLine, pitch);
}

void TestShading::neighboursOutsideTableTakeEdgeNode_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("row");
    // At 200 um (pitch 50) a pixel at bed x 2400 has its node column at 48, one past the
    // table; at bed y 2100 its node row is 42.
    QTest::newRow("right of the table") << 2400 << 1000 << 47 << -1;
    QTest::newRow("above the table") << 1000 << 2100 << -1 << 41;
    QTest::newRow("beyond the corner") << 2450 << 2150 << 47 << 41;
}

void TestShading::neighboursOutsideTableTakeEdgeNode()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, column);
    QFETCH(int, row);
    // The edge column or row alone is 0.8: every node the pixel mixes is taken from it.
    for (int i = 0; i < 48; ++i)
        for (int j = 0; j < 42; ++j)
            shadingdata[i][j] = (i == column || j == row) ? 0.8f : 1.0f;
    const unsigned char raw[2] = {0x30, 0x00}; // 12288
    unsigned char out[2] = {};
    ShadingCorrectPiece(raw, out, 1, 1, x, y, 50);
    QCOMPARE(out[0] << 8 | out[1], int(12288 / 0.8f));
}

void TestShading::pixelOnNodeTakesThatNode()
{
    // Node 5 at pitch 50 lies at bed pixel 225: neighbours one pitch away weigh nothing and
    // the diagonal ones less than nothing, so the node's own factor decides alone.
    FlatTable(1.25f);
    shadingdata[5][7] = 0.5f;
    const unsigned char raw[2] = {0x10, 0x01}; // 4097
    unsigned char out[2] = {};
    ShadingCorrectPiece(raw, out, 1, 1, 225, 325, 50);
    QCOMPARE(out[0] << 8 | out[1], 8194);
}

void TestShading::binEdgesCountLikeFormula()
{
    // Raw values around every bin edge, with a flat factor that leaves fractions: the bin
    // must follow the corrected value, not its whole part.
    FlatTable(0.999f);
    std::vector<unsigned char> raw;
    for (int k = 1; k <= 160; ++k) {
        const int edge = int(k * 65535.0 / 160.0 * 0.999);
        for (int v = edge - 1; v <= edge + 1; ++v) {
            raw.push_back(static_cast<unsigned char>(v >> 8));
            raw.push_back(static_cast<unsigned char>(v));
        }
    }
    CompareWithFormula(raw, int(raw.size() / 2), 1, 300, 300, 100);
}

QTEST_GUILESS_MAIN(TestShading)
#include "tst_shading.moc"
