// The connect window's list of connected phones: for each its role
// (controlling, watching or waiting for approval), address and tag, with a
// link that disconnects it. Refreshed from the session server every second
// while shown.
#pragma once

#include "core/phone_access.h"

#include <QTimer>
#include <QWidget>

#include <functional>
#include <vector>

namespace ui::welcome {

class PhoneListView : public QWidget {
public:
    static constexpr int kRefreshMs = 1000;
    // Rows shown; further phones are counted in one last line.
    static constexpr int kMaxRows = 5;

    // `resized` is called with the new height whenever the number of rows changes.
    PhoneListView(core::PhoneDirectory& directory, double scale, std::function<void(int)> resized,
                  QWidget* parent);

    // Reads the list again; repaints and reports a new height when it changed.
    void refresh();
    const std::vector<core::PhoneEntry>& entries() const { return entries_; }
    // Height for the current rows (0 when no phone is there).
    int wantedHeight() const;
    // Where the disconnect link of row `index` was painted (after a paint).
    QRect disconnectArea(size_t index) const;
    // The texts of one row as painted: role, address, tag.
    QStringList rowTexts(size_t index) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int px(double v) const { return static_cast<int>(v * scale_); }

    core::PhoneDirectory& directory_;
    double scale_;
    std::function<void(int)> resized_;
    std::vector<core::PhoneEntry> entries_;
    std::vector<QRect> links_;
    QTimer timer_;
};

}  // namespace ui::welcome
