// A box that shows one picture, centred at its own size, on white.
#pragma once

#include <QImage>
#include <QWidget>

#include <string>

namespace ui::widgets {

class CImageStatic : public QWidget {
public:
    explicit CImageStatic(QWidget* parent = nullptr);

    // Loads the picture file; on failure the box shows no picture and the
    // result is false.
    bool setImage(const std::string& path);
    const QImage& image() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
};

}  // namespace ui::widgets
