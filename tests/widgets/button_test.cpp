#include "widgets/widgets_app.h"

#include "common/temp_dir.h"
#include "ui/widgets/artwork.h"
#include "ui/widgets/button_style.h"
#include "ui/widgets/my_button.h"

#include <QEnterEvent>
#include <QMouseEvent>

#include <gtest/gtest.h>

using testing_support::TempDir;
using namespace ui::widgets;
using widgets_test::qtApp;

namespace {

const char kSettingsStyle[] = "{'background': '#4c81d1', 'border': '#000000 0 0', 'icon': '%d'}";

void press(QWidget& w, QPoint at) {
    QMouseEvent e(QEvent::MouseButtonPress, at, w.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                  Qt::NoModifier);
    QApplication::sendEvent(&w, &e);
}
void release(QWidget& w, QPoint at) {
    QMouseEvent e(QEvent::MouseButtonRelease, at, w.mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                  Qt::NoModifier);
    QApplication::sendEvent(&w, &e);
}
void enter(QWidget& w) {
    QEnterEvent e(QPointF(2, 2), QPointF(2, 2), w.mapToGlobal(QPointF(2, 2)));
    QApplication::sendEvent(&w, &e);
}
void leave(QWidget& w) {
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(&w, &e);
}

// A solid picture file the tests can name in style strings.
std::string solidPicture(const TempDir& dir, const char* name, QColor colour, int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(colour);
    const std::string path = dir / name;
    image.save(QString::fromStdString(path), "PNG");
    return path;
}

}  // namespace

TEST(ButtonStyle, SettingsButtonStyleFromItsFormat) {
    qtApp();
    MyButton button;
    button.setStyle(kSettingsStyle, 177);
    const ButtonStateStyle& normal = button.stateStyle(MyButton::Normal);
    EXPECT_EQ(normal.backColor, QColor(0x4c, 0x81, 0xd1));
    EXPECT_EQ(normal.borderWidth, 0);
    EXPECT_EQ(normal.borderRadius, 0);
    EXPECT_EQ(normal.borderColor, QColor(0, 0, 0));
    EXPECT_EQ(normal.icon, artworkPicture(kArtSettingsIcon));
    // Keys the string does not name keep their defaults.
    EXPECT_EQ(normal.fontFace, "Arial");
    EXPECT_EQ(normal.fontSize, 10);
    // Every state starts as the normal one; the disabled icon is grey.
    EXPECT_EQ(button.stateStyle(MyButton::Hover).backColor, normal.backColor);
    EXPECT_EQ(button.stateStyle(MyButton::Pressed).icon, normal.icon);
    EXPECT_NE(button.stateStyle(MyButton::Disabled).icon, normal.icon);
    EXPECT_EQ(button.stateStyle(MyButton::Disabled).icon, greyCopy(normal.icon));
}

TEST(ButtonStyle, KeysPartsAndBadInput) {
    qtApp();
    ButtonStateStyle s;
    EXPECT_TRUE(applyStyle("{'border': '#ff0000 2 6', 'font': 'Noto Sans 14', 'textColor': '#00ff00', "
                           "'text': 'Go', 'background': '#00000000'}",
                           s, "window"));
    EXPECT_EQ(s.borderColor, QColor(255, 0, 0));
    EXPECT_EQ(s.borderWidth, 2);
    EXPECT_EQ(s.borderRadius, 6);
    EXPECT_EQ(s.fontFace, "Noto");  // the face ends at the first space
    EXPECT_EQ(s.fontSize, 10);  // "Sans 14" is no number: the size stays
    EXPECT_EQ(s.textColor, QColor(0, 255, 0));
    EXPECT_EQ(s.text, "Go");
    EXPECT_EQ(s.backColor.alpha(), 0);  // the eight-digit form: fully transparent

    EXPECT_TRUE(applyStyle("{'font': 'Arial 12'}", s, "window"));
    EXPECT_EQ(s.fontFace, "Arial");
    EXPECT_EQ(s.fontSize, 12);
    EXPECT_EQ(s.text, "window");  // no "text": the button's own text

    // Not JSON after the quote swap, or not an object: nothing changes.
    const ButtonStateStyle before = s;
    EXPECT_FALSE(applyStyle("{'background': '#123456'", s, "other"));
    EXPECT_FALSE(applyStyle("'#123456'", s, "other"));
    EXPECT_FALSE(applyStyle("[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]", s, "other"));
    EXPECT_EQ(s.text, before.text);
    EXPECT_EQ(s.backColor, before.backColor);
    // Values of the wrong type and bad colours are ignored.
    EXPECT_TRUE(applyStyle("{'background': 5, 'textColor': '#12345', 'border': 'red'}", s, "x"));
    EXPECT_EQ(s.backColor, before.backColor);
    EXPECT_EQ(s.textColor, before.textColor);
    EXPECT_EQ(s.borderWidth, before.borderWidth);
}

TEST(ButtonStyle, PicturesFromFilesAndNumbers) {
    qtApp();
    TempDir dir;
    const std::string red = solidPicture(dir, "red.png", Qt::red, 8, 4);
    ButtonStateStyle s;
    applyStyle("{'background': '" + red + "', 'icon': '175'}", s, "");
    EXPECT_EQ(s.backImage.size(), QSize(8, 4));
    EXPECT_EQ(s.icon, artworkPicture(kArtHelpIcon));
    // A missing file or an unknown number gives no picture.
    applyStyle("{'background': '" + (dir / "missing.png") + "', 'icon': '999'}", s, "");
    EXPECT_TRUE(s.backImage.isNull());
    EXPECT_TRUE(s.icon.isNull());
}

TEST(ButtonStyle, DownStyleOnTopOfTheNormalState) {
    qtApp();
    MyButton button;
    button.setText("Open");
    button.setStyle("{'background': '#4c81d1', 'text': 'Styled'}");
    button.setDownStyle("{}");
    const ButtonStateStyle& pressed = button.stateStyle(MyButton::Pressed);
    EXPECT_EQ(pressed.backColor, QColor(0x4c, 0x81, 0xd1));
    EXPECT_EQ(pressed.text, "Open");  // no "text" key: the window text
    EXPECT_EQ(button.stateStyle(MyButton::Normal).text, "Styled");
    button.setHoverStyle("{'background': '#ffffff'}");
    EXPECT_EQ(button.stateStyle(MyButton::Hover).backColor, QColor(Qt::white));
    EXPECT_EQ(button.stateStyle(MyButton::Normal).backColor, QColor(0x4c, 0x81, 0xd1));
}

TEST(ButtonStyle, GreyCopyKeepsAlpha) {
    QImage picture(1, 1, QImage::Format_ARGB32);
    picture.setPixel(0, 0, qRgba(10, 200, 40, 128));
    const QRgb grey = greyCopy(picture).pixel(0, 0);
    EXPECT_EQ(qRed(grey), 75);
    EXPECT_EQ(qGreen(grey), 75);
    EXPECT_EQ(qBlue(grey), 75);
    EXPECT_EQ(qAlpha(grey), 128);
    // Bright colours stay within range.
    picture.setPixel(0, 0, qRgba(255, 255, 255, 255));
    EXPECT_EQ(qRed(greyCopy(picture).pixel(0, 0)), 229);
}

TEST(ButtonStates, EdgeFollowsHoverAndPress) {
    qtApp();
    MyButton button;
    button.resize(40, 20);
    button.setStyle("{'background': '#4c81d1'}");  // no "border": the 3-D edge
    const QRgb light = button.palette().color(QPalette::Light).rgb();
    const QRgb dark = button.palette().color(QPalette::Dark).rgb();
    const QRgb blue = qRgb(0x4c, 0x81, 0xd1);
    ASSERT_NE(light, dark);
    auto corners = [&button] {
        const QImage shot = button.grab().toImage();
        return std::pair{shot.pixel(0, 0), shot.pixel(39, 19)};
    };

    EXPECT_EQ(button.currentState(), MyButton::Normal);
    EXPECT_EQ(corners(), std::pair(blue, blue));

    enter(button);
    EXPECT_EQ(button.currentState(), MyButton::Hover);
    EXPECT_EQ(corners(), std::pair(light, dark));  // raised

    press(button, {5, 5});
    EXPECT_EQ(button.currentState(), MyButton::Pressed);
    EXPECT_EQ(corners(), std::pair(dark, light));  // sunken

    release(button, {5, 5});
    EXPECT_EQ(button.currentState(), MyButton::Hover);
    leave(button);
    EXPECT_EQ(button.currentState(), MyButton::Normal);

    button.setEnabled(false);
    EXPECT_EQ(button.currentState(), MyButton::Disabled);
    EXPECT_EQ(corners(), std::pair(blue, blue));
}

TEST(ButtonStates, ClicksStillReachTheParent) {
    qtApp();
    MyButton button;
    button.resize(40, 20);
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&clicks] { ++clicks; });
    press(button, {5, 5});
    release(button, {5, 5});
    EXPECT_EQ(clicks, 1);
}

TEST(ButtonDrawing, IconFittedInsideTheMargin) {
    qtApp();
    TempDir dir;
    const std::string icon = solidPicture(dir, "icon.png", Qt::red, 50, 50);
    MyButton button;
    button.resize(20, 20);
    button.setStyle("{'background': '#4c81d1', 'border': '#000000 0 0', 'icon': '%s'}", icon.c_str());
    button.setLayoutMode(MyButton::IconOnly);
    button.setMargin(1);
    const QImage shot = button.grab().toImage();
    const QColor blue(0x4c, 0x81, 0xd1);
    EXPECT_EQ(QColor(shot.pixel(0, 10)), blue);
    EXPECT_EQ(QColor(shot.pixel(19, 10)), blue);
    EXPECT_EQ(QColor(shot.pixel(10, 0)), blue);
    EXPECT_EQ(QColor(shot.pixel(1, 10)), QColor(Qt::red));
    EXPECT_EQ(QColor(shot.pixel(18, 18)), QColor(Qt::red));

    // Disabled: the grey copy is drawn; a copied style keeps the colour.
    button.setEnabled(false);
    QRgb p = button.grab().toImage().pixel(10, 10);
    EXPECT_EQ(qRed(p), qGreen(p));
    EXPECT_EQ(qGreen(p), qBlue(p));

    MyButton copy;
    copy.resize(20, 20);
    copy.copyStyleFrom(button, kArtSettingsIcon);
    EXPECT_EQ(copy.layoutMode(), MyButton::IconOnly);
    EXPECT_EQ(copy.margin(), 1);
    EXPECT_EQ(copy.stateStyle(MyButton::Disabled).icon, artworkPicture(kArtSettingsIcon));
    EXPECT_EQ(copy.stateStyle(MyButton::Disabled).backColor, blue);
}

TEST(ButtonDrawing, PositiveBorderDrawsAnOutline) {
    qtApp();
    MyButton button;
    button.resize(30, 30);
    button.setStyle("{'background': '#ffffff', 'border': '#ff0000 1 0'}");
    const QImage shot = button.grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(0, 15)), QColor(Qt::red));
    EXPECT_EQ(QColor(shot.pixel(29, 15)), QColor(Qt::red));
    EXPECT_EQ(QColor(shot.pixel(15, 15)), QColor(Qt::white));
}
