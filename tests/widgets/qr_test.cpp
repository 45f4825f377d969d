#include "widgets/widgets_app.h"

#include "ui/widgets/image_static.h"
#include "ui/widgets/qr_static.h"
#include "ui/widgets/qr_symbol.h"
#include "ui/widgets/terminal_qr.h"

#include <gtest/gtest.h>

using namespace ui::widgets;
using widgets_test::qtApp;
using widgets_test::readQr;
using widgets_test::withQuietZone;

namespace {

bool isBlack(QRgb p) { return qRed(p) == 0 && qGreen(p) == 0 && qBlue(p) == 0; }
bool isWhite(QRgb p) { return qRed(p) == 255 && qGreen(p) == 255 && qBlue(p) == 255; }

}  // namespace

TEST(QrPlacement, WholePixelModulesCentredInTheBox) {
    // 21 modules in 234 pixels: 11-pixel modules, 231 pixels, 1 pixel left and top.
    QrPlacement p = placeQr(21, 234, 234);
    EXPECT_EQ(p.module, 11);
    EXPECT_EQ(p.x0, 1);
    EXPECT_EQ(p.y0, 1);
    // A wide box: the height decides, the symbol sits in the middle.
    p = placeQr(29, 400, 234);
    EXPECT_EQ(p.module, 8);
    EXPECT_EQ(p.x0, (400 - 232) / 2);
    EXPECT_EQ(p.y0, 1);
    // Smaller than one pixel per module: nothing to draw, nothing divides by zero.
    EXPECT_EQ(placeQr(29, 20, 20).module, 0);
    EXPECT_EQ(placeQr(0, 100, 100).module, 0);
}

TEST(QrEncoding, SmallestVersionAndTextKeptAsIs) {
    auto small = encodeQr("Hello");
    ASSERT_TRUE(small);
    EXPECT_EQ(small->version, 1);
    EXPECT_EQ(small->width, 21);
    EXPECT_EQ(small->modules.size(), 21u * 21u);
    EXPECT_FALSE(encodeQr(""));
    // More than the largest symbol holds (2953 bytes at level L).
    EXPECT_FALSE(encodeQr(std::string(3000, 'x')));
    EXPECT_TRUE(encodeQr(std::string(2953, 'x')));
}

TEST(QrControl, DrawsTheModulesAndReadsBackExactly) {
    qtApp();
    CQRStatic box;
    box.resize(234, 234);
    box.setText("Hello");
    ASSERT_TRUE(box.hasSymbol());
    ASSERT_EQ(box.symbol()->width, 21);
    const QImage shot = box.grab().toImage();
    // 1-pixel margin, then the finder pattern's dark ring of 11-pixel modules.
    EXPECT_TRUE(isWhite(shot.pixel(0, 0)));
    EXPECT_TRUE(isBlack(shot.pixel(1, 1)));
    EXPECT_TRUE(isBlack(shot.pixel(11, 11)));
    EXPECT_TRUE(isWhite(shot.pixel(12, 12)));  // second module of the ring's inside
    EXPECT_TRUE(isWhite(shot.pixel(233, 233)));
    // Mixed case survives: the text is never upper-cased.
    EXPECT_EQ(readQr(withQuietZone(shot, 20)), "Hello");
}

TEST(QrControl, KeepsTheFirstCodeUntilCleared) {
    qtApp();
    CQRStatic box;
    box.resize(120, 120);
    // No code: all black.
    QImage shot = box.grab().toImage();
    EXPECT_TRUE(isBlack(shot.pixel(60, 60)));
    EXPECT_TRUE(isBlack(shot.pixel(0, 0)));

    box.setText("first");
    box.setText("second");
    EXPECT_EQ(box.text(), "first");
    EXPECT_EQ(readQr(withQuietZone(box.grab().toImage(), 20)), "first");

    box.clear();
    EXPECT_FALSE(box.hasSymbol());
    box.setText("second");
    EXPECT_EQ(readQr(withQuietZone(box.grab().toImage(), 20)), "second");

    // Text too long for any code leaves the box black.
    box.clear();
    box.setText(std::string(3000, 'y'));
    EXPECT_FALSE(box.hasSymbol());
    EXPECT_TRUE(isBlack(box.grab().toImage().pixel(60, 60)));
}

TEST(TerminalQr, HalfBlocksHoldEveryModule) {
    auto symbol = encodeQr("tcp://10.0.0.1:49873");
    ASSERT_TRUE(symbol);
    const int quiet = 2;
    const int side = symbol->width + 2 * quiet;
    const auto lines = halfBlockLines(*symbol, quiet, false);
    ASSERT_EQ(static_cast<int>(lines.size()), (side + 1) / 2);
    // Read the blocks back into modules and compare.
    for (size_t l = 0; l < lines.size(); ++l) {
        const QString line = QString::fromStdString(lines[l]);
        ASSERT_EQ(line.size(), side) << l;
        for (int column = 0; column < side; ++column) {
            const QChar c = line[column];
            const bool top = c == QChar(0x2588) || c == QChar(0x2580);
            const bool bottom = c == QChar(0x2588) || c == QChar(0x2584);
            auto expected = [&](int row) {
                const int r = row - quiet, col = column - quiet;
                return r >= 0 && r < symbol->width && col >= 0 && col < symbol->width && symbol->dark(r, col);
            };
            EXPECT_EQ(top, expected(int(l) * 2)) << l << "," << column;
            EXPECT_EQ(bottom, expected(int(l) * 2 + 1)) << l << "," << column;
        }
    }
    // The terminal form wraps each line in black-on-white and resets after it.
    const auto ansi = halfBlockLines(*symbol, quiet, true);
    EXPECT_EQ(ansi.front().rfind("\x1b[30;47m", 0), 0u);
    EXPECT_TRUE(ansi.front().ends_with("\x1b[0m"));
}

TEST(PictureBox, CentredAtItsOwnSizeAndEmptyAfterAFailedLoad) {
    qtApp();
    char path[] = "/tmp/lumacro3-pic-XXXXXX.png";
    const int fd = ::mkstemps(path, 4);
    ASSERT_GE(fd, 0);
    ::close(fd);
    QImage red(10, 6, QImage::Format_RGB32);
    red.fill(Qt::red);
    red.save(QString::fromLatin1(path), "PNG");

    CImageStatic box;
    box.resize(30, 30);
    EXPECT_TRUE(box.setImage(path));
    QImage shot = box.grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(10, 12)), QColor(Qt::red));  // (30 - 10) / 2, (30 - 6) / 2
    EXPECT_EQ(QColor(shot.pixel(19, 17)), QColor(Qt::red));
    EXPECT_EQ(QColor(shot.pixel(9, 12)), QColor(Qt::white));
    EXPECT_EQ(QColor(shot.pixel(10, 18)), QColor(Qt::white));

    ::unlink(path);
    EXPECT_FALSE(box.setImage(path));
    EXPECT_TRUE(box.image().isNull());
    EXPECT_EQ(QColor(box.grab().toImage().pixel(15, 15)), QColor(Qt::white));
}
